#pragma once

// The junction calls on standard types.
//
// The same construction as CVelaRunnerMapping's, for hosts that hold their
// geometry in doubles and want the mesh as a value: points are
// std::array<double, 3> and never narrowed to float, lists are std::vector,
// and a call answers with one value, the mesh or the reason it was refused.
//
//   vela::JunctionInput tee;
//   tee.farPoints = {{20, 0, 0}, {0, 20, 0}, {-20, 0, 0}};
//   tee.radii = {2, 2, 1.5, 1.5, 2, 2};
//   const vela::JunctionResult result = vela::MeshJunction(tee);
//   if (!result.ok()) std::puts(vela::RefusalMessage(result.refusal).c_str());
//   // result.mesh.nodes, result.mesh.elements, result.mesh.farSections
//
// Threads: the calls keep nothing between them that changes a result. Each
// thread keeps the working arrays of its largest junction so far, so that
// its later junctions allocate little; calls on different threads run side
// by side.
//
// Exceptions: std::bad_alloc only. Every fault of the input is a refusal.

#include "VelaExport.h"
#include "VelaRefusal.h"

#include <array>
#include <vector>

namespace vela {

using Point3 = std::array<double, 3>;

// How every cross-section of a junction is meshed: a centre node, C inner
// rings (ring k carries k*firstRing nodes) at the normalised positions
// innerLayers[1..C] of the inner disc, and B boundary layers of C*firstRing
// nodes each at outerLayers[1..B] of the rest of the radius. The defaults are
// those of the junction files.
struct CrossSection {
  int firstRing = 8;                                   // F: even, 4 or more
  std::vector<double> innerLayers{0, 0.25, 0.5, 0.75, 1};  // 0 first, rising to 1
  std::vector<double> outerLayers{0, 0.5, 1};          // empty or one position: no boundary layers
  double innerShare = 0.8;                             // the inner disc's share of the radius
  double outerShare = 0.2;                             // the boundary layers' share; the two add up to 1
};

struct JunctionInput {
  Point3 center{};
  // The far end of every runner, in order around the junction: two make a
  // bend, three or more an N-way junction.
  std::vector<Point3> farPoints;
  // Two per runner, in the order of farPoints: its radius at the far end,
  // then at the junction end.
  std::vector<double> radii;
  CrossSection section;
};

struct JunctionOptions {
  // The mesh exactly as CVelaRunnerMapping constructs it. Off (the default),
  // the improved construction:
  // - a bend whose turn leaves its legs room is mitred: two straight legs
  //   meeting in one elliptical section on the plane that bisects the bend
  //   (at the narrower leg's radius, the wider narrowing to it over its last
  //   layer, so that no wall stands outside either runner),
  //   all prisms and hexahedra, which keeps its cells well shaped where the
  //   half-section corner makes slivers of a gentle turn, and meshes a
  //   straight pass (an opening up to 180 degrees) too. A bend that misses
  //   a flow solver's floors (below) by its construction, mitre or corner,
  //   is meshed by the other too where that applies, and the better kept:
  //   near 60 degrees, where one gives way to the other, either may make
  //   the better cells. A bend under 90 degrees that both leave under the
  //   floors is fanned round the crease where its runners' walls cross:
  //   each leg straight to a pivot just outside the crease, then its
  //   sections, each the channel's own cut, turning about the pivot to the
  //   bisecting plane; the best of all is kept;
  // - an N-way junction's sections grow across the junction plane only as
  //   far as the channel the runners are machined to reaches there, and do
  //   not bulge;
  // - runners that leave the junction plane by more than 10 degrees, or span
  //   no plane, meet in a hub: each runner owns the cone of directions
  //   nearer to it than to any other, and its branch ends folded onto that
  //   cone's faces, with the wall on the channel;
  // - an N-way junction whose planar mesh, finished, still misses a flow
  //   solver's floors (a corner scaled Jacobian under 0.2, or a wall node
  //   more than 2 % of its radius outside the channel) is swept again with
  //   each branch leaning back from its neighbours only within twice the
  //   stretch from the centre to where its wall meets theirs, square to the
  //   runner beyond (a long branch between close neighbours is then not
  //   sheared all the way out), and meshed as a hub too; the mesh that meets
  //   more of the floors is kept (the wall on the channel first, then the
  //   better worst cell). This costs more junctions, only where the first
  //   falls short;
  // - a finishing pass, with the connectivity kept, brings wall nodes still
  //   outside the channel onto it and smooths the worst cells, never below
  //   a scaled Jacobian of 0.25 (or a cell's own, if lower); the far-end
  //   sections and the centre's node stay where they are. Cells are judged
  //   as a solver's scaled Jacobian judges them: a hexahedron at its centre
  //   too, a pyramid by the four tetrahedra its base's diagonals cut.
  bool asConstructed = false;
  // Takes the points as CVelaRunnerMapping does: narrowed to float on entry,
  // differences of points formed in single precision, the runners turned
  // into the junction plane stored as floats. With asConstructed the mesh is
  // the class's, node for node and bit for bit. Off, every point stays a
  // double.
  bool singlePrecisionPoints = false;
  // The most memory a call may take, in bytes; 0 for no bound but what an
  // int numbers. A junction whose estimate passes it is refused as
  // too-large, with the estimate and the bound (Unit::Bytes), before
  // anything is allocated: a typo in a ring count must not take the machine
  // down.
  double memoryLimit = 0.0;
};

// The value of each kind is its number of corners.
enum class ElementKind : int { Tetra = 4, Pyramid = 5, Prism = 6, Hexa = 8 };

struct Element {
  ElementKind kind = ElementKind::Hexa;
  // 0-based node numbers in the corner order of Vela_SolidMesh.h; entries
  // past the kind's corner count are -1.
  std::array<int, 8> corners{-1, -1, -1, -1, -1, -1, -1, -1};

