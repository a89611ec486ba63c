// Whole runner systems: networks mesh soundly, their patches cover the
// boundary exactly, the mesh follows the network when it is moved and
// turned, threads change nothing, and every junction region is the junction
// a host would mesh on its own.

#include "memory_mesh.h"
#include "quality.h"
#include "runner_system.h"
#include "test_networks.h"

#include <VelaRunnerMapping.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

using namespace vela::system;
using namespace vela::system::testing;

namespace {

MemoryMesh ToMemory(const SystemMesh& mesh) {
  MemoryMesh memory;
  WriteSolidMesh(mesh, memory);
  return memory;
}

SystemMesh Meshed(const RunnerNetwork& network, int threads = 1) {
  BuildOptions options;
  options.threads = threads;
  SystemOutcome outcome = MeshRunnerSystem(network, options);
  EXPECT_TRUE(outcome.ok) << network.name << ": " << outcome.refusal.reason << ": "
                          << outcome.refusal.message;
  return std::move(outcome.mesh);
}

std::vector<int> SortedKey(std::vector<int> face) {
  std::sort(face.begin(), face.end());
  return face;
}

// The boundary as the quality report's own face tables find it.
std::set<std::vector<int>> IndependentBoundary(const MemoryMesh& memory) {
  std::map<std::vector<int>, int> uses;
  for (const MeshElement& element : memory.elements)
    for (const std::vector<int>& face : vela::quality::OutwardFaces(element)) ++uses[SortedKey(face)];
  std::set<std::vector<int>> boundary;
  for (const auto& [key, count] : uses)
    if (count == 1) boundary.insert(key);
  return boundary;
}

void ExpectSound(const SystemMesh& mesh) {
  const MemoryMesh memory = ToMemory(mesh);
  const vela::quality::QualityReport report =
      vela::quality::Assess(memory, vela::quality::DefaultTolerance(memory));
  EXPECT_FALSE(vela::quality::HasFaults(report)) << vela::quality::DescribeFaults(report);
}

// Every boundary face in exactly one patch, and nothing else in any patch;
// every end patch a flat disc of its runner's radius.
void ExpectPatchesCoverBoundary(const SystemMesh& mesh, const std::map<std::string, double>& endRadius) {
  std::set<std::vector<int>> patched;
  for (const BoundaryFace& face : mesh.faces) {
    ASSERT_GE(face.patch, 0);
    ASSERT_LT(face.patch, static_cast<int>(mesh.patches.size()));
    EXPECT_TRUE(patched.insert(SortedKey({face.nodes.begin(), face.nodes.begin() + face.corners})).second);
  }
  EXPECT_EQ(patched, IndependentBoundary(ToMemory(mesh)));
  for (std::size_t patch = 1; patch < mesh.patches.size(); ++patch) {
    double area = 0;
    Vec3 normalSum{0, 0, 0};
    for (const BoundaryFace& face : mesh.faces) {
      if (face.patch != static_cast<int>(patch)) continue;
      const Vec3& p0 = mesh.nodes[static_cast<std::size_t>(face.nodes[0])];
      for (int k = 1; k + 1 < face.corners; ++k) {
        const Vec3& p1 = mesh.nodes[static_cast<std::size_t>(face.nodes[static_cast<std::size_t>(k)])];
        const Vec3& p2 = mesh.nodes[static_cast<std::size_t>(face.nodes[static_cast<std::size_t>(k + 1)])];
        const Vec3 a{p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
        const Vec3 b{p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
        const Vec3 n{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
        for (int c = 0; c < 3; ++c) normalSum[static_cast<std::size_t>(c)] += 0.5 * n[static_cast<std::size_t>(c)];
        area += 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
      }
    }
    // A flat patch has its area in its summed normal; a disc of radius r has
    // an inscribed polygon's area just under pi r^2.
    const double flat = std::sqrt(normalSum[0] * normalSum[0] + normalSum[1] * normalSum[1] +
                                  normalSum[2] * normalSum[2]);
    EXPECT_NEAR(flat, area, 1e-9 * area) << mesh.patches[patch];
    const double r = endRadius.at(mesh.patches[patch]);
    EXPECT_GT(area, 0.97 * M_PI * r * r) << mesh.patches[patch];
    EXPECT_LE(area, M_PI * r * r) << mesh.patches[patch];
  }
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
    EXPECT_LT(worst, 1e-3);  // the library takes points as floats
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
// in order around it, far points where RunnerLength says the region ends.
TEST(System, JunctionRegionIsTheJunctionMeshedAlone) {
  const RunnerNetwork network = H4();
  const SystemMesh system = Meshed(network);
  const auto region = std::find_if(system.regions.begin(), system.regions.end(),
                                   [](const Region& r) { return r.name == "junction at s"; });
  ASSERT_NE(region, system.regions.end());
  const int regionIndex = static_cast<int>(region - system.regions.begin());

  // Around s, seen from +y: the sprue (up), then a (-x), then b (+x).
  const std::vector<std::pair<Vec3, double>> runners{{{0, 0, 60}, 4}, {{-40, 0, 0}, 3}, {{40, 0, 0}, 3}};
  CVelaRunnerMapping mapper;
  CArray<ON_3fPoint, ON_3fPoint> far, alongFar;
  CArray<double, double> radius, lengths, radii;
  for (const auto& [p, r] : runners) {
    far.Add(ON_3fPoint(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])));
    radius.Add(r);
    lengths.Add(0);
  }
  mapper.RunnerLength(ON_3fPoint(0, 0, 0), &far, &radius, network.marginA, &lengths, network.marginB);
  const double sprueLength = 60;
  for (int i = 0; i < 3; ++i) {
    const Vec3 p = runners[static_cast<std::size_t>(i)].first;
    const double norm = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    const double t = lengths[i] / norm;
    alongFar.Add(ON_3fPoint(static_cast<float>(p[0] * t), static_cast<float>(p[1] * t), static_cast<float>(p[2] * t)));
    const double atJunction = runners[static_cast<std::size_t>(i)].second;
    // The sprue tapers from 3 at the inlet to 4 at s; the others are plain.
    radii.Add(i == 0 ? 4 + (3 - 4) * (lengths[i] / sprueLength) : atJunction);
    radii.Add(atJunction);
  }
  CArray<double, double> inner, outer;
  for (double v : network.section.innerLayers) inner.Add(v);
  for (double v : network.section.outerLayers) outer.Add(v);
  mapper.SetFirstCircleNodeCount(network.section.firstCircleNodes);
  mapper.SetIOBoundaryLayer(&inner, &outer);
  MemoryMesh alone;
  ON_3fPoint farNodes[3];
  ASSERT_TRUE(mapper.NConnectRunner(ON_3fPoint(0, 0, 0), &alongFar, &radii, 0.8, 0.2, &alone, farNodes));

  std::set<std::vector<int>> aloneElements, systemElements;
  std::map<int, int> renumber;  // system node -> node of the lone junction, by position
  std::map<Vec3, int> aloneAt;
  for (std::size_t i = 0; i < alone.nodes.size(); ++i) aloneAt[alone.nodes[i]] = static_cast<int>(i);
  for (const SystemElement& element : system.elements) {
    if (element.region != regionIndex) continue;
    std::vector<int> corners;
    for (int k = 0; k < element.corners; ++k) {
      const auto found = aloneAt.find(system.nodes[static_cast<std::size_t>(element.nodes[static_cast<std::size_t>(k)])]);
      ASSERT_NE(found, aloneAt.end()) << "a node of the region is not a node of the junction";
      corners.push_back(found->second);
    }
    systemElements.insert(corners);
  }
  for (const MeshElement& element : alone.elements)
    aloneElements.insert(std::vector<int>(element.nodes.begin(), element.nodes.begin() + element.CornerCount()));
  EXPECT_EQ(systemElements, aloneElements);
}
