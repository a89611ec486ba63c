#pragma once

// The sweep of one branch of a junction: the runner piece from its far point
// to the junction centre, as layers+1 cross-sections. Section 0 is the plain
// circle at the far point; towards the centre the sections widen or narrow to
// the junction's size, bulge across the junction plane and lean back on the
// side of each neighbour, so that they give way to the neighbouring branches.
// The branch is built in the junction plane and then turned about the centre
// by its elevation, all sections but the junction section, so that it follows
// the runner's real axis while every junction section stays in the plane.

#include "sweep/point_rotation.h"
#include "sweep/ring_angles.h"
#include "sweep/section_pattern.h"
#include "vec3.h"

#include <vector>

namespace vela {

struct BranchInput {
  // Far end of this branch, the junction centre, far end of the next and of
  // the previous branch.
  Point3 points[4];
  // This branch's radius at the far end and at the junction end, then the
  // next branch's pair, then the previous branch's pair.
  double radii[6];
  double junctionRadius = 0.0;  // size of the junction centre across the plane
  Point3 normal{};              // unit junction-plane normal, across the branch
  double cosTilt = 1.0, sinTilt = 0.0;
  Precision precision = Precision::Double;  // how the junction takes its points
  // Keep the wall on the machined channel: no section grows across the
  // plane beyond what the runner and the centre's ball hold there, and no
  // node bulges past it.
  bool onChannel = false;
  double ballRadius = 0.0;  // the ball the runners meet in, with onChannel
  // Lean back from the neighbours only near the junction, and stand square
  // to the runner beyond (see GatherLean); needs onChannel.
  bool gatherLean = false;
};

// Places the far-end section: the circle of the given radius around p in the
// plane spanned by u (angle 0) and v (angle 90 degrees), every node turned by
// tilt. Writes the section from nodes[nodeIndex] on and leaves nodeIndex on
// its last node.
void CreateNodeSideMeshData(Point3* nodes, const Point3& u, const Point3& v, const AxisRotation& tilt,
                            double radius, const Point3& p, const SectionSettings& section,
                            const RingAngles& angles, int& nodeIndex);

// Sweeps one branch: sections 0..layers, each of the section's node count,
// from row 1 (row 0 is unused). Needs C >= 1 and F >= 1, a far point away from the
// centre, positive radii and a normal perpendicular to the branch; anything
// else gives non-finite coordinates, which the junction drivers rule out.
std::vector<Point3> SweepBranch(const BranchInput& in, const SectionSettings& section, int layers,
                        double (*circularProfile)(double), double (*linearProfile)(double));

// The same into nodes, with the section's ring angles given: sized to the
// sweep's rows and every row from 1 on written, nothing allocated where nodes
// holds room enough already.
void SweepBranch(const BranchInput& in, const SectionSettings& section, int layers,
                 double (*circularProfile)(double), double (*linearProfile)(double), const RingAngles& angles,
                 std::vector<Point3>& nodes);

}  // namespace vela
