// A census of seeded random runner trees: each is either refused with a
// named reason or meshed into a mesh the quality report finds sound, with a
// patch for every open end.

#include "memory_mesh.h"
#include "quality.h"
#include "runner_system.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>

using namespace vela::system;

namespace {

// A tree grown from a root: every point has up to three children in random
// directions mostly near the plane z = 0, at random lengths, with random
// radii and tapers, and random section settings.
RunnerNetwork RandomTree(std::uint32_t seed) {
  std::mt19937 random(seed);
  auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
  RunnerNetwork network;
  network.name = "tree-" + std::to_string(seed);
  network.section.firstCircleNodes = std::vector<int>{4, 6, 8}[random() % 3];
  network.axialSize = uniform(1.0, 4.0);
  network.points.push_back({"p0", {0, 0, 0}});
  // Open points: index, radius there, and the azimuth back along the runner
  // that reached it (the children spread round the rest of the turn).
  struct Open {
    int point;
    double radius;
    double back;
  };
  std::vector<Open> open{{0, 3.0, uniform(0, 6.3)}};
  const int target = 2 + static_cast<int>(random() % 6);
  for (int grown = 0; grown < target && !open.empty(); ++grown) {
    const Open parent = open.front();
    open.erase(open.begin());
    const int children = 1 + static_cast<int>(random() % 3);
    for (int c = 0; c < children; ++c) {
      const double azimuth = parent.back + (c + 1) * 6.2832 / (children + 1) + uniform(-0.25, 0.25);
      const double elevation = uniform(-0.04, 0.04);
      const double length = uniform(18, 45);
      const Vec3& from = network.points[static_cast<std::size_t>(parent.point)].second;
      const Vec3 to{from[0] + length * std::cos(azimuth) * std::cos(elevation),
                    from[1] + length * std::sin(azimuth) * std::cos(elevation),
                    from[2] + length * std::sin(elevation)};
      const std::string name = "p" + std::to_string(network.points.size());
      network.points.push_back({name, to});
      const double end = parent.radius * uniform(0.8, 1.0);
      network.runners.push_back({network.points[static_cast<std::size_t>(parent.point)].first, name,
                                 parent.radius, end});
      open.push_back({static_cast<int>(network.points.size()) - 1, std::max(1.2, end), azimuth + 3.14159});
    }
  }
  return network;
}

}  // namespace

TEST(SystemCensus, RandomTreesAreSoundOrRefusedWithAReason) {
  const std::set<std::string> reasons{"runner-too-short", "runners-cross", "junction", "point-too-sharp"};
  std::map<std::string, int> refused;
  int meshed = 0;
  for (std::uint32_t seed = 1; seed <= 30; ++seed) {
    const RunnerNetwork network = RandomTree(seed);
    const SystemOutcome outcome = MeshRunnerSystem(network, {});
    if (!outcome.ok) {
      EXPECT_TRUE(reasons.count(outcome.refusal.reason)) << network.name << ": " << outcome.refusal.reason
                                                         << ": " << outcome.refusal.message;
      ++refused[outcome.refusal.reason];
      continue;
    }
    ++meshed;
    MemoryMesh memory;
    WriteSolidMesh(outcome.mesh, memory);
    const vela::quality::QualityReport report =
        vela::quality::Assess(memory, vela::quality::DefaultTolerance(memory));
    EXPECT_FALSE(vela::quality::HasFaults(report)) << network.name << ": " << vela::quality::DescribeFaults(report);
    int ends = 0;
    std::map<std::string, int> degree;
    for (const SystemRunner& r : network.runners) ++degree[r.from], ++degree[r.to];
    for (const auto& [point, d] : degree) ends += d == 1;
    EXPECT_EQ(outcome.mesh.patches.size(), static_cast<std::size_t>(ends) + 1) << network.name;
  }
  // The trees are meant to be meshable for the most part.
  EXPECT_GE(meshed, 15);
  for (const auto& [reason, count] : refused) std::printf("refused %s: %d\n", reason.c_str(), count);
}
