// The files a user writes: junction files and system files. What is read,
// what is refused and how the refusal is named; and the runner-length extent
// of a junction file.

#include "junction_call.h"
#include "junction_file.h"
#include "system_file.h"
#include "tool_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

using namespace vela::io;
using vela::testing::MessageOf;

namespace {

using Point = std::array<double, 3>;

// A tee; more keys replace the ones before them.
std::string Junction(const std::string& extra) {
  return R"({"center": [0, 0, 0], "far_points": [[9, 0, 0], [0, 9, 0], [-9, 0, 0]], "radii": [1, 1, 1, 1, 1, 1])" +
         extra + "}";
}

// Three points, two runners; extra keys go in at the top level, runner0 is the first runner's body.
std::string System(const std::string& extra = "",
                   const std::string& runner0 = R"("from": "z", "to": "a", "radius": 2)") {
  return R"({"points": {"z": [0, 0, 0], "a": [30, 0, 0], "m": [30, 30, 0]}, "runners": [{)" + runner0 +
         R"(}, {"from": "a", "to": "m", "radius": [3, 2.5]}])" + extra + "}";
}

std::string Runner0(const std::string& body) { return System("", R"("from": "z", )" + body); }

// The settings both kinds of file share, in one comparable piece.
auto Settings(const JunctionFile& j) {
  return std::make_tuple(j.name, j.innerShare, j.outerShare, j.firstCircleNodes, j.innerLayers, j.outerLayers,
                         j.margin[0], j.margin[1]);
}
auto Settings(const vela::system::RunnerNetwork& n) {
  return std::make_tuple(n.name, n.section.innerShare, n.section.outerShare, n.section.firstCircleNodes,
                         n.section.innerLayers, n.section.outerLayers, n.marginA, n.marginB);
}

// Each refusal is one line that starts with the key or point at fault.
template <typename Error, typename Parse>
void ExpectRefusal(Parse parse, const std::string& text, const std::string& start) {
  SCOPED_TRACE(text);
  const std::string message = MessageOf<Error>([&] { parse(text); });
  EXPECT_EQ(message.rfind(start, 0), 0u) << message;
  EXPECT_EQ(message.find('\n'), std::string::npos) << message;
}

}  // namespace

// Every key is read; a key left out keeps its default.
TEST(InputFiles, ReadEveryKeyAndKeepTheDefaults) {
  const std::string keys = R"(, "name": "n", "first_circle_nodes": 6, "inner_layers": [0, 1], "outer_layers": [],
      "inner_share": 0.9, "outer_share": 0.1, "margin": [4, 2])";
  const auto set = std::make_tuple(std::string("n"), 0.9, 0.1, 6, std::vector<double>{0, 1}, std::vector<double>{},
                                   4, 2);
  JunctionFile defaults;
  defaults.name = "hint";
  EXPECT_EQ(Settings(ParseJunction(Junction(""), "hint")), Settings(defaults));
  EXPECT_EQ(Settings(ParseJunction(Junction(keys), "hint")), set);
  EXPECT_EQ(Settings(ParseSystemFile(System())), Settings(vela::system::RunnerNetwork{}));
  EXPECT_EQ(Settings(ParseSystemFile(System(keys))), set);
  EXPECT_EQ(ParseSystemFile(System()).axialSize, vela::system::RunnerNetwork{}.axialSize);
  EXPECT_EQ(ParseSystemFile(System(R"(, "axial_size": 2.5)")).axialSize, 2.5);

  const JunctionFile j = ParseJunction(R"({"center": [1, 2, 3], "far_points": [[10, 0, 0], [0, 10, 0], [-10, 0, 0]],
                                           "radii": [1, 1.5, 1, 1.5, 2, 2.5]})", "hint");
  EXPECT_EQ(std::tie(j.center, j.radii, j.farPoints),
            std::make_tuple(Point{1, 2, 3}, std::vector<double>{1, 1.5, 1, 1.5, 2, 2.5},
                            std::vector<Point>{{10, 0, 0}, {0, 10, 0}, {-10, 0, 0}}));
  const vela::system::RunnerNetwork network = ParseSystemFile(System(R"(, "ends": {"m": "gate-1", "z": "inlet"})"));
  std::vector<std::string> order;  // the file's, not the sorted order a JSON object would give
  for (const auto& [name, at] : network.points) order.push_back(name);
  EXPECT_EQ(order, (std::vector<std::string>{"z", "a", "m"}));
  EXPECT_EQ(network.points[2].second, (vela::system::Vec3{30, 30, 0}));
  ASSERT_EQ(network.runners.size(), 2u);  // one radius for both ends, or [at from, at to]
  EXPECT_EQ(std::tie(network.runners[0].radiusFrom, network.runners[0].radiusTo), std::make_tuple(2.0, 2.0));
  EXPECT_EQ(std::tie(network.runners[1].radiusFrom, network.runners[1].radiusTo), std::make_tuple(3.0, 2.5));
  EXPECT_EQ(network.endNames, (std::vector<std::pair<std::string, std::string>>{{"m", "gate-1"}, {"z", "inlet"}}));
}

