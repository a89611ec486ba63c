#pragma once

// How far a branch's axis is turned from its two neighbours at the junction
// centre, and the per-section tables the sweep reads from that: tilt
// tangents (how far a section leans back towards the far point on each
// side), lateral sizes and sizes across the junction plane.


#include "vec3.h"

#include <vector>

namespace vela {

struct ForwardAngles {
  double sinNext = 0.0, cosNext = 0.0;
  double sinPrev = 0.0, cosPrev = 0.0;
};

// points: the branch's far end, the centre, the next and the previous
// branch's far end. Each cosine is the plain cosine between the outward
// branch axis and the neighbour; each sine the length of their cross
// product, negated for a neighbour more than 91 degrees away that lies on
// the same side of the axis as the other neighbour (so the pair then stands
// for 360 degrees minus the angle). Rows 0, 2 and 3 must differ from row 1.
ForwardAngles CalConnectedForwardAngle(const Point3 points[4]);

// Tilt tangents A[0..layers-1] towards one neighbour; A[k-1] belongs to
// section k and section k leans k/layers as far as the junction section.
// All zero means no lean on that side (a neighbour straight opposite, or a
// vanishing denominator). toNeighbour is the neighbour's end less the centre,
// formed as the junction takes its points.
std::vector<double> CalExcessiveForwardAngle(const Point3& toNeighbour, double branchLength,
                                             double radius0, double radius1,
                                             double neighbourRadius0, double neighbourRadius1,
                                             double cosAngle, double sinAngle, int layers);
// The same into A, which keeps its room.
void CalExcessiveForwardAngle(const Point3& toNeighbour, double branchLength, double radius0, double radius1,
                              double neighbourRadius0, double neighbourRadius1, double cosAngle,
                              double sinAngle, int layers, std::vector<double>& A);

// Lateral sizes H[0..layers]: from startRadius to the mean of the two
// junction-end radii, linearly.
std::vector<double> GetExcessiveHorizontalRadiusSize(double startRadius, double ownEndRadius,
                                                     double neighbourEndRadius, int layers);
void GetExcessiveHorizontalRadiusSize(double startRadius, double ownEndRadius, double neighbourEndRadius,
                                      int layers, std::vector<double>& H);

// Sizes across the junction plane V[0..layers]: from radius0 to the junction
// radius, along the circular profile when the branch is wider than the
// junction and the linear one otherwise.
std::vector<double> GetExcessiveVerticalRadiusSize(double radius0, double junctionRadius,
                                                   int layers, double (*circularProfile)(double),
                                                   double (*linearProfile)(double));
void GetExcessiveVerticalRadiusSize(double radius0, double junctionRadius, int layers,
                                    double (*circularProfile)(double), double (*linearProfile)(double),
                                    std::vector<double>& V);

}  // namespace vela
