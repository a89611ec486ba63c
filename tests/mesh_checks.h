#pragma once

// The check of a whole mesh shared by every end-to-end test: the quality
// report of vela-mesh check (tools/quality), which shares no code with the
// library, finds no fault in it. Two nodes within mergeTol of each other on
// every axis count as coincident (0: only nodes at one point).

#include "memory_mesh.h"

void ExpectSoundMesh(const MemoryMesh& mesh, double mergeTol);
