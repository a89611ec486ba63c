// Which reason a network is refused for, and that the message names the
// point or runner concerned.

#include "runner_system.h"
#include "system_detail.h"
#include "test_networks.h"

#include <VelaJunction.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>

using namespace vela::system;
using vela::system::testing::Tee;

namespace {

struct Case {
  const char* reason;
  const char* named;  // a word the message must contain
  std::function<void(RunnerNetwork&)> spoil;
};

}  // namespace

TEST(SystemRefusal, EachSpoiledNetworkIsRefusedForItsReason) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Each case spoils the tee at c (open ends a, b, d) one way.
  const std::vector<Case> cases{
      {"no-runners", "no runner", [](RunnerNetwork& n) { n.runners.clear(); }},
      {"duplicate-point", "a", [](RunnerNetwork& n) { n.points.push_back({"a", {1, 1, 1}}); }},
      {"unknown-point", "x", [](RunnerNetwork& n) { n.runners[1].to = "x"; }},
      {"runner-degenerate", "c-c", [](RunnerNetwork& n) { n.runners[1].to = "c"; }},
      {"runner-degenerate", "given twice", [](RunnerNetwork& n) { n.runners.push_back({"a", "c", 2, 2}); }},
      {"runner-degenerate", "no length", [](RunnerNetwork& n) { n.points[2].second = {0, 0, 0}; }},
      {"radius", "c-b", [](RunnerNetwork& n) { n.runners[1].radiusTo = 0; }},
      {"radius", "c-b", [nan](RunnerNetwork& n) { n.runners[1].radiusFrom = nan; }},
      {"non-finite", "point b", [nan](RunnerNetwork& n) { n.points[2].second[1] = nan; }},
      {"settings", "axial size", [](RunnerNetwork& n) { n.axialSize = 0; }},
      {"settings", "margin", [](RunnerNetwork& n) { n.marginB = 0; }},
      {"settings", "section settings", [](RunnerNetwork& n) {
         n.section.firstCircleNodes = 7;
         n.runners = {{"a", "b", 2, 2}};  // no junction to refuse them
       }},
      {"settings", "odd-first-ring", [](RunnerNetwork& n) { n.section.firstCircleNodes = 7; }},
      {"settings", "check first_circle_nodes", [](RunnerNetwork& n) { n.section.firstCircleNodes = 2; }},
      {"settings", "check inner_layers, outer_layers", [](RunnerNetwork& n) { n.section.innerLayers = {0, 0.5, 0.4, 1}; }},
      {"settings", "check inner_share, outer_share", [](RunnerNetwork& n) { n.section.innerShare = 0.7; }},
      {"unknown-end", "point c", [](RunnerNetwork& n) { n.endNames = {{"c", "inlet"}}; }},
      {"unknown-end", "reserved", [](RunnerNetwork& n) { n.endNames = {{"a", "wall"}}; }},
      {"name-clash", "runner c-a-b", [](RunnerNetwork& n) {  // "c-a" to "b" and "c" to "a-b"
         n.points.push_back({"c-a", {0, -30, 0}});
         n.points.push_back({"a-b", {0, -60, 0}});
         n.runners.push_back({"c", "c-a", 2, 2});
         n.runners.push_back({"c-a", "b", 2, 2});
         n.runners.push_back({"c", "a-b", 2, 2});
       }},
      {"name-clash", "end-b", [](RunnerNetwork& n) { n.endNames = {{"a", "end-b"}}; }},
      {"disconnected", "pieces", [](RunnerNetwork& n) {
         n.points.push_back({"e", {100, 0, 0}});
         n.points.push_back({"f", {130, 0, 0}});
         n.runners.push_back({"e", "f", 2, 2});
       }},
      {"point-too-sharp", "point c", [](RunnerNetwork& n) {
         n.runners = {{"c", "a", 2, 2}, {"c", "e", 2, 2}};
         n.points.push_back({"e", {-30, 3, 0}});
       }},
      {"runner-too-short", "c-b", [](RunnerNetwork& n) {  // a second junction close to c
         n.points[2].second = {4, 0, 0};
         n.points.push_back({"e", {4, 30, 0}});
         n.points.push_back({"f", {4, -30, 0}});
         n.runners.push_back({"b", "e", 2, 2});
         n.runners.push_back({"b", "f", 2, 2});
       }},
      {"runners-cross", "c-b and d-e", [](RunnerNetwork& n) {
         n.points.push_back({"e", {30, -20, 0}});  // from d back across c-b
         n.runners.push_back({"d", "e", 2, 2});
       }},
      // A pair of runners, by their names: d four times as wide as a and b,
      // 40 degrees from b.
      {"junction",
       "(runners c-d and c-a) is 4 times the narrowest, limit 2.5: narrow the runner towards d or widen the one "
       "towards a at c",
       [](RunnerNetwork& n) {
         n.points = {{"c", {0, 0, 0}}, {"a", {-300, 0, 0}}, {"b", {300, 0, 0}}, {"d", {229.8, 192.8, 0}}};
         n.runners[2] = {"c", "d", 8, 8};
       }},
      {"junction", "bend at c: radius-ratio", [](RunnerNetwork& n) {
         n.points[1].second = {-200, 0, 0};
         n.points[3].second = {0, 200, 0};
         n.runners = {{"c", "a", 1, 1}, {"c", "d", 6, 6}};
       }},
  };
  for (const Case& c : cases) {
    RunnerNetwork network = Tee();
    c.spoil(network);
    const SystemOutcome outcome = MeshRunnerSystem(network);
    EXPECT_FALSE(outcome.ok) << c.reason << " " << c.named;
    EXPECT_EQ(outcome.refusal.reason, c.reason) << outcome.refusal.message;
    EXPECT_NE(outcome.refusal.message.find(c.named), std::string::npos)
        << c.reason << ": " << outcome.refusal.message;
    EXPECT_TRUE(outcome.mesh.nodes.empty() && outcome.mesh.elements.empty()) << c.reason;
  }
}

