// Whole runner systems: networks mesh soundly, their patches cover the
// boundary exactly, the mesh follows the network when it is moved and
// turned, threads change nothing, and every junction region is the junction
// a host would mesh on its own.

#include "runner_system.h"
#include "system_checks.h"
#include "test_networks.h"

#include <VelaJunction.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

using namespace vela::system;
using namespace vela::system::testing;

namespace {

SystemMesh Meshed(const RunnerNetwork& network, int threads = 1) {
  BuildOptions options;
  options.threads = threads;
  SystemOutcome outcome = MeshRunnerSystem(network, options);
  EXPECT_TRUE(outcome.ok) << network.name << ": " << outcome.refusal.reason << ": "
                          << outcome.refusal.message;
  return std::move(outcome.mesh);
}

}  // namespace

TEST(System, NetworksMeshSoundlyWithTheirPatches) {
  struct Case {
    RunnerNetwork network;
    std::map<std::string, double> endRadius;
    int junctions, bends;
  };
  const std::vector<Case> cases{
      {Tee(), {{"inlet", 2}, {"end-b", 2}, {"end-d", 2}}, 1, 0},
      {H4(), {{"inlet", 3}, {"gate-1", 2}, {"end-g2", 2}, {"end-g3", 2}, {"end-g4", 2}}, 3, 1},
      {Climb(), {{"end-a", 2.5}, {"end-b", 2.5}, {"end-top", 2}}, 1, 0},
      {Tube(), {{"end-p", 3}, {"end-q", 2}}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.network.name);
    const SystemOutcome outcome = MeshRunnerSystem(c.network, {});
    ASSERT_TRUE(outcome.ok) << outcome.refusal.reason << ": " << outcome.refusal.message;
    ExpectSound(outcome.mesh);
    ExpectPatchesCoverBoundary(outcome.mesh, c.endRadius);
    EXPECT_EQ(outcome.counts.junctions, c.junctions);
    EXPECT_EQ(outcome.counts.bends, c.bends);
    EXPECT_EQ(outcome.mesh.patches.size(), c.endRadius.size() + 1);
  }
}

TEST(System, MovedAndTurnedNetworkGivesMovedAndTurnedMesh) {
  // A turn of 40 degrees about (1, 2, 2)/3, then a shift.
  const double c = std::cos(0.7), s = std::sin(0.7);
  const Vec3 k{1.0 / 3, 2.0 / 3, 2.0 / 3};
  const Vec3 shift{120, -35, 18};
  auto move = [&](const Vec3& p) {
    const Vec3 kxp{k[1] * p[2] - k[2] * p[1], k[2] * p[0] - k[0] * p[2], k[0] * p[1] - k[1] * p[0]};
    const double kp = k[0] * p[0] + k[1] * p[1] + k[2] * p[2];
    Vec3 q;
    for (std::size_t i = 0; i < 3; ++i) q[i] = p[i] * c + kxp[i] * s + k[i] * kp * (1 - c) + shift[i];
    return q;
  };
  for (const RunnerNetwork& network : {Tee(), H4()}) {
    SCOPED_TRACE(network.name);
    RunnerNetwork moved = network;
    for (auto& point : moved.points) point.second = move(point.second);
    const SystemMesh a = Meshed(network);
    const SystemMesh b = Meshed(moved);
    ASSERT_EQ(a.nodes.size(), b.nodes.size());
    ASSERT_EQ(a.elements.size(), b.elements.size());
    for (std::size_t e = 0; e < a.elements.size(); ++e) ASSERT_EQ(a.elements[e].nodes, b.elements[e].nodes);
    double worst = 0;
    for (std::size_t i = 0; i < a.nodes.size(); ++i) {
      const Vec3 expected = move(a.nodes[i]);
      for (std::size_t j = 0; j < 3; ++j) worst = std::max(worst, std::fabs(expected[j] - b.nodes[i][j]));
    }
    // Doubles throughout: the rounding of the turn itself, nothing near a
    // float's. The smoothing's slopes are differences over a thousandth of
    // an edge, so they magnify that rounding up to a thousandfold.
    EXPECT_LT(worst, 1e-9);
    EXPECT_EQ(a.faces.size(), b.faces.size());
  }
}

