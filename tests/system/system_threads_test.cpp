// Threads change nothing: the mesh of a system, and the quality report and
// the wall report of it, come out the same to the last bit on any number of
// threads, faults and all.

#include "channel.h"
#include "memory_mesh.h"
#include "quality.h"
#include "runner_system.h"
#include "test_networks.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace vela::system;
using namespace vela::system::testing;

SystemOutcome MeshedOn(const RunnerNetwork& network, int threads) {
  BuildOptions options;
  options.threads = threads;
  return MeshRunnerSystem(network, options);
}

// Bit for bit: -0.0 against 0.0 or two NaNs would pass or fail == wrongly.
bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void ExpectSameMesh(const SystemMesh& a, const SystemMesh& b) {
  ASSERT_EQ(a.nodes.size(), b.nodes.size());
  std::size_t differing = 0;
  for (std::size_t i = 0; i < a.nodes.size(); ++i)
    for (std::size_t k = 0; k < 3; ++k) differing += SameBits(a.nodes[i][k], b.nodes[i][k]) ? 0 : 1;
  EXPECT_EQ(differing, 0u) << "coordinates differ";
  ASSERT_EQ(a.elements.size(), b.elements.size());
  differing = 0;
  for (std::size_t e = 0; e < a.elements.size(); ++e)
    differing += a.elements[e].corners == b.elements[e].corners && a.elements[e].nodes == b.elements[e].nodes &&
                         a.elements[e].region == b.elements[e].region
                     ? 0
                     : 1;
  EXPECT_EQ(differing, 0u) << "elements differ";
  ASSERT_EQ(a.regions.size(), b.regions.size());
  for (std::size_t r = 0; r < a.regions.size(); ++r) {
    EXPECT_EQ(a.regions[r].name, b.regions[r].name);
    EXPECT_EQ(a.regions[r].kind, b.regions[r].kind);
  }
  EXPECT_EQ(a.patches, b.patches);
  ASSERT_EQ(a.faces.size(), b.faces.size());
  differing = 0;
  for (std::size_t f = 0; f < a.faces.size(); ++f)
    differing += a.faces[f].corners == b.faces[f].corners && a.faces[f].nodes == b.faces[f].nodes &&
                         a.faces[f].patch == b.faces[f].patch
                     ? 0
                     : 1;
  EXPECT_EQ(differing, 0u) << "boundary faces differ";
}

// Seeded sections (a tube between open ends), runners carried straight on
// through a point, tapered sprues, bends, and a tree with more regions than
// threads, each cut up differently by each count.
TEST(SystemThreads, EveryThreadCountGivesTheSameMesh) {
  for (const RunnerNetwork& network : {Tee(), H4(), Climb(), Tube(), HTree(4)}) {
    SCOPED_TRACE(network.name);
    const SystemOutcome one = MeshedOn(network, 1);
    ASSERT_TRUE(one.ok) << one.refusal.message;
    for (const int threads : {2, 3, 8}) {
      SCOPED_TRACE(std::to_string(threads) + " threads");
      const SystemOutcome many = MeshedOn(network, threads);
      ASSERT_TRUE(many.ok) << many.refusal.message;
      EXPECT_EQ(one.counts.junctions, many.counts.junctions);
      EXPECT_EQ(one.counts.bends, many.counts.bends);
      EXPECT_EQ(one.counts.runners, many.counts.runners);
      ExpectSameMesh(one.mesh, many.mesh);
    }
  }
}

// A refusal found while the runners are planned is the same on any count.
TEST(SystemThreads, RefusalsDoNotDependOnThreads) {
  RunnerNetwork crossing = HTree(3);
  // A gate pulled across the first runner of the tree.
  for (auto& [name, at] : crossing.points)
    if (name == "plll") at = {-30, 20, 0};
  const SystemOutcome one = MeshedOn(crossing, 1);
  ASSERT_FALSE(one.ok);
  for (const int threads : {2, 5}) {
    const SystemOutcome many = MeshedOn(crossing, threads);
    ASSERT_FALSE(many.ok);
    EXPECT_EQ(one.refusal.reason, many.refusal.reason);
    EXPECT_EQ(one.refusal.message, many.refusal.message);
    EXPECT_EQ(one.refusal.runner, many.refusal.runner);
  }
  EXPECT_EQ(one.refusal.reason, "runners-cross");
}

MemoryMesh VolumeOf(const SystemMesh& mesh) {
  MemoryMesh volume;
  WriteSolidMesh(mesh, volume);
  return volume;
}

std::vector<vela::quality::MachinedRunner> ChannelOf(const RunnerNetwork& network) {
  std::map<std::string, Vec3> at(network.points.begin(), network.points.end());
  std::vector<vela::quality::MachinedRunner> channel;
  for (const SystemRunner& runner : network.runners)
    channel.push_back({at[runner.from], at[runner.to], runner.radiusFrom, runner.radiusTo});
  return channel;
}