  int CornerCount() const { return static_cast<int>(kind); }
};

struct JunctionMesh {
  std::vector<Point3> nodes;
  std::vector<Element> elements;
  // Per runner, in the order of the far points: the node numbers of its
  // far-end cross-section, where a plain runner joins the junction, in ring
  // order: the centre node, then ring 1 (F nodes) from angle 0, ring 2 (2F
  // nodes) from angle 0, and so on to ring C, then each boundary layer's C*F
  // nodes from angle 0. Every ring turns the same way about the runner.
  std::vector<std::vector<int>> farSections;
  // Nodes the sweeps made before the copies that neighbouring pieces share
  // were merged, and the distance within which they were merged.
  int nodesBeforeMerge = 0;
  double mergeTolerance = 0.0;
};

struct JunctionResult {
  JunctionRefusal refusal;  // reason Refusal::None when the junction was meshed
  JunctionMesh mesh;        // empty when it was refused

  bool ok() const { return refusal.reason == Refusal::None; }
};

// Meshes a bend for two runners and an N-way junction for three or more. The
// refusals, their order and their bounds are those of
// CVelaRunnerMapping::NConnectRunner and TwoConnectRunner (VelaRunnerMapping.h),
// but for null-pointer, which a value cannot be; fewer than two runners are
// too-few-runners. A meshed junction is sound in every sense the class
// promises.
VELA_API JunctionResult MeshJunction(const JunctionInput& input, const JunctionOptions& options = {});

// How far along each runner, from the centre, the junction region reaches:
// for runner i, beyond where its cylinder (sized with the largest radius)
// stops running into either neighbour's, plus the largest radius divided by
// marginA / marginB in integer division. radii holds one per runner. Empty
// for marginB = 0, or when radii is shorter than farPoints.
VELA_API std::vector<double> RunnerLengths(const Point3& center, const std::vector<Point3>& farPoints,
                                           const std::vector<double>& radii, int marginA, int marginB);

// The node pattern of one cross-section of unit radius about +z, in the ring
// order of JunctionMesh::farSections: the nodes' places in the section's
// plane (x, y), and its faces as indices into them, counter-clockwise seen
// from +z, a triangle's fourth index -1. Empty for settings a junction call
// refuses (RefusalOf tells which).
struct SectionPattern {
  std::vector<std::array<double, 2>> places;
  std::vector<std::array<int, 4>> faces;
};
VELA_API SectionPattern MakeSectionPattern(const CrossSection& section);

// Why these section settings are refused, or Refusal::None.
VELA_API JunctionRefusal CheckCrossSection(const CrossSection& section);

}  // namespace vela