TEST(System, ThreadsChangeNothing) {
  const SystemMesh one = Meshed(H4(), 1);
  const SystemMesh three = Meshed(H4(), 3);
  EXPECT_EQ(one.nodes, three.nodes);
  ASSERT_EQ(one.elements.size(), three.elements.size());
  for (std::size_t e = 0; e < one.elements.size(); ++e) {
    EXPECT_EQ(one.elements[e].nodes, three.elements[e].nodes);
    EXPECT_EQ(one.elements[e].region, three.elements[e].region);
  }
}

// The junction at s of the H, meshed as a host would mesh it alone: runners
// in order around it, far points where RunnerLengths says the region ends,
// every point in doubles. The region is that junction node for node, to the
// last bit.
TEST(System, JunctionRegionIsTheJunctionMeshedAlone) {
  const RunnerNetwork network = H4();
  const SystemMesh system = Meshed(network);
  const auto region = std::find_if(system.regions.begin(), system.regions.end(),
                                   [](const Region& r) { return r.name == "junction at s"; });
  ASSERT_NE(region, system.regions.end());
  const int regionIndex = static_cast<int>(region - system.regions.begin());

  // Around s, seen from +y: the sprue (up, 60 long), then a (-x), then b
  // (+x), with their radii at s.
  struct Runner {
    vela::Point3 direction;
    double length, radius;
  };
  const std::vector<Runner> runners{{{0, 0, 1}, 60, 4}, {{-1, 0, 0}, 40, 3}, {{1, 0, 0}, 40, 3}};
  std::vector<vela::Point3> ends;
  std::vector<double> radius;
  for (const Runner& r : runners) {
    ends.push_back({r.direction[0] * r.length, r.direction[1] * r.length, r.direction[2] * r.length});
    radius.push_back(r.radius);
  }
  const std::vector<double> lengths = vela::RunnerLengths({0, 0, 0}, ends, radius, network.marginA, network.marginB);
  ASSERT_EQ(lengths.size(), 3u);
  vela::JunctionInput input;
  input.section.firstRing = network.section.firstCircleNodes;
  input.section.innerLayers = network.section.innerLayers;
  input.section.outerLayers = network.section.outerLayers;
  for (std::size_t i = 0; i < 3; ++i) {
    const Runner& r = runners[i];
    input.farPoints.push_back({r.direction[0] * lengths[i], r.direction[1] * lengths[i], r.direction[2] * lengths[i]});
    // The sprue tapers from 3 at the inlet to 4 at s; the others are plain.
    input.radii.push_back(i == 0 ? 4 + (3 - 4) * (lengths[i] / r.length) : r.radius);
    input.radii.push_back(r.radius);
  }
  const vela::JunctionResult alone = vela::MeshJunction(input);
  ASSERT_TRUE(alone.ok()) << vela::RefusalMessage(alone.refusal);

  std::set<std::vector<int>> aloneElements, systemElements;
  std::map<Vec3, int> aloneAt;  // the lone junction's nodes by position
  for (std::size_t i = 0; i < alone.mesh.nodes.size(); ++i) aloneAt[alone.mesh.nodes[i]] = static_cast<int>(i);
  for (const SystemElement& element : system.elements) {
    if (element.region != regionIndex) continue;
    std::vector<int> corners;
    for (std::size_t k = 0; k < static_cast<std::size_t>(element.corners); ++k) {
      const auto found = aloneAt.find(system.nodes[static_cast<std::size_t>(element.nodes[k])]);
      ASSERT_NE(found, aloneAt.end()) << "a node of the region is not a node of the junction";
      corners.push_back(found->second);
    }
    systemElements.insert(corners);
  }
  for (const vela::Element& element : alone.mesh.elements)
    aloneElements.insert({element.corners.begin(), element.corners.begin() + element.CornerCount()});
  EXPECT_EQ(systemElements, aloneElements);
}
