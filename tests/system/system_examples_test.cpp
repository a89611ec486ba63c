// The shipped example systems, read from their files: each meshes soundly
// with a patch per open end, and its points stay doubles from the file to
// the mesh. Every network point where a junction sits or a runner ends is a
// node to the last bit, and each junction region ends, along each of its
// runners, at a section whose centre lies where RunnerLengths says, in
// doubles, not where a float would put it.

#include "runner_system.h"
#include "system_checks.h"
#include "system_detail.h"
#include "system_file.h"
#include "system_regions.h"

#include "channel.h"
#include "quality.h"

#include <VelaJunction.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

using namespace vela::system;
using namespace vela::system::testing;
using vela::system::detail::Add;
using vela::system::detail::Norm;
using vela::system::detail::Scale;
using vela::system::detail::Sub;
using vela::system::detail::Unit;

namespace {

RunnerNetwork Example(const std::string& name) {
  return vela::io::ReadSystemFile(std::string(VELA_SOURCE_DIR) + "/examples/systems/" + name + ".json");
}

SystemMesh Meshed(const RunnerNetwork& network) {
  SystemOutcome outcome = MeshRunnerSystem(network);
  EXPECT_TRUE(outcome.ok) << network.name << ": " << outcome.refusal.reason << ": " << outcome.refusal.message;
  return std::move(outcome.mesh);
}

Vec3 PointAt(const RunnerNetwork& network, const std::string& name) {
  for (const auto& [at, place] : network.points)
    if (at == name) return place;
  ADD_FAILURE() << "no point " << name;
  return {};
}

// A runner as it leaves a point.
struct Leaving {
  Vec3 toward;
  double radius = 0;
};

std::map<std::string, std::vector<Leaving>> RunnersAt(const RunnerNetwork& network) {
  std::map<std::string, std::vector<Leaving>> at;
  for (const SystemRunner& r : network.runners) {
    at[r.from].push_back({PointAt(network, r.to), r.radiusFrom});
    at[r.to].push_back({PointAt(network, r.from), r.radiusTo});
  }
  return at;
}

// The open ends' patches and the radius of the runner at each.
std::map<std::string, double> EndRadii(const RunnerNetwork& network) {
  std::map<std::string, double> radii;
  for (const auto& [point, leaving] : RunnersAt(network)) {
    if (leaving.size() != 1) continue;
    std::string patch = "end-" + point;
    for (const auto& [at, name] : network.endNames)
      if (at == point) patch = name;
    radii[patch] = leaving[0].radius;
  }
  return radii;
}

bool AlongAnAxis(const Vec3& d) { return (d[0] == 0) + (d[1] == 0) + (d[2] == 0) == 2; }

bool FloatExact(double v) { return static_cast<double>(static_cast<float>(v)) == v; }

// Fit for a solver by the tool's verdict (no cell under a scaled Jacobian of
// 0.2, no face over 70 degrees non-orthogonal or over a skewness of 4, as
// OpenFOAM's checkMesh counts them), no cell under minSj, and the wall
// within 2 % of its radius of the channel the runners are machined to.
void ExpectFitForASolver(const RunnerNetwork& network, const SystemMesh& mesh, double minSj) {
  const MemoryMesh volume = ToMemory(mesh);
  const vela::quality::QualityReport report = vela::quality::Assess(volume, 0.0, vela::quality::Limits{});
  EXPECT_FALSE(vela::quality::HasFaults(report)) << vela::quality::DescribeFaults(report);
  EXPECT_GE(vela::quality::SmallestScaledJacobian(report), minSj);
  std::vector<vela::quality::MachinedRunner> channel;
  for (const SystemRunner& r : network.runners)
    channel.push_back({PointAt(network, r.from), PointAt(network, r.to), r.radiusFrom, r.radiusTo});
  EXPECT_LE(vela::quality::AssessWall(volume, channel).share, 0.02);
}

}  // namespace

TEST(SystemExamples, MeshSoundlyWithAPatchPerOpenEnd) {
  for (const char* name : {"h8", "fishbone", "two-levels", "single-bend", "radial-6"}) {
    SCOPED_TRACE(name);
    const RunnerNetwork network = Example(name);
    const SystemMesh mesh = Meshed(network);
    ExpectSound(mesh);
    const std::map<std::string, double> radii = EndRadii(network);
    ExpectPatchesCoverBoundary(mesh, radii);
    EXPECT_EQ(mesh.patches.size(), radii.size() + 1);
    std::printf("%-12s %7zu nodes %7zu elements\n", name, mesh.nodes.size(), mesh.elements.size());
  }
}

