#pragma once

// vela-mesh as a host of the library: one junction file in, one meshed
// junction out, through the same calls any host makes.

#include "junction_file.h"
#include "mesh_file.h"

#include <VelaRefusal.h>

#include <string>
#include <vector>

namespace vela::cli {

struct MeshedJunction {
  bool ok = false;          // false: the library refused the junction
  vela::JunctionRefusal refusal;  // why, when it did
  io::MeshDocument document;  // with its patches: the wall and each runner's far-end section
  long long nodesBeforeMerge = 0; // what the branches (and corner) stored before merging
};

// Meshes the junction through the value API (junction_call.h), in doubles:
// a bend for two runners, an N-way junction for more, and names its
// boundary's patches (junction_boundary.h). memoryLimit bounds the call as
// JunctionOptions::memoryLimit does (0: no bound); below 0 it is half the
// machine's memory (host::DefaultMemoryLimit). Exceptions of the library
// (std::bad_alloc for a junction too large for the memory) pass through.
MeshedJunction MeshJunction(const io::JunctionFile& junction, double memoryLimit = -1.0, bool asConstructed = false);

// The smallest scaled Jacobian of a straight runner swept with the
// junction's section (its first ring, layers and shares): the cells every
// runner end of a junction or system with that section has, so the best any
// of them can reach, whatever its runners' angles. NaN when the library
// refuses the straight runner.
double SectionScaledJacobian(const io::JunctionFile& junction);

// Where that is under the floor, a line saying so and what gives the
// section better cells; empty where it is not.
std::string SectionFloorLine(const io::JunctionFile& junction, double floor);

}  // namespace vela::cli
