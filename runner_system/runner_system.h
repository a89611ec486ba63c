#pragma once

// Whole runner systems: one conformal mesh of every junction, bend and runner
// of a network of round runners, with named boundary patches.
//
// The network is a set of named points joined by runners, each with a radius
// at both ends. It is meshed point by point and runner by runner:
//
//   a point with 3+ runners  an N-way junction (vela::MeshJunction), its
//                            runners ordered by angle about the plane that
//                            fits their directions best;
//   a point with 2 runners   a bend (vela::MeshJunction) when the opening angle
//                            lies within 20..172 degrees; nearer to straight,
//                            the runner simply carries on through the point;
//                            sharper, the network is refused;
//   a point with 1 runner    an open end, with a patch of its own;
//   a runner                 a straight (or tapered) sweep between the far-end
//                            sections of the junction regions at its two ends.
//
// Every junction region reaches vela::RunnerLengths along each of its
// runners, and its far point is placed there, with the radius the runner has
// at that distance. The far-end sections of the junction regions, as the
// library numbers them, are reused node for node by the runners' sweeps:
// shared sections are joined by node identity, never by a tolerance. The two
// ends of a runner carry the same ring pattern, so their nodes are matched
// (twist and mirror included) by ring and number.
//
// Points stay doubles from the network to the mesh. This layer uses only the
// library's public headers (VelaJunction.h) and the standard library.

#include <VelaRefusal.h>
#include <Vela_SolidMesh.h>

#include <array>
#include <cstddef>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace vela::system {

using Vec3 = std::array<double, 3>;

// A runner between two named points, radius at each end (a tapered runner has
// two different radii).
struct SystemRunner {
  std::string from;
  std::string to;
  double radiusFrom = 0;
  double radiusTo = 0;
};

// The cross-section settings shared by every junction, bend and runner; the
// defaults are those of the junction files.
struct SectionSettings {
  int firstCircleNodes = 8;
  std::vector<double> innerLayers{0, 0.25, 0.5, 0.75, 1};
  std::vector<double> outerLayers{0, 0.5, 1};
  double innerShare = 0.8;
  double outerShare = 0.2;
};

struct RunnerNetwork {
  std::string name;
  std::vector<std::pair<std::string, Vec3>> points;  // name and position, in input order
  std::vector<SystemRunner> runners;
  // Patch names of open ends by point name; an open end without a name gets
  // "end-<point>".
  std::vector<std::pair<std::string, std::string>> endNames;
  SectionSettings section;
  int marginA = 5;  // RunnerLength margin a/b (integer division, as the library takes it)
  int marginB = 1;
  // Target element length along plain runners. A runner of length L between
  // two junction regions gets max(1, round(L / axialSize)) layers, half way
  // (within a billionth of a layer) rounding down.
  double axialSize = 1.0;
};

enum class RegionKind { Junction, Bend, Runner };

// Where an element came from: "junction at s", "bend at a", "runner s-a".
struct Region {
  RegionKind kind = RegionKind::Runner;
  std::string name;
};

// One element in the library's corner order (Vela_SolidMesh.h), 0-based node
// indices; corners is 4, 5, 6 or 8 and entries past it are -1.
struct SystemElement {
  int corners = 0;
  std::array<int, 8> nodes{};
  int region = 0;  // index into SystemMesh::regions
};

// One boundary face, wound outward (counter-clockwise seen from outside);
// corners is 3 or 4 and nodes[3] is -1 for a triangle.
struct BoundaryFace {
  int corners = 0;
  std::array<int, 4> nodes{};
  int patch = 0;  // index into SystemMesh::patches
};

struct SystemMesh {
  std::vector<Vec3> nodes;
  std::vector<SystemElement> elements;
  std::vector<Region> regions;
  std::vector<std::string> patches;  // patches[0] is "wall", then one per open end
  std::vector<BoundaryFace> faces;   // every boundary face, exactly once, grouped by patch
};

