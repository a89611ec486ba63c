// The shipped example systems, read from their files: each meshes soundly
// with a patch per open end, and keeps its mesh wherever it lies.

#include "runner_system.h"
#include "system_checks.h"
#include "system_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>

using namespace vela::system;
using namespace vela::system::testing;

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

}  // namespace

TEST(SystemExamples, MeshSoundlyWithAPatchPerOpenEnd) {
  for (const char* name : {"h8", "fishbone", "two-levels", "single-bend"}) {
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
