#pragma once

// Why the last junction call on this thread returned false.
//
// NConnectRunner and TwoConnectRunner answer a bool. After a false, the host
// asks for the reason:
//
//   if (!mapper.NConnectRunner(...)) {
//     const vela::JunctionRefusal why = vela::LastJunctionRefusal();
//     std::fprintf(stderr, "refused: %s (runner %d)\n",
//                  vela::RefusalDescription(why.reason), why.runner);
//   }
//
// Every junction call sets the record on entry, so after a true it reads
// Refusal::None. The record is kept per thread: a call on another thread
// never changes what this thread reads.

#include "VelaExport.h"

#include <limits>
#include <string>
#include <vector>

namespace vela {

// One value per guard of the junction calls, in the order in which they are
// checked. Values are stable: new ones are only ever added before Count.
enum class Refusal : int {
  None = 0,            // the last call meshed its junction
  Shares,              // inner and outer share do not add up to 1 within 0.001
  ShareRatio,          // inner share outside (0, 1], or all of it with boundary layers
  TooFewRunners,       // fewer than 3 runners for NConnectRunner, not 2 for TwoConnectRunner
  RadiusList,          // fewer than two radii per runner
  NullPointer,         // a list, the mesh or the far-node output is null
  NonFinite,           // a coordinate, radius or layer position is not finite
  Magnitude,           // coordinates or radii too large, or radii too small against them
  RadiusNotPositive,   // a radius is zero or negative
  FarPointDegenerate,  // a far point at the centre or on the plane normal through it
  NoPlane,             // no two neighbouring runners span a plane
  LayersNotSet,        // SetIOBoundaryLayer was never called
  LayerOrder,          // layer positions do not rise strictly from 0 to 1
  NoInnerRing,         // the inner layer list describes no ring
  FirstRingTooSmall,   // fewer than 3 nodes on the first ring
  OddFirstRing,        // an odd first ring: neighbouring sections would not meet node for node
  BendOpening,         // a bend's opening angle is too narrow or too straight
  NeighboursTooClose,  // two neighbouring runners are too close in angle for their radii
  Elevation,           // a runner leaves the junction plane too steeply
  RadiusRatio,         // radii of one junction differ too much
  SectionTooFine,      // inner rings twice the first ring's nodes or more
  TooLarge,            // more nodes or elements than an int numbers
  UnsoundResult,       // the finished mesh failed the soundness check
  RunnerOrder,         // the far points do not go once round the junction in order
  Count                // number of values; not a reason
};

struct JunctionRefusal {
  Refusal reason = Refusal::None;
  // The runner concerned (0-based, in the order of the far-point list), or -1.
  int runner = -1;
  // Its neighbour, for a reason about a pair of runners, or -1.
  int otherRunner = -1;
  // What was measured and the bound it broke, where the reason has them
  // (NaN and Unit::None otherwise), e.g. the steepest runner's angle to the
  // junction plane and the largest it may have, the widest radius over the
  // narrowest and the ratio allowed, or the shorter of two neighbours against
  // the length at which their cylinders stop cutting into each other.
  enum class Unit : int { None, Degrees, Length, Ratio, Count, Bytes };
  double value = std::numeric_limits<double>::quiet_NaN();
  double limit = std::numeric_limits<double>::quiet_NaN();
  Unit unit = Unit::None;
};

// The reason of the last junction call made on this thread.
VELA_API JunctionRefusal LastJunctionRefusal();

// A short stable identifier, e.g. "neighbours-too-close"; "unknown" for a
// value outside the enumeration.
VELA_API const char* RefusalName(Refusal reason);

// The reason in words, e.g. "two neighbouring runners are too close in angle
// for their radii".
VELA_API const char* RefusalDescription(Refusal reason);

// One line for a person: the reason's words with the runners, the measured
// value and the limit where the refusal has them, e.g. "runner 4 leaves the
// junction plane at 33.2 degrees, limit 10 degrees".
VELA_API std::string RefusalMessage(const JunctionRefusal& refusal);

// The same line with the runners called by the caller's names, runnerNames[i]
// for runner i (by number where the list has no name for it): a runner
// system names "runner s-g1 leaves the junction plane at 33.2 degrees, limit
// 10 degrees".
VELA_API std::string RefusalMessage(const JunctionRefusal& refusal, const std::vector<std::string>& runnerNames);

}  // namespace vela
