#pragma once

// One junction handed to the library the way a host hands it, in either of
// its two doors: the exported class (the far points and centre narrowed to
// floats, the layer lists and first ring set on the mapper,
// TwoConnectRunner for a bend and NConnectRunner for more runners), or the
// value API in doubles. vela-mesh, the tests and the benchmarks all mesh
// junction files through here, so that none of them builds the calls its
// own way.

#include "junction_file.h"

#include <VelaJunction.h>
#include <VelaRefusal.h>
#include <VelaRunnerMapping.h>

#include <vector>

namespace vela::host {

// Which call meshes the junction: by default a bend for exactly two runners.
enum class Call { ByRunnerCount, NWay, Bend };

struct CallResult {
  bool ok = false;
  JunctionRefusal refusal;           // why, when the library refused
  std::vector<ON_3fPoint> farNodes;  // NConnectRunner's far nodes, one per runner
};

// The junction with its far points where the library is to see them: a
// file with "extent": "runner-length" gets each far point moved along its
// direction from the centre to its runner's length (RunnerLength with the
// file's margin and the larger of each runner's two radii), and comes back as
// AsGiven; any other junction comes back unchanged. A far point on the centre
// has no direction and stays, for the library to refuse.
io::JunctionFile PlaceFarPoints(const io::JunctionFile& junction);

// Sets the first ring and the layer lists on mapper, then meshes the junction
// into mesh (its far points placed first, as PlaceFarPoints does). The
// library's exceptions (std::invalid_argument for an empty far-point list,
// std::bad_alloc) pass through.
CallResult MeshJunction(const io::JunctionFile& junction, CVela_SolidMesh& mesh,
                        CVelaRunnerMapping& mapper, Call call = Call::ByRunnerCount);

// The same with a fresh mapper.
CallResult MeshJunction(const io::JunctionFile& junction, CVela_SolidMesh& mesh,
                        Call call = Call::ByRunnerCount);

// The value API's options that give the exported class's mesh, bit for bit.
inline constexpr JunctionOptions kAsClass{true, true};

// The memory a junction may take when the caller names no bound: half of
// what the machine has, so that a typo in a ring count is refused with its
// estimate instead of taking the machine down. 0 where the machine does not
// say.
double DefaultMemoryLimit();

// The junction (its far points placed) as the value API takes it.
JunctionInput InputOf(const io::JunctionFile& junction);

// Meshes the junction (far points placed) through the value API: a bend for
// two runners, an N-way junction for more.
JunctionResult MeshValue(const io::JunctionFile& junction, const JunctionOptions& options = {});

// The angle-0 node of each runner's outermost ring in a meshed junction: the
// first node of the last ring of its far-end section.
std::vector<Point3> FarNodes(const io::JunctionFile& junction, const JunctionMesh& mesh);

// Runner lengths from the boundary-type RunnerLength, with the file's margin
// and each runner's far-end radius. Empty when the margin divisor is 0.
std::vector<double> RunnerLengths(const io::JunctionFile& junction);

}  // namespace vela::host