// A program acts on the record, not the line: the point and runner it is
// about, the library's own reason, and a measure that stands on the wrong
// side of its bound.
TEST(SystemRefusal, RecordNamesPointRunnerReasonAndMeasure) {
  using Unit = vela::JunctionRefusal::Unit;
  const struct {
    const char* reason;
    const char* point;
    const char* runner;
    vela::Refusal junction;
    Unit unit;
    bool overLimit;  // the measure is above its bound (below it otherwise)
    std::function<void(RunnerNetwork&)> spoil;
  } cases[] = {
      {"point-too-sharp", "c", "", vela::Refusal::None, Unit::Degrees, false,
       [](RunnerNetwork& n) {
         n.runners = {{"c", "a", 2, 2}, {"c", "e", 2, 2}};
         n.points.push_back({"e", {-30, 3, 0}});
       }},
      {"runner-too-short", "", "c-b", vela::Refusal::None, Unit::Length, false,
       [](RunnerNetwork& n) {
         n.points[2].second = {4, 0, 0};
         n.points.push_back({"e", {4, 30, 0}});
         n.points.push_back({"f", {4, -30, 0}});
         n.runners.push_back({"b", "e", 2, 2});
         n.runners.push_back({"b", "f", 2, 2});
       }},
      {"runners-cross", "", "c-b", vela::Refusal::None, Unit::Length, false,
       [](RunnerNetwork& n) {
         n.points.push_back({"e", {30, -20, 0}});
         n.runners.push_back({"d", "e", 2, 2});
       }},
      // d four times as wide as a and b, 40 degrees from b: the branches
      // run into each other.
      {"junction", "c", "c-d", vela::Refusal::RadiusRatio, Unit::Ratio, true,
       [](RunnerNetwork& n) {
         n.points = {{"c", {0, 0, 0}}, {"a", {-300, 0, 0}}, {"b", {300, 0, 0}}, {"d", {229.8, 192.8, 0}}};
         n.runners[2] = {"c", "d", 8, 8};
       }},
      {"settings", "", "", vela::Refusal::OddFirstRing, Unit::None, false,
       [](RunnerNetwork& n) { n.section.firstCircleNodes = 7; }},
      {"settings", "", "", vela::Refusal::Shares, Unit::None, false,
       [](RunnerNetwork& n) { n.section.innerShare = 0.7; }},
      {"radius", "", "c-b", vela::Refusal::None, Unit::Length, false,
       [](RunnerNetwork& n) { n.runners[1].radiusTo = -1; }},
      {"unknown-point", "x", "c-x", vela::Refusal::None, Unit::None, false,
       [](RunnerNetwork& n) { n.runners[1].to = "x"; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    RunnerNetwork network = Tee();
    c.spoil(network);
    const SystemRefusal why = MeshRunnerSystem(network).refusal;
    EXPECT_EQ(why.reason, c.reason) << why.message;
    EXPECT_EQ(why.point, c.point);
    EXPECT_EQ(why.runner, c.runner);
    EXPECT_EQ(why.junctionReason, c.junction);
    EXPECT_EQ(why.unit, c.unit);
    if (c.unit == Unit::None) {
      EXPECT_TRUE(std::isnan(why.value) && std::isnan(why.limit));
    } else {
      ASSERT_TRUE(std::isfinite(why.value) && std::isfinite(why.limit));
      EXPECT_EQ(why.value > why.limit, c.overLimit) << why.value << " against " << why.limit;
    }
    // The names in the record are the ones the line gives.
    if (*c.point) {
      EXPECT_NE(why.message.find(c.point), std::string::npos) << why.message;
    }
    if (*c.runner) {
      EXPECT_NE(why.message.find(c.runner), std::string::npos) << why.message;
    }
  }
}

TEST(SystemRefusal, ProgressCountsEveryJunctionAndRunnerOnce) {
  std::vector<std::pair<int, int>> calls;
  BuildOptions options;
  options.threads = 2;
  options.progress = [&](int done, int total) { calls.emplace_back(done, total); };
  ASSERT_TRUE(MeshRunnerSystem(vela::system::testing::H4(), options).ok);
  ASSERT_FALSE(calls.empty());
  const int all = 4 + 8;  // three junctions and a bend, eight runners
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].second, all);
    if (i > 0) {
      EXPECT_GE(calls[i].first, calls[i - 1].first);
    }
  }
  EXPECT_EQ(calls.back().first, all);
}

