#pragma once

// The pieces of MeshRunnerSystem, in the order a network goes through them:
//
//   PlanNetwork        what each point is, the runners around each junction,
//                      how far each junction region reaches (network_plan.cpp)
//   MeshRegions        the junctions and bends through the library, on a few
//                      threads, and the far-end section of every runner they
//                      reach into (junction_regions.cpp)
//   JoinSections       which node of one section a node of another joins
//                      when a runner is swept between them (section_match.cpp)
//   SweepRunnerInto    the plain runner between two sections, written where
//                      the plan of the sweeps put it (runner_sweep.cpp)
//   FindBoundary       boundary faces and their patches (system_boundary.cpp)

#include "runner_system.h"

#include <VelaJunction.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace vela::system::detail {

constexpr double kPi = 3.14159265358979323846;

// --- small vector helpers ---------------------------------------------------------------------
inline Vec3 Add(const Vec3& a, const Vec3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
inline Vec3 Sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
inline Vec3 Scale(const Vec3& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
inline double Dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline double Norm(const Vec3& a) { return std::sqrt(Dot(a, a)); }
inline Vec3 Unit(const Vec3& a) { return Scale(a, 1.0 / Norm(a)); }
// A unit vector square to the unit vector axis.
Vec3 AnySquareTo(const Vec3& axis);

// --- sections -----------------------------------------------------------------------------------
// The section settings as the library takes them.
CrossSection ToCrossSection(const SectionSettings& settings);

// A face of a section, by index into the section's node list; a triangle has
// corners 3 and face[3] unused.
struct SectionFace {
  int corners = 0;
  std::array<int, 4> at{};
};

// A cross-section of a runner: its nodes (global numbers) with their places,
// and its faces, wound counter-clockwise seen from the side axis points to.
// The nodes are in the library's ring order (the centre, then every ring and
// boundary layer from its angle-0 node on, all turning the same way), which
// is what lets two sections be joined by their numbers alone.
struct Section {
  Vec3 origin{};
  Vec3 axis{};
  double radius = 0;
  std::vector<int> nodes;
  std::vector<Vec3> places;
  std::vector<SectionFace> faces;
  // How far from the section, along the runner, the centre of the nearest
  // cell on it of the region it ends lies; none at an open end. A runner's
  // layers next to it stay thin enough to match (LayerShares).
  double regionCell = std::numeric_limits<double>::infinity();
};

// Where the sections of a runner of `layers` layers between two sections
// lie, as shares of its length, 0 to 1: evenly spaced, unless a region's
// cells on an end section are so thin that an even layer would put a face
// between a centre more than 16 times nearer to it on one side than on the
// other (an interpolation weight under 1/17, which solvers flag under
// 0.05). Then the layers start at 32 times that end's regionCell and grow
// by a quarter a layer until the rest is even. Empty when the layers are
// even, or when there are too few to grow (the even layers are then kept).
std::vector<double> LayerShares(double length, int layers, double fromCell, double toCell);

// How the nodes of every section of a network fall into rings: the node
// count of each ring in ring order, the centre's 1 first. Ring k of the
// inner disc has k*steps nodes and every boundary layer as many as the last
// inner ring, so a turn by one step of the pattern (1/steps of a turn)
// moves the nodes of a ring of n nodes on by n/steps.
struct SectionRings {
  int steps = 0;
  std::vector<int> sizes;
  int NodeCount() const;
};

// The unit section the library makes with these settings, about +z at the
// origin (nodes -1: not in a mesh yet), and its rings; a settings refusal,
// with the library's reason, for settings it does not take.
std::optional<SystemRefusal> ReferenceSection(const SectionSettings& settings, Section& out,
                                              SectionRings& rings);

// --- the plan -----------------------------------------------------------------------------------
enum class PointKind { Unused, End, Straight, Bend, Junction };

// One runner as it leaves a point: the runner's index, the point at its
// other end, and the radius at this end and at the other.
struct RunnerEnd {
  int runner = 0;
  int otherPoint = 0;
  Vec3 direction{};  // unit, from this point towards the other
  double length = 0;
  double radiusHere = 0;
  double radiusThere = 0;
  double extent = 0;  // how far the region at this point reaches along the runner
  bool atFrom = false;  // whether this point is the runner's `from`
  // The radius at the extent, interpolated along the runner.
  double RadiusAtExtent() const { return radiusHere + (radiusThere - radiusHere) * (extent / length); }
};

struct PlannedPoint {
  std::string name;
  Vec3 at{};
  PointKind kind = PointKind::Unused;
  std::vector<RunnerEnd> ends;  // a junction's in order around it
};

struct NetworkPlan {
  std::vector<PlannedPoint> points;
  // For every runner, its end at the from point and at the to point (in that
  // order), as (point index, index into that point's ends).
  std::vector<std::array<std::pair<int, int>, 2>> runnerEnds;
  // The network's section pattern, as a unit section about +z, and its rings.
  Section reference;
  SectionRings rings;
};

// Builds the plan, or names why the network cannot be meshed. The section
// settings are checked, but the section itself (plan.reference and
// plan.rings) is left for ReferenceSection, once CheckSystemSize has said
// that the system fits: a typo in a ring count makes a section of millions
// of nodes.
std::optional<SystemRefusal> PlanNetwork(const RunnerNetwork& network, NetworkPlan& plan);

// --- size ---------------------------------------------------------------------------------------
// The nodes and faces of the network's section, from the settings alone
// (settings CheckCrossSection takes), in doubles so that no count overflows.
struct SectionCount {
  double nodes = 0;
  double faces = 0;
};
SectionCount CountSection(const SectionSettings& settings);

// The layers of a runner with this gap between its end sections: the nearest
// whole number of axial sizes, at least one (runner_system.cpp says how a
// tie rounds).
int LayerCount(double gap, double axialSize);

// too-large when the system's counts pass what an int numbers, or when the
// estimate of its memory passes memoryLimit (0: no bound): the library's
// estimate of each junction and bend, and for the runners' sweeps what a
// node and an element cost over a run of vela-mesh system.
std::optional<SystemRefusal> CheckSystemSize(const RunnerNetwork& network, const NetworkPlan& plan,
                                             double memoryLimit);

// A junction or bend of the plan as the library takes it: the far points at
// the region's extents, with the radius each runner has there.
JunctionInput RegionInput(const PlannedPoint& point, const CrossSection& cross);

// --- meshes -------------------------------------------------------------------------------------
// A junction or bend meshed by the library, kept as the library hands it
// until it is written into the system's arrays: its nodes and elements
// (numbered within the piece), its boundary faces (outward, as
// BoundaryFaceRows gives them; patch unused) and the far-end section of each
// of its runners, in the point's order.
struct RegionPiece {
  int point = 0;
  std::vector<Vec3> nodes;
  std::vector<Element> elements;
  std::vector<BoundaryFace> boundary;
  std::vector<Section> farSections;
};

// Meshes every junction and bend of the plan. On a refusal, names the point,
// the runner concerned and the library's reason.
std::optional<SystemRefusal> MeshRegions(const NetworkPlan& plan, const SectionSettings& settings,
                                         const BuildOptions& options, std::vector<RegionPiece>& out);

// --- joining sections ---------------------------------------------------------------------------
// How the nodes of section `from` join those of section `to` when a runner
// is swept from one to the other along the line between their origins: for
// each node of `from`, the index of the node of `to` it joins, and the turn
// about the runner's axis from the one to the other (radians). Of the turns
// by which the pattern meets itself, the smallest is taken, the positive one
// of two equal. Empty join when the two do not carry the same pattern face
// for face.
struct SectionJoin {
  std::vector<int> to;
  double twist = 0;
};
SectionJoin JoinSections(const Section& from, const Section& to, const SectionRings& rings);

// --- sweeping runners ---------------------------------------------------------------------------
// What the sweep of a runner through `layers` layers adds to the system: the
// nodes of its inner sections (those at its ends are the sections'), an
// element per face of the section and layer, and its boundary faces (both
// end sections and, each layer, a side face per rim edge of the section).
struct SweepSize {
  std::size_t nodes = 0;
  std::size_t elements = 0;
  std::size_t faces = 0;
};
SweepSize SizeOfSweep(const Section& from, std::size_t rimEdges, int layers);

// The edges of a section's faces that no other face shares: its rim.
std::size_t RimEdgeCount(const std::vector<SectionFace>& faces);

// Writes the runner swept from `from` through `layers` layers to the section
// `to`, joined as join says, into room made for it (SizeOfSweep): its inner
// sections' nodes to nodes[0..], numbered from firstNode on, its elements to
// elements[0..] and its boundary faces (the side and both end sections,
// outward, patch 0) to faces[0..]. Interior sections lie where LayerShares
// places them, turn by their share of the twist and take a linearly
// interpolated radius. Returns whether every corner of every element turns
// positively, as AllPositive judges.
bool SweepRunnerInto(const Section& from, const Section& to, const SectionJoin& join, int layers, int region,
                     int firstNode, Vec3* nodes, SystemElement* elements, BoundaryFace* faces);

// The same, appended to mesh and boundary.
void SweepRunner(const Section& from, const Section& to, const SectionJoin& join, int layers,
                 int region, SystemMesh& mesh, std::vector<std::vector<int>>& boundary);

// A section like `like` (same faces and pattern) placed at origin about axis
// with the given radius, its nodes numbered from nextNode on (which moves
// past them); their places are the section's, for the caller to write. The
// pattern is carried over without a turn: the node at like's offset v lands
// at offset v turned from like.axis onto axis. When mitre is given (a unit
// vector), the nodes are then pushed along axis onto the plane through
// origin square to mitre.
Section PlaceSection(const Section& like, const Vec3& origin, const Vec3& axis, double radius,
                     const Vec3* mitre, int& nextNode);

// Runs work(task) for every task in 0..tasks-1 on up to `threads` threads (0:
// the hardware's count), the caller's among them; caller(task) is called on
// the calling thread after each task it ran itself (may be empty). The first
// exception a task throws is thrown again on the calling thread once every
// thread is done.
void RunTasks(int threads, std::size_t tasks, const std::function<void(std::size_t)>& work,
              const std::function<void(std::size_t)>& caller = {});

// --- boundary -----------------------------------------------------------------------------------
// The boundary of the whole from the boundaries of its regions: a face that
// two regions share is inside and goes; every other keeps its winding and
// gets its patch: that of the end section whose nodes it lies on, else 0
// (wall). endNodes[i] holds the nodes of patch i + 1; every node lies below
// nodeCount. The faces come in the order of regionFaces, grouped by patch.
// sectionOf, when given, numbers the section where regions meet that each
// node lies on, -1 for a node on none: a face with a corner on none is taken
// as found once, and a face is matched only with those of its section.
std::vector<BoundaryFace> FindBoundary(const std::vector<BoundaryFace>& regionFaces,
                                       const std::vector<std::vector<int>>& endNodes, std::size_t nodeCount,
                                       const std::vector<int>* sectionOf = nullptr);
// The same from faces as corner lists.
std::vector<BoundaryFace> FindBoundary(const std::vector<std::vector<int>>& regionFaces,
                                       const std::vector<std::vector<int>>& endNodes);

// The faces used by one element only, wound outward, in element order.
std::vector<BoundaryFace> BoundaryFaceRows(const std::vector<SystemElement>& elements);
std::vector<BoundaryFace> BoundaryFaceRows(const std::vector<Element>& elements);
// The same as corner lists.
std::vector<std::vector<int>> BoundaryFaces(const std::vector<SystemElement>& elements);

// The outward faces of an element in the library's corner order.
std::vector<std::vector<int>> OutwardFaces(const SystemElement& element);

// Whether every corner of every element from `first` on turns positively.
bool AllPositive(const SystemMesh& mesh, std::size_t first);

}  // namespace vela::system::detail