void ExpectSameReport(const vela::quality::QualityReport& a, const vela::quality::QualityReport& b) {
  using vela::quality::Fault;
  EXPECT_EQ(a.nodes, b.nodes);
  EXPECT_EQ(a.elements, b.elements);
  for (int f = 0; f < vela::quality::kFaultClasses; ++f) {
    SCOPED_TRACE(vela::quality::FaultName(static_cast<Fault>(f)));
    EXPECT_EQ(a.faults[static_cast<std::size_t>(f)].count, b.faults[static_cast<std::size_t>(f)].count);
    EXPECT_EQ(a.faults[static_cast<std::size_t>(f)].named, b.faults[static_cast<std::size_t>(f)].named);
  }
  for (std::size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(a.byKind[k].count, b.byKind[k].count);
    EXPECT_TRUE(SameBits(a.byKind[k].minScaledJacobian, b.byKind[k].minScaledJacobian));
    EXPECT_TRUE(SameBits(a.byKind[k].meanScaledJacobian, b.byKind[k].meanScaledJacobian));
  }
  EXPECT_TRUE(SameBits(a.volume, b.volume));
  ASSERT_EQ(a.scaledJacobian.size(), b.scaledJacobian.size());
  std::size_t differing = 0;
  for (std::size_t e = 0; e < a.scaledJacobian.size(); ++e)
    differing += SameBits(a.scaledJacobian[e], b.scaledJacobian[e]) ? 0 : 1;
  EXPECT_EQ(differing, 0u);
  const vela::quality::FiniteVolumeMeasures& x = a.finiteVolume;
  const vela::quality::FiniteVolumeMeasures& y = b.finiteVolume;
  EXPECT_EQ(x.cells, y.cells);
  EXPECT_EQ(x.internalFaces, y.internalFaces);
  EXPECT_TRUE(SameBits(x.minDeterminant, y.minDeterminant));
  EXPECT_TRUE(SameBits(x.minWeight, y.minWeight));
  EXPECT_TRUE(SameBits(x.maxNonOrthogonality, y.maxNonOrthogonality));
  EXPECT_TRUE(SameBits(x.maxSkewness, y.maxSkewness));
}

// A system's mesh spoilt all over: nodes pushed through their neighbours
// (inverted and overlapping elements), a wall node pulled across into the
// sprue (its faces cut the sprue's wall), nodes moved onto their next,
// one node not finite, two elements collapsed, spread so that every
// thread's share has some.
MemoryMesh Spoilt(MemoryMesh mesh, int wallNode) {
  const std::size_t nodes = mesh.nodes.size();
  for (std::size_t i = 97; i < nodes; i += nodes / 23) {
    mesh.nodes[i][0] += 1.7;
    mesh.nodes[i][2] -= 0.9;
  }
  mesh.nodes[static_cast<std::size_t>(wallNode)] = {0, 0, 30};
  for (std::size_t i = 1000; i + 1 < nodes; i += nodes / 9) mesh.nodes[i] = mesh.nodes[i + 1];
  mesh.nodes[nodes / 2][1] = std::numeric_limits<double>::quiet_NaN();
  for (const std::size_t e : {std::size_t{5}, mesh.elements.size() - 7}) {
    MeshElement& element = mesh.elements[e];
    element.nodes[1] = element.nodes[0];
  }
  return mesh;
}

// A system's mesh wired wrong all over, through how its elements share
// faces: elements given twice (faces shared by three), turned inside out
// (faces shared in the same turn), taken out (open boundary edges), moved
// off on nodes of their own (a piece apart), and nodes pushed off their
// faces (face tets turned over), spread so that every thread's share of the
// faces has some.
MemoryMesh Miswired(MemoryMesh mesh) {
  const std::size_t elements = mesh.elements.size();
  for (std::size_t e = 300; e < elements; e += elements / 5) mesh.elements.push_back(mesh.elements[e]);
  for (std::size_t e = 700; e < elements; e += elements / 6) {
    MeshElement& element = mesh.elements[e];
    const int corners = element.CornerCount() / 2;  // prism or hexa: swap its two ends
    for (int k = 0; k < corners; ++k)
      std::swap(element.nodes[static_cast<std::size_t>(k)], element.nodes[static_cast<std::size_t>(k + corners)]);
  }
  for (const std::size_t quarter : {3, 2, 1})
    mesh.elements.erase(mesh.elements.begin() + static_cast<long>(quarter * elements / 4 + 17));
  // The last element alone, on copies of its nodes far off.
  MeshElement& last = mesh.elements.back();
  for (int k = 0; k < last.CornerCount(); ++k) {
    int& node = last.nodes[static_cast<std::size_t>(k)];
    std::array<double, 3> moved = mesh.nodes[static_cast<std::size_t>(node)];
    moved[2] += 1000.0;
    mesh.nodes.push_back(moved);
    node = static_cast<int>(mesh.nodes.size()) - 1;
  }
  for (std::size_t i = 51; i < mesh.nodes.size(); i += mesh.nodes.size() / 17) mesh.nodes[i][1] += 0.6;
  return mesh;
}

