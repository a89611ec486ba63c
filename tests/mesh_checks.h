#pragma once

// Checks of a whole mesh, shared by every end-to-end test.

#include "MemoryMesh.h"

#include <array>
#include <string>

struct MeshCounts {
  int nodes, hexa, prism, pyramid, tetra;
};

void ExpectCounts(const MemoryMesh& mesh, const MeshCounts& expected);
// Every corner refers to an existing node and no element repeats a node.
void ExpectValidNodeRefs(const MemoryMesh& mesh);
// Every face is used by at most two elements, and two elements that share a
// face run round it in opposite turns.
void ExpectConformal(const MemoryMesh& mesh);
// Every corner Jacobian of every element is positive.
void ExpectPositiveOrientation(const MemoryMesh& mesh);
// No two nodes lie within tol of each other on every axis.
void ExpectNoCoincidentNodes(const MemoryMesh& mesh, double tol);
// All of the above.
void ExpectSoundMesh(const MemoryMesh& mesh, double mergeTol);

// Writes the mesh as a JSON dump under $VELA_TEST_DUMP_DIR, when that is set,
// so that a failing mesh can be opened and looked at.
void DumpMeshForInspection(const MemoryMesh& mesh, const std::string& name);