TEST(JunctionFile, BadFilesNameTheKey) {
  const std::string bend = R"({"center": [0, 0, 0], "far_points": [[9, 0, 0], [0, 9, 0]], "radii": [1, 1, 1, 1])";
  const std::pair<std::string, std::string> rows[] = {
      {"{\"center\": [0, 0, 0],", "not valid JSON"},
      {"[1, 2, 3]", "expected a JSON object"},
      {Junction(R"(, "centre": [0, 0, 0])"), "centre: "},
      {R"({"far_points": [[9, 0, 0], [0, 9, 0]], "radii": [1, 1, 1, 1]})", "center: "},
      {Junction(R"(, "center": [0, 0])"), "center: "},
      {Junction(R"(, "center": [0, "1", 0])"), "center[1]: "},
      {R"({"center": [0, 0, 0], "far_points": [[9, 0, 0]], "radii": [1, 1]})", "far_points: "},
      {Junction(R"(, "far_points": [[9, 0, 0], [0, 9], [-9, 0, 0]])"), "far_points[1]: "},
      {Junction(R"(, "radii": [1, 1, 1, 1, 1])"), "radii: "},
      {Junction(R"(, "radii": [1, -1e400, 1, 1, 1, 1])"), "radii[1]: "},
      {Junction(R"(, "first_circle_nodes": 8.5)"), "first_circle_nodes: "},
      {Junction(R"(, "first_circle_nodes": 3000000000)"), "first_circle_nodes: "},
      {Junction(R"(, "margin": [5])"), "margin: "},
      {Junction(R"(, "margin": [5, 1.5])"), "margin[1]: "},
      {Junction(R"(, "inner_layers": 0.5)"), "inner_layers: "},
      {Junction(R"(, "outer_layers": [0, null])"), "outer_layers[1]: "},
      {Junction(R"(, "inner_share": 1e400)"), "inner_share: "},
      {Junction(R"(, "name": "")"), "name: "},
      {bend + R"(, "extent": "far"})", "extent: expected \"runner-length\""},
      {bend + R"(, "extent": 1})", "extent: expected \"runner-length\""},
      // A margin that gives no usable length: 1 / 2 is 0 in integer division, which makes every length infinite.
      {bend + R"(, "extent": "runner-length", "margin": [1, 2]})", "margin: with \"extent\": \"runner-length\""},
      {bend + R"(, "extent": "runner-length", "margin": [-5, 1]})", "margin: with \"extent\": \"runner-length\""},
      {bend + R"(, "extent": "runner-length", "margin": [-2147483648, -1]})", "margin: with \"extent\""},
      {Junction(R"(, "units": "ft")"), "units: expected one of \"mm\", \"cm\", \"m\", \"in\", got \"ft\""},
      {Junction(R"(, "units": "MM")"), "units: expected one of"},
      {Junction(R"(, "units": 0.001)"), "units: expected one of"},
  };
  for (const auto& [text, start] : rows)
    ExpectRefusal<JunctionFileError>([](const std::string& t) { ParseJunction(t, "hint"); }, text, start);
}

