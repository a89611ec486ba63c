// System files (the network a user writes) and the runner-length extent of
// junction files: what is read, what is refused and how the refusal is named.

#include "junction_call.h"
#include "junction_file.h"
#include "system_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

namespace {

using vela::io::ParseSystemFile;
using vela::io::SystemFileError;

// Three points, two runners; extra keys go in at the top level, runner0 is
// the first runner's body.
std::string System(const std::string& extra = "",
                   const std::string& runner0 = R"("from": "z", "to": "a", "radius": 2)") {
  return R"({"points": {"z": [0, 0, 0], "a": [30, 0, 0], "m": [30, 30, 0]},
             "runners": [{)" + runner0 + R"(},
                         {"from": "a", "to": "m", "radius": [3, 2.5]}])" + extra + "}";
}

std::string ErrorOf(const std::string& text) {
  try {
    ParseSystemFile(text);
  } catch (const SystemFileError& e) {
    return e.what();
  }
  return "(accepted)";
}

}  // namespace

// Every refusal is one line that starts with the key or point at fault.
TEST(SystemFile, BadFilesNameTheKeyAndTheProblem) {
  const struct {
    std::string text;
    const char* expected;
  } rows[] = {
      {"{", "not valid JSON"},
      {System(R"(, "gates": {})"), "gates: unknown key (expected name, points"},
      {System(R"(, "name": "")"), "name: must not be empty"},
      {R"({"runners": []})", "points: missing"},
      {R"({"points": {}})", "runners: missing"},
      {R"({"points": [], "runners": []})", "points: expected an object"},
      {R"({"points": {"s": [0, 0]}, "runners": []})", "points.s: expected 3 numbers"},
      {R"({"points": {"s": [0, 0, 0], "s": [1, 0, 0]}, "runners": []})", "points.s: given twice"},
      {R"({"points": {"a\"b": [0, 0, 0]}, "runners": []})", "points.a\"b: the name holds a double quote"},
      {R"({"points": {}, "runners": {}})", "runners: expected an array of runners"},
      {R"({"points": {}, "runners": [[]]})", "runners[0]: expected a runner"},
      {System("", R"("from": "z", "to": "a", "radius": 2, "length": 4)"),
       "runners[0].length: unknown key (expected from, to, radius)"},
      {System("", R"("from": "z", "to": "q", "radius": 2)"), "runners[0].to: no point named \"q\" in points"},
      {System("", R"("from": 7, "to": "a", "radius": 2)"), "runners[0].from: expected a point name, got 7"},
      {R"({"points": {"s": [0, 0, 0], "t": [9, 0, 0]}, "runners": [{"from": "s", "to": "t"}]})",
       "runners[0].radius: missing"},
      {System("", R"("from": "z", "to": "a", "radius": 0)"), "runners[0].radius: expected a radius above 0, got 0"},
      {System("", R"("from": "z", "to": "a", "radius": [3, -1])"),
       "runners[0].radius[1]: expected a radius above 0, got -1"},
      {System("", R"("from": "z", "to": "a", "radius": [1, 2, 3])"),
       "runners[0].radius: expected a radius or two [at from, at to]"},
      {System("", R"("from": "z", "to": "a", "radius": 1e400)"), "runners[0].radius: number overflow"},
      {System(R"(, "ends": [])"), "ends: expected an object of patch names"},
      {System(R"(, "ends": {"q": "gate"})"), "ends.q: no point named \"q\" in points"},
      {System(R"(, "ends": {"z": 3})"), "ends.z: expected a patch name, got 3"},
      {System(R"(, "ends": {"z": ""})"), "ends.z: the name is empty"},
      {System(R"(, "ends": {"z": "wall"})"), "ends.z: \"wall\" is the patch of the runner walls"},
      {System(R"(, "ends": {"z": "gate", "m": "gate"})"), "ends.m: patch name \"gate\" is already the end \"z\"'s"},
      {System(R"(, "margin": [5, 0])"), "margin[1]: expected an integer above 0, got 0"},
      {System(R"(, "first_circle_nodes": 8.5)"), "first_circle_nodes: expected an integer"},
      {System(R"(, "inner_layers": [0, "1"])"), "inner_layers[1]: expected a number"},
      {System(R"(, "axial_size": "1")"), "axial_size: expected a number"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    const std::string message = ErrorOf(row.text);
    EXPECT_EQ(message.rfind(row.expected, 0), 0u) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
  }
}

