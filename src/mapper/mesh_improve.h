#pragma once

// Better cells and a wall on the channel, from the same connectivity: the
// value API's finishing pass over a merged junction.
//
// The sweeps lean and widen a junction's sections so that they give way to
// their neighbours. That leaves some wall nodes outside the channel the
// runners are machined to, and flattens cells where many branches meet.
// ImproveMesh moves nodes, never the connectivity:
//   1. the worst cells first, within a bound of work, the nodes of cells
//      under 0.3 move where the worst corner of the cells around them is
//      best: inside towards the middle of their neighbours and along the
//      junction's axes, on the wall sliding on the channel (where the worst
//      cell round a node stays as it is, where its corners under 0.3 stand
//      furthest from flat, summed);
//   2. every wall node outside the channel goes onto it, the nearest point
//      of the channel's surface, and the nodes inside follow it (each by
//      its edge neighbours' moves, the shortest edges weighing most), so
//      that the layers along the wall keep their thickness; then 1 again.
// No cell may fall under the floor a solver wants (or under what it had,
// when it had less), no corner may turn over and no edge may shrink to half
// its length, and no cell whose centre lay inside every face's triangles
// (a finite-volume solver's split of it into tetrahedra) may lose that: a
// move that would is taken part way or not at all. Where that leaves the
// wall more than 2 % of the radius outside (a hairpin's overlapping runners,
// whose cells there are poor as swept), the wall moves again on easier
// terms: a cell already under the solver's floor may lose up to half its
// shape, and, in a mesh with such a cell, any other may fall to the floor
// without the margin. The fixed
// nodes (the far-end sections, so that runners join them node for node, and
// the centre's node) never move.

#include <VelaJunction.h>

#include <array>
#include <vector>

namespace vela {

// The floors a flow solver wants of a junction: no cell flatter than this
// scaled Jacobian at any corner, and the wall no further outside the channel
// than this share of the local radius.
constexpr double kSolverCorner = 0.2;
constexpr double kSolverWall = 0.02;

// A runner as machined: a tapered cylinder from the junction centre to its
// far point, with a ball of its radius at each end.
struct MachinedRunner {
  Point3 far{};
  double junctionRadius = 0.0;
  double farRadius = 0.0;
  Point3 axis{};        // unit, from the centre towards the far point
  double length = 0.0;  // from the centre to the far point
};

// The channel of a junction: the union of its machined runners.
struct Channel {
  Point3 center{};
  std::vector<MachinedRunner> runners;
  // Three unit vectors square to each other that turn and move with the
  // runners: the directions a node's search steps along, so that a moved
  // and turned junction is smoothed the same way.
  std::array<Point3, 3> frame{};

  // How far p lies outside the channel (negative inside); localRadius, when
  // given, receives the radius of the runner nearest p, at the end p is
  // nearer.
  double Outside(const Point3& p, double* localRadius = nullptr) const;
  // The nearest point of the channel's surface to p.
  Point3 Project(const Point3& p) const;
};

Channel ChannelOf(const Point3& center, const std::vector<Point3>& farPoints, const std::vector<double>& radii);

// What the pass did: the worst corner before and after, and the wall's
// largest distance outside the channel as a share of the local radius.
struct ImproveReport {
  double worstBefore = 0.0, worstAfter = 0.0;
  double wallBefore = 0.0, wallAfter = 0.0;
  bool moved = false;  // whether any node may have moved
};

// How the smoothing works: node searches for each poor cell, for at most so
// many of the poorest cells, and whether faces are judged as a finite-volume
// solver judges them. The defaults are the bound that every census run
// stayed sound under with the planar and the bend constructions; they judge
// cells by their corners alone, as judging faces too keeps many of their
// walls outside the channel.
struct Smoothing {
  size_t poorCells = 200;
  int searchesPerCell = 8;
  // No face may grow skewer than a solver's limit with a margin (or than it
  // was as swept, where it was skewer already), and a face's
  // non-orthogonality counts in its two cells' shape: a face past about 66
  // degrees makes them poor, and none may pass 70 that was not past it.
  bool solverFaces = false;
};

// Improves mesh in place; fixed marks the nodes that stay, by node number.
ImproveReport ImproveMesh(JunctionMesh& mesh, const Channel& channel, const std::vector<char>& fixed,
                          const Smoothing& smoothing = {});

// The smallest corner Jacobian of an element over the product of its three
// edge lengths, scaled so that the element's ideal shape scores 1: 0 flat,
// negative turned over. A hexahedron's Jacobian at its centre counts too,
// and a pyramid's four tetrahedra, as a solver's scaled Jacobian counts
// them. Stops at the first corner not above stopAt.
double WorstCorner(const std::vector<Point3>& nodes, const Element& element, double stopAt = -2.0);

}  // namespace vela