TEST(SystemFile, BadFilesNameTheKeyAndTheProblem) {
  const std::pair<std::string, std::string> rows[] = {
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
      {Runner0(R"("to": "a", "radius": 2, "length": 4)"), "runners[0].length: unknown key (expected from, to, radius)"},
      {Runner0(R"("to": "q", "radius": 2)"), "runners[0].to: no point named \"q\" in points"},
      {System("", R"("from": 7, "to": "a", "radius": 2)"), "runners[0].from: expected a point name, got 7"},
      {Runner0(R"("to": "a")"), "runners[0].radius: missing"},
      {Runner0(R"("to": "a", "radius": 0)"), "runners[0].radius: expected a radius above 0, got 0"},
      {Runner0(R"("to": "a", "radius": [3, -1])"), "runners[0].radius[1]: expected a radius above 0, got -1"},
      {Runner0(R"("to": "a", "radius": [1, 2, 3])"), "runners[0].radius: expected a radius or two [at from, at to]"},
      {Runner0(R"("to": "a", "radius": 1e400)"), "runners[0].radius: number overflow"},
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
      {System(R"(, "units": "metre")"), "units: expected one of \"mm\", \"cm\", \"m\", \"in\", got \"metre\""},
  };
  const auto parse = [](const std::string& text) { return ParseSystemFile(text); };
  for (const auto& [text, start] : rows) ExpectRefusal<SystemFileError>(parse, text, start);
}

// Lengths are millimetres unless the file names another unit.
TEST(InputFiles, UnitsDefaultToMillimetres) {
  EXPECT_EQ(ParseJunction(Junction(""), "t").units, "mm");
  EXPECT_EQ(ParseJunction(Junction(R"(, "units": "in")"), "t").units, "in");
  std::string units = "unset";
  ParseSystemFile(System(), units);
  EXPECT_EQ(units, "mm");
  ParseSystemFile(System(R"(, "units": "cm")"), units);
  EXPECT_EQ(units, "cm");
}

// Read from a file, the name defaults to the file's stem and every message starts with the path.
TEST(InputFiles, ReadFromAFileTakeTheStemAndNameThePath) {
  const vela::testing::TempFolder folder;
  EXPECT_EQ(ReadJunctionFile(folder.Write("my-tee.json", Junction(""))).name, "my-tee");
  EXPECT_EQ(ReadSystemFile(folder.Write("my-system.json", System())).name, "my-system");
  EXPECT_EQ(ReadSystemFile(folder.Write("named.json", System(R"(, "name": "mine")"))).name, "mine");
  const std::string absent = folder.File("absent.json");
  for (const std::string& path : {absent, folder.Write("bad-tee.json", Junction(R"(, "radii": 3)"))})
    ExpectRefusal<JunctionFileError>(ReadJunctionFile, path, path + ": ");
  for (const std::string& path : {absent, folder.Write("bad-system.json", System(R"(, "margin": [0, 1])"))})
    ExpectRefusal<SystemFileError>([](const std::string& file) { return ReadSystemFile(file); }, path, path + ": ");
}

// "extent": "runner-length" takes the far points as directions only.
TEST(JunctionExtent, FarPointsLandAtTheRunnerLengthWhateverTheirGivenDistance) {
  const std::string tee =
      R"({"center": [1, 2, 3], "radii": [2, 2, 1.5, 1.5, 2, 2], "extent": "runner-length", "far_points": )";
  const JunctionFile near = ParseJunction(tee + "[[8, 2, 3], [1, 9, 3], [-6, 2, 3]]}", "t");
  const JunctionFile far = ParseJunction(tee + "[[41, 2, 3], [1, 30, 3], [-19, 2, 3]]}", "t");
  const JunctionFile placed = vela::host::PlaceFarPoints(near);
  EXPECT_EQ(placed.extent, JunctionFile::Extent::AsGiven);
  // Far and junction radii are equal here, so the length table gives the distances.
  const std::vector<double> lengths = vela::host::RunnerLengths(near);
  ASSERT_EQ(lengths.size(), 3u);
  const auto fromCenter = [](const Point& p) { return Point{p[0] - 1, p[1] - 2, p[2] - 3}; };
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const Point d = fromCenter(placed.farPoints[i]), g = fromCenter(near.farPoints[i]);
    EXPECT_NEAR(std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]), lengths[i], 1e-9 * lengths[i]);
    EXPECT_NEAR(d[0] * g[1] - d[1] * g[0], 0.0, 1e-9);        // same direction: no turn about z,
    EXPECT_GT(d[0] * g[0] + d[1] * g[1] + d[2] * g[2], 0.0);  // and not reversed
    EXPECT_EQ(vela::host::PlaceFarPoints(far).farPoints[i], placed.farPoints[i]);
  }
  const JunctionFile asGiven = ParseJunction(Junction(R"(, "margin": [1, 2])"), "b");
  EXPECT_EQ(vela::host::PlaceFarPoints(asGiven).farPoints, asGiven.farPoints);  // files without the key as they were
}