// Radial layouts: a sprue square to a star of runners in the parting plane,
// the runners' radii equal or alternating. The sprue's foot is a hub.
TEST(SystemExamples, RadialLayoutsMeshSoundlyOnTheChannel) {
  for (int runners : {3, 4, 6, 8})
    for (bool alternating : {false, true}) {
      RunnerNetwork network;
      network.name = "radial " + std::to_string(runners) + (alternating ? " alternating" : "");
      SCOPED_TRACE(network.name);
      network.points = {{"inlet", {0, 0, 60}}, {"s", {0, 0, 0}}};
      network.runners.push_back({"inlet", "s", 3, 4});
      for (int k = 0; k < runners; ++k) {
        const double a = 2.0 * 3.141592653589793 * k / runners;
        const std::string gate = "g" + std::to_string(k + 1);
        network.points.push_back({gate, {45 * std::cos(a), 45 * std::sin(a), 0}});
        network.runners.push_back({"s", gate, alternating && k % 2 ? 2.5 : 3.0, 2.5});
      }
      network.axialSize = 2.0;
      const SystemMesh mesh = Meshed(network);
      ExpectSound(mesh);
      const std::map<std::string, double> radii = EndRadii(network);
      ExpectPatchesCoverBoundary(mesh, radii);
      EXPECT_EQ(mesh.patches.size(), radii.size() + 1);
      ExpectFitForASolver(network, mesh, runners < 6 ? 0.3 : 0.2);
    }
}

// A crowded star in the parting plane: the runner in and three out, two of
// them 45 degrees apart and unequal. Swept in the plane, the narrow runners'
// sections lean past the channel to give way to the wide ones (15 % of the
// radius, with faces over 70 degrees non-orthogonal); the junction is meshed
// as a hub instead and meets a solver's floors with its wall on the channel.
TEST(SystemExamples, CrowdedPlanarStarMeetsTheFloorsOnTheChannel) {
  RunnerNetwork network;
  network.name = "crowded star";
  const double degree = 3.141592653589793 / 180.0;
  network.points = {{"s", {0, 0, 0}}, {"inlet", {-45, 0, 0}}};
  network.runners.push_back({"inlet", "s", 3.6, 4});
  const double angles[] = {30, 75, 270}, radii[] = {2.5, 3, 3};
  for (int k = 0; k < 3; ++k) {
    const std::string gate = "g" + std::to_string(k + 1);
    network.points.push_back({gate, {45 * std::cos(angles[k] * degree), 45 * std::sin(angles[k] * degree), 0}});
    network.runners.push_back({"s", gate, radii[k], 0.85 * radii[k]});
  }
  network.axialSize = 2.0;
  const SystemMesh mesh = Meshed(network);
  ExpectSound(mesh);
  ExpectPatchesCoverBoundary(mesh, EndRadii(network));
  ExpectFitForASolver(network, mesh, 0.2);
}

// The tee at the foot of a larger H-tree: three runners of one radius, whose
// junction ends each runner's way in cells a tenth of a millimetre from its
// far section where the sections lean to give way. Runner layers of 2 mm
// against those would leave faces of interpolation weight 0.048, under what
// solvers take; the layers next to the junction start thin instead, and
// the runners keep their number of layers.
TEST(SystemExamples, EqualTeeMeetsItsRunnersWithoutThinFaceWeights) {
  RunnerNetwork network;
  network.name = "equal tee";
  network.points = {{"in", {0, 32, 0}}, {"s", {0, 0, 0}}, {"l", {-22.627, 0, 0}}, {"r", {22.627, 0, 0}}};
  network.runners = {{"in", "s", 2, 2}, {"s", "l", 2, 2}, {"s", "r", 2, 2}};
  network.axialSize = 2.0;
  const SystemMesh mesh = Meshed(network);
  ExpectSound(mesh);
  const vela::quality::QualityReport report = vela::quality::Assess(ToMemory(mesh), 0.0, vela::quality::Limits{});
  EXPECT_FALSE(vela::quality::HasFaults(report)) << vela::quality::DescribeFaults(report);
  EXPECT_GE(report.finiteVolume.minWeight, 0.05);
}

// Told that the runners are layered sweeps, the report gives every example
// the same verdict, class by class, as when it tests every pair; and on h8
// with a gate's last wall node pulled into the sprue, it still finds the
// gate runner's faces cutting the sprue's wall.
TEST(SystemExamples, RunnersTakenAsLayeredSweepsKeepTheVerdict) {
  using vela::quality::Assess;
  using vela::quality::Fault;
  for (const char* name : {"h8", "fishbone", "two-levels", "single-bend", "radial-6"}) {
    SCOPED_TRACE(name);
    const SystemMesh mesh = Meshed(Example(name));
    MemoryMesh volume = ToMemory(mesh);
    const vela::quality::Regions regions = vela::io::QualityRegions(mesh);
    if (std::string(name) == "h8") {
      std::size_t gate = 0;
      for (std::size_t n = 0; n < volume.nodes.size(); ++n)
        if (volume.nodes[n][0] < volume.nodes[gate][0]) gate = n;
      volume.nodes[gate] = {0.0, 0.0, 30.0};
    }
    const vela::quality::QualityReport all = Assess(volume, 0.0, vela::quality::Limits{}, 2);
    const vela::quality::QualityReport known = Assess(volume, 0.0, vela::quality::Limits{}, 2, regions);
    for (int f = 0; f < vela::quality::kFaultClasses; ++f) {
      const Fault fault = static_cast<Fault>(f);
      SCOPED_TRACE(vela::quality::FaultName(fault));
      // The pulled elements also cut their own runner's, which a fold
      // always does, and which their inverted corners already tell.
      const bool pulled = std::string(name) == "h8";
      if (!pulled || (fault != Fault::Overlap && fault != Fault::CrossingFaces)) {
        EXPECT_EQ(known.Count(fault), all.Count(fault));
      } else {
        EXPECT_LE(known.Count(fault), all.Count(fault));
      }
    }
    EXPECT_EQ(known.scaledJacobian, all.scaledJacobian);
    if (std::string(name) == "h8") {
      EXPECT_GT(known.Count(Fault::CrossingFaces), 0);
      EXPECT_GT(known.Count(Fault::Inverted), 0);
    } else {
      EXPECT_FALSE(vela::quality::HasFaults(known)) << vela::quality::DescribeFaults(known);
    }
  }
}