TEST(SystemFile, ReadsRadiusFormsKeepsFileOrderAndDefaults) {
  const vela::system::RunnerNetwork network =
      ParseSystemFile(System(R"(, "ends": {"m": "gate-1", "z": "inlet"})"));
  const vela::system::RunnerNetwork defaults;
  ASSERT_EQ(network.points.size(), 3u);
  // File order, not the sorted order a JSON object would give.
  EXPECT_EQ(network.points[0].first, "z");
  EXPECT_EQ(network.points[1].first, "a");
  EXPECT_EQ(network.points[2].first, "m");
  EXPECT_EQ(network.points[2].second, (vela::system::Vec3{30, 30, 0}));
  ASSERT_EQ(network.runners.size(), 2u);
  EXPECT_EQ(network.runners[0].radiusFrom, 2.0);  // one radius: both ends
  EXPECT_EQ(network.runners[0].radiusTo, 2.0);
  EXPECT_EQ(network.runners[1].radiusFrom, 3.0);  // [at from, at to]
  EXPECT_EQ(network.runners[1].radiusTo, 2.5);
  const std::vector<std::pair<std::string, std::string>> ends{{"m", "gate-1"}, {"z", "inlet"}};
  EXPECT_EQ(network.endNames, ends);
  EXPECT_EQ(network.name, "");
  EXPECT_EQ(network.section.firstCircleNodes, defaults.section.firstCircleNodes);
  EXPECT_EQ(network.section.innerLayers, defaults.section.innerLayers);
  EXPECT_EQ(network.section.outerLayers, defaults.section.outerLayers);
  EXPECT_EQ(network.section.innerShare, defaults.section.innerShare);
  EXPECT_EQ(network.section.outerShare, defaults.section.outerShare);
  EXPECT_EQ(network.marginA, 5);
  EXPECT_EQ(network.marginB, 1);
  EXPECT_EQ(network.axialSize, 1.0);

  const vela::system::RunnerNetwork set = ParseSystemFile(System(
      R"(, "name": "n", "first_circle_nodes": 6, "inner_layers": [0, 1], "outer_layers": [],
          "inner_share": 0.9, "outer_share": 0.1, "margin": [4, 2], "axial_size": 2.5)"));
  EXPECT_EQ(set.name, "n");
  EXPECT_EQ(set.section.firstCircleNodes, 6);
  EXPECT_EQ(set.section.innerLayers, (std::vector<double>{0, 1}));
  EXPECT_TRUE(set.section.outerLayers.empty());
  EXPECT_EQ(set.section.innerShare, 0.9);
  EXPECT_EQ(set.section.outerShare, 0.1);
  EXPECT_EQ(set.marginA, 4);
  EXPECT_EQ(set.marginB, 2);
  EXPECT_EQ(set.axialSize, 2.5);
}

TEST(SystemFile, ReadingNamesTheFileAndTakesItsStem) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "vela-system-file-test.json";
  std::ofstream(path) << System();
  EXPECT_EQ(vela::io::ReadSystemFile(path.string()).name, "vela-system-file-test");
  std::ofstream(path) << System(R"(, "name": "mine")");
  EXPECT_EQ(vela::io::ReadSystemFile(path.string()).name, "mine");
  std::ofstream(path) << System(R"(, "margin": [0, 1])");
  try {
    vela::io::ReadSystemFile(path.string());
    ADD_FAILURE() << "accepted";
  } catch (const SystemFileError& e) {
    EXPECT_EQ(std::string(e.what()), path.string() + ": margin[0]: expected an integer above 0, got 0");
  }
  std::filesystem::remove(path);
  EXPECT_THROW(vela::io::ReadSystemFile(path.string()), SystemFileError);
}

// "extent": "runner-length" takes the far points as directions only.
TEST(JunctionExtent, FarPointsLandAtTheRunnerLengthWhateverTheirGivenDistance) {
  const std::string tee = R"({"center": [1, 2, 3], "radii": [2, 2, 1.5, 1.5, 2, 2], "extent": "runner-length",
                              "far_points": )";
  const vela::io::JunctionFile near = vela::io::ParseJunction(tee + "[[8, 2, 3], [1, 9, 3], [-6, 2, 3]]}", "t");
  const vela::io::JunctionFile far = vela::io::ParseJunction(tee + "[[41, 2, 3], [1, 30, 3], [-19, 2, 3]]}", "t");
  ASSERT_EQ(near.extent, vela::io::JunctionFile::Extent::RunnerLength);
  const vela::io::JunctionFile placed = vela::host::PlaceFarPoints(near);
  EXPECT_EQ(placed.extent, vela::io::JunctionFile::Extent::AsGiven);
  // Far and junction radii are equal here, so the length table gives the distances.
  const std::vector<double> lengths = vela::host::RunnerLengths(near);
  ASSERT_EQ(lengths.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const auto& p = placed.farPoints[i];
    const std::array<double, 3> d{p[0] - 1, p[1] - 2, p[2] - 3};
    EXPECT_NEAR(std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]), lengths[i], 1e-9 * lengths[i]);
    const auto& given = near.farPoints[i];
    const std::array<double, 3> g{given[0] - 1, given[1] - 2, given[2] - 3};
    EXPECT_NEAR(d[0] * g[1] - d[1] * g[0], 0.0, 1e-9);  // same direction: no turn about z,
    EXPECT_GT(d[0] * g[0] + d[1] * g[1] + d[2] * g[2], 0.0);  // and not reversed
    EXPECT_EQ(vela::host::PlaceFarPoints(far).farPoints[i], p);
  }
  const vela::io::JunctionFile unplaced = vela::io::ParseJunction(
      R"({"center": [0, 0, 0], "far_points": [[9, 0, 0], [0, 9, 0]], "radii": [1, 1, 1, 1], "margin": [1, 2]})", "b");
  EXPECT_EQ(vela::host::PlaceFarPoints(unplaced).farPoints, unplaced.farPoints);  // old files as they were
}

TEST(JunctionExtent, OnlyRunnerLengthWithAUsableMargin) {
  const std::string bend = R"({"center": [0, 0, 0], "far_points": [[9, 0, 0], [0, 9, 0]], "radii": [1, 1, 1, 1])";
  const struct {
    std::string extra;
    const char* expected;
  } rows[] = {
      {R"(, "extent": "far"})", "extent: expected \"runner-length\""},
      {R"(, "extent": 1})", "extent: expected \"runner-length\""},
      // Integer division: 1 / 2 is 0, which makes every length infinite.
      {R"(, "extent": "runner-length", "margin": [1, 2]})", "margin: with \"extent\": \"runner-length\""},
      {R"(, "extent": "runner-length", "margin": [-5, 1]})", "margin: with \"extent\": \"runner-length\""},
      {R"(, "extent": "runner-length", "margin": [-2147483648, -1]})", "margin: with \"extent\""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.extra);
    try {
      vela::io::ParseJunction(bend + row.extra, "b");
      ADD_FAILURE() << "accepted";
    } catch (const vela::io::JunctionFileError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(row.expected, 0), 0u) << e.what();
    }
  }
}