// Why a network was not meshed: a reason name (below) and one line that
// names the point or runner and the problem.
//
//   no-runners        the network has no runner;
//   duplicate-point   two points share a name;
//   unknown-point     a runner names a point that is not in the network;
//   runner-degenerate a runner from a point to itself, or of no length, or
//                     two runners between the same two points;
//   radius            a radius not finite or not above zero;
//   non-finite        a point coordinate not finite;
//   settings          the section settings or the axial size are unusable;
//   unknown-end       an end name for a point that is not an open end;
//   name-clash        two runners or two open ends would carry one name (a
//                     runner is named "from-to"; an unnamed end "end-<point>");
//   disconnected      the runners do not all hang together: mesh each piece
//                     as a network of its own;
//   point-too-sharp   two runners meeting at an opening below 20 degrees;
//   runner-too-short  the junction regions at a runner's two ends overlap
//                     (the message gives the runner's length, both extents
//                     and what to change: the open end to move, or the
//                     smallest margin a/1 that gives the runner room);
//   runners-cross     two runners that share no point come closer than the
//                     sum of their largest radii;
//   junction          the library refused a junction or bend; the message
//                     carries the library's reason in its words, the runners
//                     named "from-to", and the point to move where that helps;
//   section-mismatch  a junction's far-end section is not the network's
//                     section, or does not meet the section at the runner's
//                     other end face for face;
//   runner-inverted   a runner's sweep would turn an element inside out (a
//                     twist or mitre too strong for its layers);
//   too-large         the estimate of the memory the whole system takes (its
//                     junctions, bends and runners) passes
//                     BuildOptions::memoryLimit (value and limit in bytes),
//                     or the system, or one of its junctions, has more nodes
//                     or elements than an int numbers (a count).
// section-mismatch and runner-inverted are faults of this layer, reported
// rather than handed over.
//
// Besides the line, the record carries what a program needs to act on it
// without reading the words: the point and the runner concerned, the
// library's own reason when a junction or the section settings were refused,
// and the measure against its bound where one was taken.
struct SystemRefusal {
  std::string reason;
  std::string message;
  std::string point;   // the point concerned, or ""
  std::string runner;  // the runner concerned, named "from-to", or ""
  // The library's reason for "junction", for "settings" that the library's
  // check of the section refused, and for a junction's "too-large"; None
  // otherwise.
  Refusal junctionReason = Refusal::None;
  // What was measured and the bound it broke (an opening in degrees, a
  // runner's length against the regions at its ends, the estimated bytes
  // against the memory bound, ...): NaN and Unit::None where nothing was.
  double value = std::numeric_limits<double>::quiet_NaN();
  double limit = std::numeric_limits<double>::quiet_NaN();
  JunctionRefusal::Unit unit = JunctionRefusal::Unit::None;
};

struct SystemCounts {
  int junctions = 0;
  int bends = 0;
  int runners = 0;
};

struct SystemOutcome {
  bool ok = false;
  SystemRefusal refusal;  // when !ok
  SystemMesh mesh;        // when ok
  SystemCounts counts;
};

struct BuildOptions {
  // Threads meshing junctions and bends at once; 0 takes the hardware's
  // count, 1 meshes on the caller's thread. The mesh does not depend on it.
  int threads = 0;
  // Called on the calling thread as the work goes on, with the junctions,
  // bends and runners done so far out of all of them; may be empty.
  std::function<void(int done, int total)> progress;
  // The most memory the system may take, in bytes; 0 for no bound. Before
  // anything is meshed, the library's estimate of every junction and bend
  // and this layer's of every runner are added up; a system whose sum passes
  // the bound is refused as too-large, the sum against the bound in bytes,
  // so that a typo in a ring count is refused in a moment instead of taking
  // the machine down. A system with more nodes or elements than an int
  // numbers is refused whatever the bound.
  double memoryLimit = 0.0;
  // Every junction and bend exactly as the library's class constructs it,
  // instead of the improved construction (mitred bends, walls on the
  // channel, smoothed cells).
  bool asConstructed = false;
};

SystemOutcome MeshRunnerSystem(const RunnerNetwork& network, const BuildOptions& options = {});

// Hands the volume mesh to a host container in the library's order:
// SetMeshSize, every node, every element.
void WriteSolidMesh(const SystemMesh& mesh, CVela_SolidMesh& out);

}  // namespace vela::system