TEST(SystemReport, QualityReportIsTheSameOnAnyNumberOfThreads) {
  const SystemOutcome outcome = MeshedOn(HTree(3), 2);
  ASSERT_TRUE(outcome.ok) << outcome.refusal.message;
  const MemoryMesh sound = VolumeOf(outcome.mesh);
  // A wall node of a gate's runner, far from the sprue.
  int wallNode = -1;
  for (const BoundaryFace& face : outcome.mesh.faces)
    if (face.patch == 0 && outcome.mesh.nodes[static_cast<std::size_t>(face.nodes[0])][0] < -40) {
      wallNode = face.nodes[0];
      break;
    }
  ASSERT_GE(wallNode, 0);
  const MemoryMesh spoilt = Spoilt(sound, wallNode);
  const MemoryMesh miswired = Miswired(sound);
  for (const MemoryMesh* mesh : {&sound, &spoilt, &miswired}) {
    SCOPED_TRACE(mesh == &sound ? "sound" : mesh == &spoilt ? "spoilt" : "miswired");
    const double tol = vela::quality::DefaultTolerance(*mesh);
    const vela::quality::QualityReport one = vela::quality::Assess(*mesh, tol, vela::quality::Limits{}, 1);
    if (mesh == &sound) {
      EXPECT_FALSE(vela::quality::HasFaults(one)) << vela::quality::DescribeFaults(one);
    } else if (mesh == &miswired) {
      using vela::quality::Fault;
      EXPECT_GT(one.Count(Fault::OverSharedFace), 0);
      EXPECT_GT(one.Count(Fault::SameTurnFace), 0);
      EXPECT_GT(one.Count(Fault::OpenBoundary), 0);
      EXPECT_EQ(one.Count(Fault::Disconnected), 1);
      EXPECT_GT(one.Count(Fault::FaceTets), 0);
      EXPECT_GT(one.Count(Fault::NonOrthogonal) + one.Count(Fault::Skewed), 0);
    } else {
      // The spoiling shows in the classes the threads share out.
      using vela::quality::Fault;
      EXPECT_GT(one.Count(Fault::Inverted), 0);
      EXPECT_GT(one.Count(Fault::Overlap), 0);
      EXPECT_GT(one.Count(Fault::CrossingFaces), 0);
      EXPECT_GT(one.Count(Fault::CoincidentNodes), 0);
      EXPECT_GT(one.Count(Fault::SmallDeterminant) + one.Count(Fault::Skewed), 0);
      EXPECT_EQ(one.Count(Fault::Collapsed), 2);
      EXPECT_EQ(one.Count(Fault::NonFiniteNode), 1);
    }
    for (const int threads : {2, 3, 7}) {
      SCOPED_TRACE(std::to_string(threads) + " threads");
      ExpectSameReport(one, vela::quality::Assess(*mesh, tol, vela::quality::Limits{}, threads));
    }
  }
}

// The wall report asks the runners near each node only where that settles
// it: it is what the whole channel says, with one node moved at a time onto
// the wall, just outside it, far outside, past the network's box, or to a
// place that is not finite.
TEST(SystemReport, WallReportIsTheWholeChannelsOnAnyNumberOfThreads) {
  const RunnerNetwork network = HTree(3);
  const SystemOutcome outcome = MeshedOn(network, 2);
  ASSERT_TRUE(outcome.ok) << outcome.refusal.message;
  const std::vector<vela::quality::MachinedRunner> channel = ChannelOf(network);
  const MemoryMesh sound = VolumeOf(outcome.mesh);
  const std::size_t nodes = sound.nodes.size();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<std::size_t, std::array<double, 3>>> moves{
      {11, {0, 0, 0}},          {nodes / 7, {0, 0, 1e-9}}, {nodes / 3, {0, 0, 0.3}}, {nodes / 2, {0.5, -0.4, 2}},
      {nodes - 3, {0, 0, -7}},  {nodes / 4, {400, -500, 40}}, {nodes / 5, {inf, 0, 0}}};
  for (const auto& [node, by] : moves) {
    SCOPED_TRACE("node " + std::to_string(node));
    MemoryMesh mesh = sound;
    for (std::size_t k = 0; k < 3; ++k) mesh.nodes[node][k] += by[k];
    // One pass over every runner, as the report defines it.
    vela::quality::WallReport whole;
    for (std::size_t n = 0; n < nodes; ++n) {
      double radius = 0.0;
      const double d = vela::quality::OutsideChannel(channel, mesh.nodes[n], &radius);
      if (!(d > 0.0)) continue;
      whole.outside = std::max(whole.outside, d);
      const double share = radius > 0.0 ? d / radius : d;
      if (share > whole.share) {
        whole.share = share;
        whole.node = static_cast<int>(n);
      }
    }
    for (const int threads : {1, 2, 5}) {
      const vela::quality::WallReport wall = vela::quality::AssessWall(mesh, channel, threads);
      EXPECT_TRUE(SameBits(wall.outside, whole.outside));
      EXPECT_TRUE(SameBits(wall.share, whole.share));
      EXPECT_EQ(wall.node, whole.node);
    }
  }
}

}  // namespace