// The estimate is made from the settings before the section exists, so it
// must count the section the library then makes.
TEST(SystemSize, SectionCountIsTheLibrarysSection) {
  for (const int first : {4, 6, 10})
    for (const int inner : {1, 2, 5})
      for (const int outer : {0, 1, 3}) {
        SectionSettings settings;
        settings.firstCircleNodes = first;
        settings.innerLayers.assign(1, 0.0);
        for (int k = 1; k <= inner; ++k) settings.innerLayers.push_back(double(k) / inner);
        settings.outerLayers.clear();
        for (int k = 0; outer > 0 && k <= outer; ++k) settings.outerLayers.push_back(double(k) / outer);
        if (outer == 0) settings.innerShare = 1, settings.outerShare = 0;
        const vela::CrossSection cross = detail::ToCrossSection(settings);
        ASSERT_EQ(vela::CheckCrossSection(cross).reason, vela::Refusal::None);
        const vela::SectionPattern pattern = vela::MakeSectionPattern(cross);
        const detail::SectionCount count = detail::CountSection(settings);
        EXPECT_EQ(count.nodes, double(pattern.places.size())) << first << " " << inner << " " << outer;
        EXPECT_EQ(count.faces, double(pattern.faces.size())) << first << " " << inner << " " << outer;
      }
}

// The bound is the estimate's: a system meshes under a bound of exactly its
// estimate and is refused, naming it, under anything less.
TEST(SystemSize, MemoryBoundRefusesBelowTheEstimateAndMeshesAtIt) {
  BuildOptions options;
  options.memoryLimit = 1000.0;
  const SystemRefusal why = MeshRunnerSystem(vela::system::testing::H4(), options).refusal;
  ASSERT_EQ(why.reason, "too-large") << why.message;
  EXPECT_EQ(why.unit, vela::JunctionRefusal::Unit::Bytes);
  EXPECT_EQ(why.limit, 1000.0);
  ASSERT_GT(why.value, 1000.0);
  options.memoryLimit = std::nextafter(why.value, 0.0);
  EXPECT_EQ(MeshRunnerSystem(vela::system::testing::H4(), options).refusal.value, why.value);
  options.memoryLimit = why.value;
  const SystemOutcome meshed = MeshRunnerSystem(vela::system::testing::H4(), options);
  ASSERT_TRUE(meshed.ok) << meshed.refusal.message;
  // An estimate, not a guess: within a small factor of what the mesh holds.
  const double held = 24.0 * double(meshed.mesh.nodes.size()) + 40.0 * double(meshed.mesh.elements.size());
  EXPECT_GT(why.value, held);
  EXPECT_LT(why.value, 100 * held);
}