TEST(SystemExamples, PointsAndRegionEndsAreNodesToTheLastBit) {
  for (const char* name : {"h8", "fishbone"}) {
    SCOPED_TRACE(name);
    const RunnerNetwork network = Example(name);
    const SystemMesh mesh = Meshed(network);
    const std::set<Vec3> nodes(mesh.nodes.begin(), mesh.nodes.end());
    int exact = 0, inexact = 0;
    for (auto [point, leaving] : RunnersAt(network)) {
      const Vec3 at = PointAt(network, point);
      // Neither file has a point with two runners.
      ASSERT_NE(leaving.size(), 2u) << point;
      EXPECT_EQ(nodes.count(at), 1u) << point << " is no node";
      if (leaving.size() == 1) continue;
      auto direction = [&](const Leaving& l) { return Unit(Sub(l.toward, at)); };
      // Every junction of the two files is a three-way one, whose runners
      // are each other's neighbours in any order, or lies flat in z = 0,
      // where the order around is the order of the angle in that plane.
      std::sort(leaving.begin(), leaving.end(), [&](const Leaving& a, const Leaving& b) {
        const Vec3 da = direction(a), db = direction(b);
        return std::atan2(da[1], da[0]) < std::atan2(db[1], db[0]);
      });
      std::vector<vela::Point3> far;
      std::vector<double> radii;
      for (const Leaving& l : leaving) {
        far.push_back(l.toward);
        radii.push_back(l.radius);
        ASSERT_TRUE(leaving.size() == 3 || (l.toward[2] == 0 && at[2] == 0)) << point;
      }
      const std::vector<double> extents = vela::RunnerLengths(at, far, radii, network.marginA, network.marginB);
      ASSERT_EQ(extents.size(), leaving.size());
      for (std::size_t i = 0; i < leaving.size(); ++i) {
        const Vec3 d = direction(leaving[i]);
        const Vec3 centre = Add(at, Scale(d, extents[i]));
        if (AlongAnAxis(d)) {
          // One rounding only, the same in any double arithmetic.
          EXPECT_EQ(nodes.count(centre), 1u) << "no node at " << centre[0] << " " << centre[1] << " " << centre[2];
          ++exact;
          for (const double v : centre) inexact += !FloatExact(v);
        } else {
          double nearest = INFINITY;
          for (const Vec3& node : mesh.nodes) nearest = std::min(nearest, Norm(Sub(node, centre)));
          EXPECT_LT(nearest, 1e-12 * (Norm(at) + extents[i])) << point << " runner " << i;
        }
      }
    }
    EXPECT_GT(exact, 0);
    EXPECT_GT(inexact, 0) << "every centre is a float too: the check could not tell";
  }
}

// Two of the files put runner gaps exactly half way between two layer counts
// (21 mm and 31 mm at 2 mm): the count must not hang on the rounding of
// where the network lies.
TEST(SystemExamples, MovedAndTurnedTheyKeepTheirMesh) {
  for (const char* name : {"h8", "two-levels"}) {
    SCOPED_TRACE(name);
    const RunnerNetwork network = Example(name);
    const SystemMesh mesh = Meshed(network);
    for (const double angle : {0.1, 0.2, 0.7, 1.1, 2.9}) {
      const double c = std::cos(angle), s = std::sin(angle);
      RunnerNetwork moved = network;
      // Turned about z, then about x, and shifted.
      for (auto& [point, p] : moved.points) {
        const Vec3 q{c * p[0] - s * p[1], s * p[0] + c * p[1], p[2]};
        p = {q[0] + 13.7, c * q[1] - s * q[2] - 3.3, s * q[1] + c * q[2] + 0.9};
      }
      const SystemMesh other = Meshed(moved);
      ASSERT_EQ(other.nodes.size(), mesh.nodes.size()) << "turned by " << angle;
      ASSERT_EQ(other.elements.size(), mesh.elements.size()) << "turned by " << angle;
      for (std::size_t e = 0; e < mesh.elements.size(); ++e)
        ASSERT_EQ(other.elements[e].nodes, mesh.elements[e].nodes) << "turned by " << angle;
    }
  }
}
