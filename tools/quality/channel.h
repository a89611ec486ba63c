#pragma once

// How well a mesh's wall follows the channel its runners are machined to.
//
// A runner is machined as a tapered cylinder between its two end points,
// its radius going from one end's to the other's, with a ball of its radius
// at each end; the channel is the union of the runners. A mesh that bulges
// out of it puts material where the mould has none.

#include "memory_mesh.h"

#include <array>
#include <vector>

namespace vela::quality {

struct MachinedRunner {
  std::array<double, 3> from{};
  std::array<double, 3> to{};
  double fromRadius = 0.0;
  double toRadius = 0.0;
};

// How far p lies outside the channel (negative inside); localRadius
// receives the radius of the runner nearest, where its axis passes p.
double OutsideChannel(const std::vector<MachinedRunner>& channel, const std::array<double, 3>& p,
                      double* localRadius = nullptr);

struct WallReport {
  double outside = 0.0;  // the largest distance of a node outside the channel, 0 when none is
  double share = 0.0;    // the largest such distance over the local radius
  int node = -1;         // the node of the largest share, -1 when none is outside
};

// The nodes of mesh against the channel. Nodes inside count nothing. Each
// node asks only the runners near it where that gives the answer the whole
// channel gives, and the nodes are taken on `threads` threads (0: the
// hardware's count): the report is the same either way.
WallReport AssessWall(const MemoryMesh& mesh, const std::vector<MachinedRunner>& channel, int threads = 1);

}  // namespace vela::quality