// A typo in a ring count or an axial size is refused at once with its
// estimate, before the section or any junction is made.
TEST(SystemSize, HugeSettingsAreRefusedInAMoment) {
  const auto started = std::chrono::steady_clock::now();
  RunnerNetwork bend = Tee();
  bend.runners.pop_back();  // a bend at c
  bend.section.firstCircleNodes = 100000;
  bend.section.innerLayers.assign(1, 0.0);
  for (int k = 1; k <= 20; ++k) bend.section.innerLayers.push_back(k / 20.0);
  RunnerNetwork fine = Tee();
  fine.axialSize = 1e-9;
  for (RunnerNetwork* network : {&bend, &fine})
    for (const double limit : {0.0, 8e9}) {
      BuildOptions options;
      options.memoryLimit = limit;
      const SystemRefusal why = MeshRunnerSystem(*network, options).refusal;
      EXPECT_EQ(why.reason, "too-large") << why.message;
      EXPECT_EQ(why.unit, vela::JunctionRefusal::Unit::Count);
      EXPECT_GT(why.value, why.limit);
    }
  BuildOptions options;  // a ring count that fits an int, but not the bound
  options.memoryLimit = 8e9;
  bend.section.firstCircleNodes = 2000;
  const SystemRefusal why = MeshRunnerSystem(bend, options).refusal;
  EXPECT_EQ(why.reason, "too-large") << why.message;
  EXPECT_EQ(why.unit, vela::JunctionRefusal::Unit::Bytes);
  EXPECT_GT(why.value, 8e9);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
}

// A runner too short for the regions at its ends: the line says by how much,
// and the fixes it offers work. The margin it names is the smallest that
// gives the runner room; an open end is the point to move.
TEST(SystemRefusal, ARunnerTooShortIsGivenFixesThatWork) {
  RunnerNetwork network = Tee();  // junctions at c and b, 4.5 apart
  network.points[2].second = {4.5, 0, 0};
  network.points.push_back({"e", {4.5, 30, 0}});
  network.points.push_back({"f", {4.5, -30, 0}});
  network.runners.push_back({"b", "e", 2, 2});
  network.runners.push_back({"b", "f", 2, 2});
  const SystemRefusal why = MeshRunnerSystem(network).refusal;
  ASSERT_EQ(why.reason, "runner-too-short") << why.message;
  EXPECT_EQ(why.runner, "c-b");
  EXPECT_NE(why.message.find("runner c-b is 4.5 long, more than 4.8 needed"), std::string::npos) << why.message;
  EXPECT_NE(why.message.find("move c and b further apart"), std::string::npos) << why.message;
  const std::string raise = "raise margin to ";
  const std::size_t at = why.message.find(raise);
  ASSERT_NE(at, std::string::npos) << why.message;
  const int margin = std::stoi(why.message.substr(at + raise.size()));
  network.marginA = margin;
  EXPECT_NE(MeshRunnerSystem(network).refusal.reason, "runner-too-short") << "margin " << margin;
  network.marginA = margin - 1;
  EXPECT_EQ(MeshRunnerSystem(network).refusal.reason, "runner-too-short") << "margin " << margin - 1;

  // An open end 2 from the junction, inside its region: moved away, it fits.
  RunnerNetwork stub = Tee();
  stub.points[3].second = {0, 2, 0};
  const SystemRefusal near = MeshRunnerSystem(stub).refusal;
  ASSERT_EQ(near.reason, "runner-too-short") << near.message;
  EXPECT_NE(near.message.find("runner c-d is 2 long"), std::string::npos) << near.message;
  EXPECT_NE(near.message.find(": move d away from c"), std::string::npos) << near.message;
  EXPECT_EQ(near.message.find("margin"), std::string::npos) << "no margin gives a runner this short room";
  stub.points[3].second = {0, near.limit + 1, 0};
  EXPECT_TRUE(MeshRunnerSystem(stub).ok);
}
