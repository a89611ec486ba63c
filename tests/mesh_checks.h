#pragma once

// Checks of a whole mesh, shared by every end-to-end test.

#include "memory_mesh.h"

// Expects of the mesh that:
// - every corner refers to an existing node and no element repeats a node;
// - every face is used by at most two elements, and two elements that share a
//   face run round it in opposite turns;
// - every corner Jacobian of every element is positive;
// - no two nodes lie within mergeTol of each other on every axis (0: no two
//   nodes are the same point).
void ExpectSoundMesh(const MemoryMesh& mesh, double mergeTol);
