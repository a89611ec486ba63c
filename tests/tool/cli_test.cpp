// vela-mesh's subcommands, as functions and as the executable: exit status,
// what they print and what they leave on disk.

#include "batch_command.h"
#include "commands.h"
#include "junction_mesher.h"
#include "mesh_file.h"
#include "refusal_text.h"
#include "system_command.h"
#include "system_mesh_file.h"
#include "tool_test_support.h"
#include "vtu_arrays.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <regex>
#include <set>

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;  // keys in the order the tool prints them
using vela::cli::RunOptions;
using vela::cli::SummaryStyle;
using vela::testing::ReadText;

// A junction file: the three runners of a tee (two for a bend) and more keys,
// which replace the ones before them.
std::string Junction(const std::string& extra, bool bend = false) {
  return std::string(R"({"center": [0, 0, 0], "far_points": [[9, 0, 0], [0, 9, 0])") +
         (bend ? R"(], "radii": [1, 1, 1, 1])" : R"(, [-9, 0, 0]], "radii": [1, 1, 1, 1, 1, 1])") + extra + "}";
}
// The junction of the library's golden tee (tests/golden/tee-golden.json), without its name.
const char* const kTee = R"({"center": [0, 0, 0], "far_points": [[12, 0, 0], [0, 12, 0], [-12, 0, 0]],
  "radii": [1.5, 1.5, 1, 1, 1.5, 1.5], "first_circle_nodes": 6, "inner_layers": [0, 0.5, 1], "outer_layers": [0, 1]})";
// A sprue, a bend and a runner to one gate, on coarse sections so that it
// meshes quickly even under the sanitizers.
std::string System(const std::string& extra = "", const std::string& gate = "[20, 0, 0]") {
  return R"({"name": "small", "points": {"in": [0, 0, 20], "b": [0, 0, 0], "g": )" + gate + R"(},
    "runners": [{"from": "in", "to": "b", "radius": [1.5, 2]}, {"from": "b", "to": "g", "radius": 2}],
    "ends": {"in": "inlet", "g": "gate-1"}, "first_circle_nodes": 4, "inner_layers": [0, 0.5, 1],
    "outer_layers": [0, 1], "axial_size": 2)" + extra + "}";
}

class Cli : public vela::testing::CommandTest {
protected:
  static RunOptions With(SummaryStyle summary, const std::string& format = "") {
    RunOptions options;
    options.summary = summary;
    options.format = format;
    return options;
  }
};

}  // namespace

// The JSON summary counts what the files hold; a junction is meshed as the
// library's golden test meshes it.
TEST_F(Cli, WritesEveryFormatAndSummarisesWhatTheFilesHold) {
  for (const bool system : {false, true}) {
    SCOPED_TRACE(system ? "system" : "junction");
    const std::string stem = Path(system ? "s" : "t");
    const std::vector<std::string> outputs = {stem + ".mesh.json", stem + ".vtu", stem + ".msh", stem + ".svg"};
    std::ostringstream out, err;
    const RunOptions options = With(SummaryStyle::Json);
    ASSERT_EQ(system ? vela::cli::RunSystem(Write("small.json", System()), outputs, 2, out, err, options)
                     : vela::cli::RunJunction(VELA_GOLDEN_DIR "/tee-golden.json", outputs, options, out, err), 0)
        << err.str();
    EXPECT_EQ(err.str(), "");
    const json summary = json::parse(out.str());
    std::vector<std::string> written = outputs;
    if (system) written.insert(written.begin() + 2, stem + ".patches.vtu");
    EXPECT_EQ(summary["written"], json(written));
    for (const std::string& o : written) EXPECT_TRUE(fs::exists(o)) << o;
    EXPECT_EQ(summary["quality"]["has_faults"], false);
    const vela::io::MeshDocument back = vela::io::ReadMesh(stem + ".msh");
    EXPECT_EQ(std::make_tuple(summary["nodes"], summary["elements"], summary["by_kind"]),
              std::make_tuple(json(back.mesh.GetNodeCount()), json(back.mesh.GetElementCount()),
                              vela::cli::ByKindJson(back.mesh)));
    EXPECT_NE(ReadText(stem + ".svg").find(system ? ">small<" : ">tee-golden<"), std::string::npos) << "titled";
    if (system) {  // what the network is made of, and the faces per patch
      EXPECT_EQ(summary["meshed"], json::parse(R"({"junctions": 0, "bends": 1, "runners": 2})"));
      json faces = json::object(), dump = json::parse(ReadText(stem + ".mesh.json"));
      for (const auto& [patch, list] : dump["patches"].items()) faces[patch] = list.size();
      EXPECT_EQ(summary["patches"], faces);
    } else {  // the golden test's mesh, and the quality travels with it
      const MemoryMesh golden = vela::io::ReadMesh(VELA_GOLDEN_DIR "/tee-golden.mesh.json").mesh;
      EXPECT_EQ(back.mesh.GetNodeCount(), golden.GetNodeCount());
      EXPECT_EQ(vela::cli::ByKindJson(back.mesh), vela::cli::ByKindJson(golden));
      EXPECT_EQ(back.kind, "nway");
      EXPECT_NE(ReadText(stem + ".vtu").find("Name=\"scaled_jacobian\""), std::string::npos);
    }
  }
}

// A system's volume .vtu carries each cell's kind and scaled Jacobian as a
// junction's does, in the file's cell order, and check knows it for a system.
TEST_F(Cli, SystemVtuCarriesEachCellsKindAndScaledJacobian) {
  for (const vela::io::Encoding encoding : {vela::io::Encoding::Ascii, vela::io::Encoding::Binary}) {
    RunOptions options = With(SummaryStyle::Json);
    options.write.encoding = encoding;
    std::ostringstream out, err;
    ASSERT_EQ(vela::cli::RunSystem(Write("small.json", System()), {Path("s.vtu")}, 1, out, err, options), 0) << err.str();
    const double smallest = json::parse(out.str())["quality"]["min_scaled_jacobian"].get<double>();

    const vela::io::MeshDocument back = vela::io::ReadMesh(Path("s.vtu"));
    EXPECT_EQ(back.kind, "system");
    const std::string text = ReadText(Path("s.vtu"));
    const vela::io::detail::VtuFile file(text);
    const pugi::xml_node cells = file.Root().child("UnstructuredGrid").child("Piece").child("CellData");
    const auto array = [&](const char* name) { return cells.find_child_by_attribute("DataArray", "Name", name); };
    ASSERT_TRUE(array("kind") && array("scaled_jacobian"));
    const size_t count = back.mesh.elements.size();
    const std::vector<long long> place = file.Integers(array("element"), count, 0, static_cast<long long>(count) - 1);
    const std::vector<long long> kind = file.Integers(array("kind"), count, 4, 8);
    const std::vector<double> scaled = file.Reals(array("scaled_jacobian"), count);
    for (size_t c = 0; c < count; ++c) {
      const MeshElement& element = back.mesh.elements[static_cast<size_t>(place[c])];
      EXPECT_EQ(kind[c], element.CornerCount()) << c;
      EXPECT_EQ(scaled[c], vela::quality::ScaledJacobian(back.mesh, element)) << c;
    }
    EXPECT_EQ(*std::min_element(scaled.begin(), scaled.end()), smallest);

    std::ostringstream checked, checkErr;
    ASSERT_EQ(vela::cli::RunCheck(Path("s.vtu"), std::nullopt, SummaryStyle::Text, checked, checkErr), 0);
    EXPECT_EQ(checked.str().find(Path("s.vtu") + ": system mesh, "), 0u) << checked.str();
  }
}

// Bad input (an output of unknown format, a file that cannot be used, a
// junction or network refused) is status 2, a file that cannot be written 1:
// one line that names what the user gave, escaped, and nothing written.
TEST_F(Cli, EachFailureHasItsStatusAndOneLineAndWritesNothing) {
  const std::string tee = Write("tee.json", kTee), system = Write("small.json", System());
  const struct {
    bool system;
    std::string file;
    std::vector<std::string> outputs;
    int status;
    std::string said;
  } rows[] = {
      {false, Write("key.json", Junction(R"(, "a\nb\u0000c": 1)")), {Path("a.vtu")}, 2, "a\\nb\\x00c: unknown key"},
      {false, Write("name.json", Junction(R"(, "name": "te\nst", "inner_share": 0.5)")), {Path("a.vtu")}, 2,
       "te\\nst: refused"},
      {false, tee, {Path("t.vtu"), Path("t.stl")}, 2, ".stl"},  // before anything is meshed
      // Named as given, not by its temporary name.
      {false, tee, {Path("no/t.vtu")}, 1, "cannot write '" + Path("no/t.vtu") + "' (No such file or directory)\n"},
      {true, system, {Path("s.vtu"), Path("s.stl")}, 2, ".stl"},
      {true, Path("missing.json"), {Path("s.stl")}, 2, ".stl"},  // outputs are checked first
      {true, Path("missing.json"), {Path("s.vtu")}, 2, Path("missing.json") + ": cannot read the file"},
      {true, Write("bad.json", System(R"(, "margin": [5, 0])")), {Path("s.vtu")}, 2,
       Path("bad.json") + ": margin[1]: expected an integer above 0, got 0"},
      // The runner to the gate turns back along the sprue, 6 degrees off it.
      {true, Write("sharp.json", System("", "[2, 0, 19]")), {Path("s.vtu")}, 2, "small: refused (point-too-sharp): "},
      {true, system, {Path("no/s.vtu")}, 1, Path("no/s.")},
      // The gate inside the bend's region: how short, how long it must be, and what to move.
      {true, Write("short.json", System("", "[2, 0, 0]")), {Path("s.vtu")}, 2,
       "small: refused (runner-too-short): runner b-g is 2 long, more than 2.4 needed (the regions at b and g take "
       "2.4 and 0): move g away from b\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file + " -o " + row.outputs[0]);
    const int before = FileCount();
    std::ostringstream out, err;
    EXPECT_EQ(row.system ? vela::cli::RunSystem(row.file, row.outputs, 2, out, err)
                         : vela::cli::RunJunction(row.file, row.outputs, {}, out, err), row.status);
    const std::string said = err.str();
    EXPECT_NE(said.find(row.said), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << "one line: " << said;
    EXPECT_EQ(FileCount(), before) << "nothing written";
    EXPECT_EQ(out.str(), "");
  }
}

// The library's reason in its own words (what it measured against the bound,
// where it measured something), and the key of the junction file (or the
// runner) to change, on one line with status 2, nothing written.
TEST_F(Cli, RefusalsNameTheReasonAndWhatToChange) {
  std::string fineRings = R"(, "inner_layers": [0)";
  for (int i = 1; i <= 1000; ++i) fineRings += ", " + std::to_string(i / 1000.0);
  const struct {
    std::string text;
    vela::Refusal reason;
    std::string words;  // a pattern of the words; empty: the reason's description
    const char* subject;
  } rows[] = {
      {Junction(R"(, "inner_share": 0.5)"), vela::Refusal::Shares, "", "check inner_share, outer_share"},
      {Junction(R"(, "first_circle_nodes": 2)"), vela::Refusal::FirstRingTooSmall,
       "the first ring has 2 nodes, at least 4 needed", "check first_circle_nodes"},
      {Junction(R"(, "first_circle_nodes": -4)"), vela::Refusal::FirstRingTooSmall,
       "the first ring has -4 nodes, at least 4 needed", "check first_circle_nodes"},
      {Junction(R"(, "first_circle_nodes": 7)", true), vela::Refusal::OddFirstRing, "", "check first_circle_nodes"},
      {Junction(R"(, "far_points": [[9, 0, 0], [0, 0, 0], [-9, 0, 0]])"), vela::Refusal::FarPointDegenerate, "",
       "check runner 1 (far_points[1])"},
      {Junction(R"(, "radii": [1, 1, 1, 1, 1, -1])"), vela::Refusal::RadiusNotPositive, "",
       "check runner 2 (radii[4], radii[5])"},
      {Junction(R"(, "outer_layers": [0, 0.6, 0.5, 1])"), vela::Refusal::LayerOrder, "", "check outer_layers"},
      // 5 degrees apart, 30 needed.
      {Junction(R"(, "far_points": [[9, 0, 0], [8.965752, 0.7843996, 0], [-9, 0, 0]])"),
       vela::Refusal::NeighboursTooClose, "runners 0 and 1 are 5 degrees apart, at least 30 degrees needed",
       "check runners 0 and 1 (far_points[0], radii[0], radii[1], far_points[1], radii[2], radii[3])"},
      // 40 degrees apart, but radius 4.5 cylinders cut into each other up to 4.5 / tan(20 degrees) = 12.36.
      {Junction(R"(, "far_points": [[9, 0, 0], [6.894399988070802, 5.785088487178853, 0], [-9, 0, 0]],)"
                R"( "radii": [4.5, 4.5, 4.5, 4.5, 4.5, 4.5])"),
       vela::Refusal::NeighboursTooClose,
       "runners 0 and 1: the shorter ends 9 from the centre, where their cylinders still cut into each other up "
       "to 12\\.36: move its far point out",
       "check runners 0 and 1 (far_points[0], radii[0], radii[1], far_points[1], radii[2], radii[3])"},
      // Ten thousand million nodes a section: refused, not an abort.
      {Junction(R"(, "first_circle_nodes": 100000)" + fineRings + "]", true), vela::Refusal::TooLarge,
       "the junction needs [1-9]\\d{10,} nodes or elements, limit [1-9]\\d+",
       "check first_circle_nodes, inner_layers, outer_layers"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text.substr(0, 200));
    std::ostringstream out, err;
    EXPECT_EQ(vela::cli::RunJunction(Write("bad.json", row.text), {Path("bad.vtu")}, {}, out, err), 2);
    const std::string said = err.str();
    const std::string head = std::string("bad: refused (") + vela::RefusalName(row.reason) + "): ";
    const std::string tail = std::string("; ") + row.subject + "\n";
    ASSERT_TRUE(said.size() > head.size() + tail.size() && said.compare(0, head.size(), head) == 0 &&
                said.compare(said.size() - tail.size(), tail.size(), tail) == 0)
        << said;
    const std::string words = said.substr(head.size(), said.size() - head.size() - tail.size());
    if (row.words.empty())
      EXPECT_EQ(words, vela::RefusalDescription(row.reason));
    else
      EXPECT_TRUE(std::regex_match(words, std::regex(row.words))) << words;
    EXPECT_EQ(FileCount(), 1) << "only the junction file itself";
  }
}

TEST(RefusalLine, PairsOutOfRangeRunnersAndFaultsOfTheSoftware) {
  const vela::io::JunctionFile tee = vela::io::ParseJunction(Junction(""), "tee");
  const std::pair<vela::JunctionRefusal, const char*> rows[] = {
      {{vela::Refusal::NeighboursTooClose, 1, 2},
       "check runners 1 and 2 (far_points[1], radii[2], radii[3], far_points[2], radii[4], radii[5])"},
      {{vela::Refusal::Elevation, 7, -1}, "check far_points"},  // a runner the file does not have
      {{vela::Refusal::LayerOrder, -1, -1}, "check inner_layers, outer_layers"},  // both lists rise
      {{vela::Refusal::UnsoundResult, -1, -1},
       "nothing in the junction file: a fault of the library, please report it with this file"},
      {{vela::Refusal::NullPointer, -1, -1}, "nothing in the junction file: a fault of vela-mesh, please report it"},
      {{vela::Refusal::None, -1, -1}, "the library named no reason"},
  };
  for (const auto& [why, subject] : rows) EXPECT_EQ(vela::host::RefusalSubject(tee, why), subject);
  EXPECT_EQ(vela::host::RefusalLine(tee, {}), "tee: refused: the library named no reason");
  // Words for the measure when there is one; a unit without a value is no measure.
  using Unit = vela::JunctionRefusal::Unit;
  EXPECT_EQ(vela::host::RefusalLine(tee, {vela::Refusal::Elevation, 2, -1, 33.2, 10, Unit::Degrees}),
            "tee: refused (elevation): runner 2 leaves the junction plane at 33.2 degrees, limit 10 degrees; "
            "check runner 2 (far_points[2])");
  EXPECT_EQ(vela::host::RefusalLine(tee, {vela::Refusal::Elevation, 2, -1, NAN, 10, Unit::Degrees}),
            std::string("tee: refused (elevation): ") + vela::RefusalDescription(vela::Refusal::Elevation) +
                "; check runner 2 (far_points[2])");
}

// A tolerance of 0 or more, a readable mesh without faults, or the faults by
// element with status 3.
TEST_F(Cli, CheckReportsFaultsWithStatusThree) {
  ASSERT_EQ(vela::cli::RunJunction(Write("tee.json", kTee), {Path("tee.msh")}, {}, out_, err_), 0);
  vela::io::MeshDocument flipped = vela::io::ReadMesh(Path("tee.msh"));
  std::swap(flipped.mesh.elements[7].nodes[1], flipped.mesh.elements[7].nodes[2]);  // one prism inside out
  std::swap(flipped.mesh.elements[7].nodes[4], flipped.mesh.elements[7].nodes[5]);
  vela::io::WriteMesh(Path("flipped.vtu"), flipped, {});
  const struct {
    std::string file;
    std::optional<double> tol;
    int status;
    std::string said;
  } rows[] = {{Path("tee.msh"), std::nullopt, 0, ""},     {Path("tee.msh"), 0.0, 0, ""},
              {Path("flipped.vtu"), std::nullopt, 3, "inverted elements 1: 7\n"},
              {Path("missing.vtu"), std::nullopt, 2, Path("missing.vtu")},
              {Path("tee.msh"), -1.0, 2, "--tol: "},      {Path("tee.msh"), -0.0 - 1e-300, 2, "--tol: "},
              {Path("tee.msh"), double(NAN), 2, "--tol: "}, {Path("tee.msh"), HUGE_VAL, 2, "--tol: "}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file + " --tol " + (row.tol ? std::to_string(*row.tol) : "none"));
    std::ostringstream out, err;
    EXPECT_EQ(vela::cli::RunCheck(row.file, row.tol, SummaryStyle::Text, out, err), row.status);
    EXPECT_NE(err.str().find(row.said), std::string::npos) << err.str();
    EXPECT_EQ(out.str().empty(), row.status == 2);
  }
}

// The scaled-Jacobian floor and checkMesh's limits make faults as the
// element checks do: status 3 with a line naming the limit, the files written
// all the same. The tee's smallest score is 0.382: a floor of 0.5 fails it,
// 0.3 passes it. A floor the score cannot reach or pass is bad input before
// anything is read or meshed.
TEST_F(Cli, MeshesUnderTheFloorAreFaults) {
  const std::string tee = Write("tee.json", kTee);
  ASSERT_EQ(vela::cli::RunJunction(tee, {Path("tee.msh")}, {}, out_, err_), 0) << err_.str();
  EXPECT_NE(out_.str().find("min determinant "), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("max skewness "), std::string::npos) << out_.str();
  RunOptions options = With(SummaryStyle::Json);
  for (const double floor : {0.3, 0.5}) {
    SCOPED_TRACE(floor);
    options.limits.minScaledJacobian = floor;
    const int expected = floor < 0.382 ? 0 : 3;
    std::ostringstream checked, checkErr, meshed, meshErr;
    EXPECT_EQ(vela::cli::RunCheck(Path("tee.msh"), std::nullopt, SummaryStyle::Text, checked, checkErr, options.limits),
              expected);
    EXPECT_EQ(checkErr.str().find("poor cells ") != std::string::npos, expected == 3) << checkErr.str();
    EXPECT_NE(checked.str().find("(scaled Jacobian under " + std::string(floor < 0.4 ? "0.3" : "0.5") + ")"),
              std::string::npos) << checked.str();
    EXPECT_EQ(vela::cli::RunJunction(tee, {Path("t.vtu")}, options, meshed, meshErr), expected);
    const json summary = json::parse(meshed.str());
    EXPECT_EQ(summary["quality"]["limits"]["min_scaled_jacobian"], floor);
    EXPECT_EQ(summary["quality"]["has_faults"], expected == 3);
    EXPECT_GT(summary["quality"]["finite_volume"]["internal_faces"].get<long long>(), 0);
    EXPECT_EQ(summary["written"], json::array({Path("t.vtu")}));
  }

  const std::string system = Write("small.json", System());
  Write("in/tee.json", kTee);
  for (const double floor : {std::nan(""), 1.5, -1.01}) {
    SCOPED_TRACE(floor);
    options.limits.minScaledJacobian = floor;
    std::ostringstream out, err;
    EXPECT_EQ(vela::cli::RunCheck(Path("missing.msh"), std::nullopt, SummaryStyle::Text, out, err, options.limits), 2);
    EXPECT_EQ(vela::cli::RunJunction(tee, {Path("u.vtu")}, options, out, err), 2);
    EXPECT_EQ(vela::cli::RunSystem(system, {Path("s.vtu")}, 1, out, err, options), 2);
    EXPECT_EQ(vela::cli::RunBatch(Path("in"), Path("out"), {}, options, out, err), 2);
    EXPECT_EQ(vela::cli::RunDemo(Path("demo"), Path("in"), options, out, err), 2);
    EXPECT_EQ(err.str().find("--min-sj: expected a scaled Jacobian from -1 to 1"), 0u) << err.str();
    EXPECT_EQ(out.str(), "");
  }
  EXPECT_EQ(vela::testing::Entries(folder_.path), (std::set<std::string>{"in", "small.json", "t.vtu", "tee.json", "tee.msh"}));
}

// Poor cells that the section brings to every runner end: a first ring of
// 16 with its first inner layer a tenth of the radius deep makes prisms of
// about 0.11 in any straight runner, and no junction with that section can
// do better; the faults say so and what to change. Poor cells of the
// junction's own (the tee at a floor of 0.5, its section's straight cells
// 0.85) get no such line; nor does a section whose layers are even and first
// ring small, when only the floor is out of reach (0.9).
TEST_F(Cli, PoorCellsOfTheSectionItselfAreNamedWithWhatToChange) {
  const std::string crowded = R"(, "first_circle_nodes": 16, "inner_layers": [0, 0.1, 0.5, 1])";
  const std::string bend = Write("b16.json", Junction(crowded, true));
  EXPECT_EQ(vela::cli::RunJunction(bend, {}, {}, out_, err_), 3);
  const std::regex named("the section itself makes cells under the floor: a straight runner with "
                         "first_circle_nodes 16 and inner_layers 0 0.1 0.5 1 has a scaled Jacobian of "
                         "0\\.1[0-9]{2} at best, under --min-sj 0\\.200; inner layers spaced more evenly and a "
                         "first ring of fewer nodes give it better cells\n");
  EXPECT_TRUE(std::regex_search(err_.str(), named)) << err_.str();

  RunOptions floor;
  floor.limits.minScaledJacobian = 0.5;
  const std::string tee = Write("tee.json", kTee);
  std::ostringstream teeOut, teeErr;
  EXPECT_EQ(vela::cli::RunJunction(tee, {}, floor, teeOut, teeErr), 3);
  EXPECT_NE(teeErr.str().find("poor cells "), std::string::npos) << teeErr.str();
  EXPECT_EQ(teeErr.str().find("the section itself"), std::string::npos) << teeErr.str();

  floor.limits.minScaledJacobian = 0.9;
  std::ostringstream evenOut, evenErr;
  EXPECT_EQ(vela::cli::RunJunction(Write("even.json", Junction("", true)), {}, floor, evenOut, evenErr), 3);
  EXPECT_NE(evenErr.str().find("the section itself makes cells under the floor"), std::string::npos) << evenErr.str();
  EXPECT_EQ(evenErr.str().find("give it better cells"), std::string::npos) << evenErr.str();

  std::ostringstream systemOut, systemErr;
  std::string system = System();
  const std::string coarse = R"("first_circle_nodes": 4, "inner_layers": [0, 0.5, 1])";
  system.replace(system.find(coarse), coarse.size(), crowded.substr(2));
  EXPECT_EQ(vela::cli::RunSystem(Write("s16.json", system), {}, 1, systemOut, systemErr, {}), 3);
  EXPECT_TRUE(std::regex_search(systemErr.str(), named)) << systemErr.str();
}

// The straight runner bounds what a junction's cells reach: its runner ends
// are those cells. Moving the junction or scaling it changes nothing.
TEST(SectionScaledJacobian, BoundsTheJunctionsOwnCellsAndKeepsToTheSectionAlone) {
  const vela::io::JunctionFile tee = vela::io::ParseJunction(kTee, "tee");
  const vela::cli::MeshedJunction meshed = vela::cli::MeshJunction(tee);
  ASSERT_TRUE(meshed.ok);
  double worst = 1.0;
  for (const MeshElement& e : meshed.document.mesh.elements)
    worst = std::min(worst, vela::quality::ScaledJacobian(meshed.document.mesh, e));
  const double section = vela::cli::SectionScaledJacobian(tee);
  EXPECT_LE(worst, section + 1e-9);
  EXPECT_GT(section, 0.8);
  vela::io::JunctionFile moved = tee;
  moved.center = {40, -7, 3};
  for (auto& p : moved.farPoints) p = {p[0] * 3 + 40, p[1] * 3 - 7, p[2] * 3 + 3};
  for (double& r : moved.radii) r *= 3;
  EXPECT_NEAR(vela::cli::SectionScaledJacobian(moved), section, 1e-9);
  vela::io::JunctionFile crowded = tee;
  crowded.firstCircleNodes = 16;
  crowded.innerLayers = {0, 0.1, 0.5, 1};
  EXPECT_LT(vela::cli::SectionScaledJacobian(crowded), 0.2);
}

// Answers the library should never give: far nodes or nodes that are not
// finite are its fault, reported as such, and no file can hold them.
// The wall against the channel is judged where the runners are known: the
// tee of radii 2, 1.5 and 2 on its runner lengths leaves it by 16.9 % of the
// radius as constructed, and not at all improved.
TEST_F(Cli, AWallOutsideTheChannelIsAFaultUnlessOnlyReported) {
  const std::string tee = Write("wide.json", R"({"center": [0, 0, 0], "far_points": [[20, 0, 0], [0, 20, 0],
    [-20, 0, 0]], "radii": [2, 2, 1.5, 1.5, 2, 2], "extent": "runner-length"})");
  RunOptions constructed;
  constructed.asConstructed = true;
  EXPECT_EQ(vela::cli::RunJunction(tee, {Path("c.vtu")}, constructed, out_, err_), 3);
  EXPECT_NE(err_.str().find("wall outside the channel: 16.9 % of the local radius at node "), std::string::npos)
      << err_.str();
  EXPECT_NE(err_.str().find("over --max-wall 2.0 %"), std::string::npos) << err_.str();
  EXPECT_TRUE(std::filesystem::exists(Path("c.vtu")));  // written, as for the other faults found after meshing

  constructed.maxWall = -1.0;
  std::ostringstream reported, reportedErr;
  EXPECT_EQ(vela::cli::RunJunction(tee, {}, constructed, reported, reportedErr), 0) << reportedErr.str();
  EXPECT_NE(reported.str().find("16.9 % of the local radius"), std::string::npos) << reported.str();

  std::ostringstream improved, improvedErr;
  EXPECT_EQ(vela::cli::RunJunction(tee, {}, {}, improved, improvedErr), 0) << improvedErr.str();
  EXPECT_NE(improved.str().find(" 0.0 % of the local radius"), std::string::npos) << improved.str();
}

TEST_F(Cli, NonFiniteCoordinatesFromTheLibraryAreFaultsNotWriteFailures) {
  const vela::io::JunctionFile tee = vela::io::ParseJunction(kTee, "tee");
  const vela::cli::MeshedJunction good = vela::cli::MeshJunction(tee);
  ASSERT_TRUE(good.ok);
  vela::cli::MeshedJunction farNode = good, node = good;
  farNode.document.farNodes[1][2] = HUGE_VAL;
  node.document.mesh.nodes[5][0] = NAN;
  for (const auto& [meshed, named] :
       {std::pair{&farNode, "non-finite far nodes 1: 1\n"}, {&node, "non-finite nodes 1: node 5\n"}}) {
    std::ostringstream err;
    vela::quality::QualityReport report;
    EXPECT_EQ(vela::cli::WriteMeshed(tee, *meshed, {Path("tee.vtu"), Path("tee.svg")}, {}, report, err, err), 3);
    EXPECT_EQ(err.str().rfind("tee: the library's mesh holds coordinates that are not finite; nothing was written:\n",
                              0), 0u) << err.str();
    EXPECT_NE(err.str().find(named), std::string::npos) << err.str();
    EXPECT_EQ(FileCount(), 0);
  }
}

// No outputs: the report alone. The tolerance the summary names is the one
// check takes for the written mesh.
TEST_F(Cli, ReportOnlyRunsAndOneToleranceForJunctionAndCheck) {
  const std::string tee = Write("tee.json", kTee);
  ASSERT_EQ(vela::cli::RunJunction(tee, {}, {}, out_, err_), 0) << err_.str();
  EXPECT_NE(out_.str().find("coincident nodes: within "), std::string::npos) << out_.str();
  EXPECT_EQ(out_.str().find("wrote"), std::string::npos);
  EXPECT_EQ(FileCount(), 1);

  std::ostringstream summary, report, quiet;
  ASSERT_EQ(vela::cli::RunJunction(tee, {Path("tee.vtu")}, With(SummaryStyle::Json), summary, err_), 0);
  ASSERT_EQ(vela::cli::RunCheck(Path("tee.vtu"), std::nullopt, SummaryStyle::Json, report, err_), 0);
  const json meshed = json::parse(summary.str()), checked = json::parse(report.str());
  EXPECT_EQ(meshed["quality"]["coincidence_tolerance"], checked["quality"]["coincidence_tolerance"]);
  EXPECT_EQ(meshed["nodes"], checked["nodes"]);
  EXPECT_EQ(vela::cli::RunJunction(tee, {}, With(SummaryStyle::Quiet), quiet, err_), 0);
  EXPECT_EQ(quiet.str(), "");
}

// "-o -": the mesh on the output stream in --format, the summary on the
// error stream; a system's .vtu is its volume alone, no patches anywhere.
// And the command lines that cannot mean anything.
TEST_F(Cli, MeshOnTheOutputStreamParses) {
  const std::string tee = Write("tee.json", kTee), system = Write("s.json", System());
  for (const char* format : {"json", "vtu", "msh"}) {
    SCOPED_TRACE(format);
    std::ostringstream out, err;
    ASSERT_EQ(vela::cli::RunJunction(tee, {"-"}, With(SummaryStyle::Text, format), out, err), 0) << err.str();
    const vela::io::MeshFormat parsed = vela::io::MeshFormatFromPath(std::string("x.") + format);
    const int nodes = vela::io::ParseMesh(out.str(), parsed).mesh.GetNodeCount();
    EXPECT_NE(err.str().find(" " + std::to_string(nodes) + " after"), std::string::npos) << err.str();
  }
  std::ostringstream volume, summary;
  ASSERT_EQ(vela::cli::RunSystem(system, {"-"}, 1, volume, err_, With(SummaryStyle::Quiet, "vtu")), 0) << err_.str();
  ASSERT_EQ(vela::cli::RunSystem(system, {}, 1, summary, err_, With(SummaryStyle::Json)), 0);
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(vela::io::ParseMesh(volume.str(), vela::io::MeshFormat::Vtu).mesh.GetElementCount(),
            json::parse(summary.str())["elements"].get<int>());
  EXPECT_EQ(volume.str().find("Name=\"patch\""), std::string::npos);
  EXPECT_EQ(FileCount(), 2);

  const std::pair<std::vector<std::string>, RunOptions> wrong[] = {
      {{"-"}, With(SummaryStyle::Text)},       {{"-", "-"}, With(SummaryStyle::Text, "vtu")},
      {{"-"}, With(SummaryStyle::Json, "vtu")}, {{Path("t.vtu")}, With(SummaryStyle::Text, "msh")},
      {{Path("t.stl")}, With(SummaryStyle::Text)}};
  for (const auto& [outputs, options] : wrong) {
    std::ostringstream out, err;
    EXPECT_EQ(vela::cli::RunJunction(tee, outputs, options, out, err), 2);
    EXPECT_EQ(vela::cli::RunSystem(system, outputs, 1, out, err, options), 2);
    EXPECT_EQ(out.str(), "");
  }
  EXPECT_EQ(FileCount(), 2);
}

// Every readable file is meshed whatever came before it; the failures are
// listed at the end; the status is the worst; outputs are named by file.
TEST_F(Cli, BatchMeshesEveryReadableFileAndExitsWithTheWorstStatus) {
  Write("in/a-unreadable.json", "{not json");  // creates in/
  Write("in/b-refused.json", Junction(R"(, "inner_share": 0.5)"));
  Write("in/c-tee.json", std::string(R"({"name": "../x", )") + (kTee + 1));
  Write("in/d-system.json", System());
  Write("in/old.mesh.json", "{}");  // a mesh dump: skipped
  ASSERT_EQ(vela::cli::RunBatch(Path("in"), Path("out"), {"vtu", "msh"}, With(SummaryStyle::Json), out_, err_), 2);
  const json summary = json::parse(out_.str());
  EXPECT_EQ(std::make_tuple(summary["status"], summary["failed"]), std::make_tuple(json(2), json(2)));
  json files = json::array();  // status and type of each
  for (const json& file : summary["files"]) files.push_back({file["status"], file["type"]});
  EXPECT_EQ(files, json::parse(R"([[2, null], [2, "junction"], [0, "junction"], [0, "system"]])"));
  EXPECT_EQ(vela::testing::Entries(Path("out")),
            (std::set<std::string>{"c-tee.vtu", "c-tee.msh", "d-system.vtu", "d-system.patches.vtu", "d-system.msh"}));
  const std::string failures = err_.str();
  EXPECT_NE(failures.find("2 of 4 files failed:\n  a-unreadable.json (status 2)\n"), std::string::npos) << failures;
  EXPECT_NE(failures.find("b-refused.json (status 2)\n    b-refused: refused (shares)"), std::string::npos) << failures;

  std::ostringstream out, err;  // a folder that cannot be created is the disk's fault
  EXPECT_EQ(vela::cli::RunBatch(Path("in"), Path("in/c-tee.json/out"), {}, {}, out, err), 1) << err.str();
}

// The tables account for every file: one that cannot be read is a row with
// its error, under the system table when it has a system file's keys.
TEST_F(Cli, BatchTableHasARowForEveryFileItCouldNotRead) {
  Write("in/a-unreadable.json", "{not json");
  Write("in/b-tee.json", kTee);
  Write("in/c-system.json", System());
  Write("in/d-bad-system.json", System(R"(, "margin": [5, 0])"));
  Write("in/e-neither.json", R"({"hello": 1})");
  ASSERT_EQ(vela::cli::RunBatch(Path("in"), Path("out"), {"json"}, {}, out_, err_), 2);
  std::vector<std::string> rows;  // each table's rows, by the file's stem, with what follows it
  std::istringstream lines(out_.str());
  for (std::string line; std::getline(lines, line);)
    if (!line.empty() && line.rfind("junction ", 0) != 0 && line.rfind("system ", 0) != 0) rows.push_back(line);
  ASSERT_EQ(rows.size(), 5u) << out_.str();
  const std::regex expected[] = {
      std::regex("^a-unreadable +not read: .*JSON.*"), std::regex("^b-tee +nway +3 .*none$"),
      std::regex("^e-neither +not read: neither a junction file .*"), std::regex("^c-system +0 +1 .*none$"),
      std::regex("^d-bad-system +not read: margin.*")};
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_TRUE(std::regex_match(rows[i], expected[i])) << rows[i];
  EXPECT_NE(err_.str().find("3 of 5 files failed"), std::string::npos) << err_.str();
}

// Two files that would write one name, even in different case: refused
// before anything is written.
TEST_F(Cli, BatchRefusesDuplicateOutputNamesBeforeWriting) {
  Write("in/tee.json", kTee);
  Write("in/TEE.json", kTee);
  Write("in/sys.json", System());
  Write("in/sys.patches.json", kTee);  // its .vtu is the system's patches file
  for (const std::vector<std::string>& formats : {std::vector<std::string>{"svg"}, {"vtu"}}) {
    std::ostringstream out, err;
    EXPECT_EQ(vela::cli::RunBatch(Path("in"), Path("out"), formats, {}, out, err), 2);
    EXPECT_NE(err.str().find("both TEE.json and tee.json would write it"), std::string::npos) << err.str();
    EXPECT_EQ(err.str().find("sys.patches.json") != std::string::npos, formats[0] == "vtu") << err.str();
    EXPECT_FALSE(fs::exists(Path("out")));
    EXPECT_EQ(out.str(), "");
  }
}

// A script reads a refused system from standard output as a record: what it
// is about, the library's reason behind it and the measure, null where they
// do not apply; the exit status stays that of a refusal.
TEST_F(Cli, RefusedSystemUnderJsonPrintsItsRecord) {
  const struct {
    std::string text;
    const char* refusal;  // the record, but for the message
  } rows[] = {
      {System("", "[1, 0, 19]"),
       R"({"reason":"point-too-sharp","point":"b","runner":null,"limit":20.0,"unit":"degrees","junction_reason":null})"},
      {System(R"(, "inner_share": 0.7)"),
       R"({"reason":"settings","point":null,"runner":null,"limit":null,"unit":null,"junction_reason":"shares"})"},
  };
  for (const auto& row : rows) {
    std::ostringstream out, err;
    EXPECT_EQ(vela::cli::RunSystem(Write("s.json", row.text), {}, 1, out, err, With(SummaryStyle::Json)), 2);
    json printed = json::parse(out.str());
    EXPECT_EQ(printed["status"], 2);
    json refusal = printed["refusal"];
    EXPECT_NE(err.str().find(refusal["message"].get<std::string>()), std::string::npos) << err.str();
    const bool measured = !refusal["value"].is_null();
    EXPECT_EQ(measured, !refusal["unit"].is_null());
    if (measured) {
      EXPECT_LT(refusal["value"].get<double>(), refusal["limit"].get<double>());
    }
    refusal.erase("message");
    refusal.erase("value");
    EXPECT_EQ(refusal, json::parse(row.refusal));
  }
}

// Every phase of a system's run shows on the progress line once the run has
// gone on long enough (here at once), in order, and messages still come out
// on lines of their own; without progress, nothing but the messages.
TEST_F(Cli, SystemProgressShowsEveryPhase) {
  for (const bool shown : {true, false}) {
    RunOptions options = With(SummaryStyle::Quiet);
    options.progress = shown;
    options.progressAfter = std::chrono::milliseconds(0);
    std::ostringstream out, err;
    ASSERT_EQ(vela::cli::RunSystem(Write("small.json", System()), {Path("s.msh"), Path("no/s.vtu")}, 1, out, err,
                                   options),
              1);
    const std::string said = err.str();
    std::vector<size_t> at;
    for (const char* phase : {"\rmeshing junctions and bends: 1 of 3", "\rmeshing junctions and bends: 3 of 3",
                              "\rchecking the mesh: 2 of 2", "\rwriting the outputs: 1 of 2", "\ncannot write"})
      at.push_back(said.find(phase));
    if (shown) {
      EXPECT_EQ(std::count(at.begin(), at.end(), std::string::npos), 0) << said;
      EXPECT_TRUE(std::is_sorted(at.begin(), at.end())) << said;
    } else {
      EXPECT_EQ(said.rfind("cannot write", 0), 0u) << said;
    }
  }
}

// --memory-limit takes sizes as memory is sold, and nothing else.
TEST(MemoryLimit, SizesParseAsPowersOf1024AndNothingElse) {
  const struct {
    const char* text;
    double bytes;  // -1: refused
  } rows[] = {{"0", 0},      {"1000", 1000},       {"512M", 512.0 * (1 << 20)}, {"4G", 4.0 * (1 << 30)},
              {"4gib", 4.0 * (1 << 30)}, {"1.5k", 1536},   {"2TB", 2 * 1099511627776.0}, {"", -1},
              {"4x", -1},    {"-1G", -1},          {"nan", -1},                 {"inf", -1},
              {" 4G", -1},   {"4 G", -1},          {"G", -1},                   {"4GG", -1}};
  for (const auto& row : rows) {
    double bytes = -1;
    std::string problem;
    const bool parsed = vela::cli::ParseMemorySize(row.text, bytes, problem);
    EXPECT_EQ(parsed, row.bytes >= 0) << row.text;
    EXPECT_EQ(problem.empty(), parsed) << row.text;
    if (parsed) {
      EXPECT_EQ(bytes, row.bytes) << row.text;
    }
  }
}

// The executable: --version, its option parser, and the statuses as a shell
// sees them; what must end in a message rather than an abort.
TEST_F(Cli, ExecutableExitsWithItsStatus) {
  const auto quoted = [this](const std::string& name) { return " '" + Path(name) + "'"; };
  Write("tee.json", kTee);
  Write("small.json", System());
  Write("bad.json", System(R"(, "margin": [5, 0])"));
  Write("zero.json", Junction(R"(, "margin": [5, 0])"));
  Write("shares.json", Junction(R"(, "inner_share": 0.7)"));
  Write("sharp.json", System("", "[1, 0, 19]"));
  Write("in/tee.json", std::string(R"({"name": "../../escaped", )") + (kTee + 1));  // names table rows, never files
  std::string big = R"({"center": [0, 0, 0], "far_points": [[20, 0, 0], [0, 20, 0], [-20, 0, 0]],
    "radii": [2, 2, 2, 2, 2, 2], "first_circle_nodes": 400, "inner_layers": [0)";
  for (int i = 1; i <= 50; ++i) big += ", " + std::to_string(i / 50.0);
  Write("big.json", big + "]}");
  // A first ring of 100,000 nodes and 20 rings: hundreds of gigabytes,
  // refused by its estimate before anything is allocated.
  std::string huge = R"({"center": [0, 0, 0], "far_points": [[20, 0, 0], [0, 20, 0]], "radii": [2, 2, 2, 2],
    "first_circle_nodes": 100000, "inner_layers": [0)";
  for (int i = 1; i <= 20; ++i) huge += ", " + std::to_string(i / 20.0);
  Write("huge.json", huge + "]}");
  std::string hugeSystem = System(), rings = R"("first_circle_nodes": 100000, "inner_layers": [0)";
  for (int i = 1; i <= 20; ++i) rings += ", " + std::to_string(i / 20.0);
  const std::string section = R"("first_circle_nodes": 4, "inner_layers": [0, 0.5, 1])";
  Write("hugesys.json", hugeSystem.replace(hugeSystem.find(section), section.size(), rings + "]"));  // on a bend
  const struct {
    std::string arguments;
    int status;
    std::string said;  // a pattern in what it prints: the error stream, "|", the output stream's start
    bool limitMemory;
  } rows[] = {
      {"--version", 0, "^\\|vela-mesh [0-9]+\\.[0-9]+\\.[0-9]+\n$", false},
      {"junction" + quoted("tee.json") + " --json", 0, "^\\|\\{\"name\":\"tee\"", false},
      // Refused under --json: the refusal on standard output as well.
      {"junction" + quoted("shares.json") + " --json", 2,
       "\\|\\{\"name\":\"shares\",\"status\":2,\"refusal\":\\{\"reason\":\"shares\"", false},
      {"system" + quoted("sharp.json") + " --json", 2,
       "\\|\\{\"name\":\"small\",\"status\":2,\"refusal\":\\{\"reason\":\"point-too-sharp\"", false},
      {"junction" + quoted("tee.json") + " -o - --format msh --quiet", 0, "^\\|\\$MeshFormat\n", false},
      // Margin 5/1 and the largest far radius 1.5: 1.5 * (1 + 1/5) = 1.8 for every runner, to every digit.
      {"length" + quoted("tee.json") + " --json", 0, "^\\|\\{\"lengths\": \\[(1\\.(8|79{14}8)(, |\\]\\}\n$)){3}", false},
      {"length" + quoted("tee.json"), 0, "^\\|runner .*\n0 .* 1\\.8\n", false},
      {"length" + quoted("zero.json") + " --json", 2, "margin", false},
      {"junction" + quoted("tee.json") + " -o - --format stl", 2, "", false},
      {"junction" + quoted("tee.json") + " --ascii --binary", 2, "", false},
      {"junction" + quoted("tee.json") + " -o" + quoted("t.svg") + " --azimuth nan", 2, "--azimuth: expected", false},
      {"junction" + quoted("tee.json") + " -o" + quoted("t.svg") + " --elevation -inf", 2, "--elevation: exp", false},
      {"demo -o" + quoted("demo") + " --azimuth inf", 2, "--azimuth: expected a finite angle", false},
      {"junction" + quoted("missing.json") + " -o" + quoted("t.vtu"), 2, "missing.json", false},
      {"check" + quoted("t.msh") + " --tol -1", 2, "--tol: expected a distance of 0 or more, got -1", false},
      {"check" + quoted("t.msh") + " --min-sj 2", 2, "^--min-sj: expected a scaled Jacobian from -1 to 1, got 2\n",
       false},
      {"junction" + quoted("tee.json") + " --min-sj 0.5 --quiet", 3, "^tee: the mesh has faults:\npoor cells ",
       false},
      {"batch" + quoted("in") + " -o" + quoted("out") + " --format svg --quiet", 0, "^\\|$", false},
      {"system" + quoted("small.json") + " -o" + quoted("q.msh") + " -q", 0, "^\\|$", false},
      {"demo --examples" + quoted("in") + " -o" + quoted("examples"), 0, "", false},
      {"system" + quoted("small.json") + " -o" + quoted("s.msh") + " --threads 1", 0, "", false},
      {"system" + quoted("small.json") + " -o" + quoted("no/s.msh"), 1, "", false},
      {"system" + quoted("small.json") + " -o" + quoted("no/s.vtu"), 1, "cannot write '[^']*no/s\\.vtu'", false},
      {"system" + quoted("bad.json") + " -o" + quoted("s.msh"), 2, "", false},
      {"system" + quoted("small.json") + " -o" + quoted("s.msh") + " --threads -1", 2, "", false},
      {"junction" + quoted("huge.json") + " -o" + quoted("huge.vtu"), 2,
       "^huge: refused \\(too-large\\): the junction would take about [0-9.e+]+ GB of memory, limit", false},
      {"system" + quoted("hugesys.json") + " -o" + quoted("huge.vtu") + " --json", 2,
       "^small: refused \\(too-large\\): the system would take about [0-9.]+ GB of memory, limit[^|]*"
       "\\|\\{.*\"reason\":\"too-large\"", false},
      {"junction" + quoted("tee.json") + " --memory-limit 1K", 2,
       "^tee: refused \\(too-large\\): the junction would take about [0-9.e+-]+ GB of memory, limit 1\\.02e-06 GB",
       false},
      {"system" + quoted("small.json") + " --memory-limit 1K", 2,
       "^small: refused \\(too-large\\): the system would take about [0-9.]+ [kM]B of memory, limit 1\\.02 kB", false},
      {"batch" + quoted("in") + " -o" + quoted("out") + " --memory-limit 1K --quiet", 2, "escaped: refused \\(too-large\\)",
       false},
      {"system" + quoted("small.json") + " --memory-limit 1Q", 2, "^--memory-limit: expected bytes", false},
      {"junction" + quoted("tee.json") + " --memory-limit 0 -q", 0, "^\\|$", false},
      // 11 million nodes, within the memory bound, in 400 MB of address space:
      // out of memory, said so.
      {"junction" + quoted("big.json") + " -o" + quoted("big.vtu"), 2, "big: out of memory", true},
  };
#if defined(__SANITIZE_ADDRESS__)
  const bool sanitized = true;
#elif defined(__has_feature)
  const bool sanitized = __has_feature(address_sanitizer);
#else
  const bool sanitized = false;
#endif
  for (const auto& row : rows) {
    if (sanitized && row.limitMemory) continue;  // the sanitizers reserve more address space than that to start with
    SCOPED_TRACE(row.arguments);
    const std::string limit = row.limitMemory ? "ulimit -v 400000; " : "";
    const std::string streams = " >" + quoted("out.txt") + " 2>" + quoted("err.txt");
    EXPECT_EQ(vela::testing::Shell(limit + "exec '" VELA_MESH_EXE "' " + row.arguments + streams), row.status);
    const std::string said = ReadText(Path("err.txt")) + "|" + ReadText(Path("out.txt")).substr(0, 100);
    EXPECT_TRUE(std::regex_search(said, std::regex(row.said))) << said;
  }
  EXPECT_TRUE(fs::exists(Path("out/tee.svg")) && fs::exists(Path("examples/tee.vtu")));
  EXPECT_FALSE(fs::exists(Path("t.svg")) || fs::exists(Path("demo")));
}

// A folder output (DIR/, or any name without a mesh extension under
// --format foam) is an OpenFOAM case, in metres unless --units says
// otherwise; the other outputs of the run keep the file's unit. The output
// stream takes no case, and an unknown unit is refused before meshing.
TEST_F(Cli, FolderOutputsAreOpenFoamCasesInMetres) {
  const std::string system = Write("s.json", System(R"(, "units": "cm")")), tee = Write("tee.json", kTee);
  RunOptions foam = With(SummaryStyle::Json, "foam");
  ASSERT_EQ(vela::cli::RunSystem(system, {Path("a"), Path("s.mesh.json"), Path("b/")}, 1, out_, err_, foam), 0)
      << err_.str();
  EXPECT_EQ(json::parse(out_.str())["written"], json({Path("a"), Path("s.mesh.json"), Path("b/")}));
  const auto firstPoint = [](const std::string& points) {
    const std::smatch found = [&] {
      std::smatch m;
      std::regex_search(points, m, std::regex("\n\\(\n\\(([^ ]+) ([^ ]+) ([^ )]+)\\)"));
      return m;
    }();
    return std::array<double, 3>{std::stod(found[1]), std::stod(found[2]), std::stod(found[3])};
  };
  const json dump = json::parse(ReadText(Path("s.mesh.json")));
  EXPECT_EQ(dump["units"], "cm");
  foam.write.encoding = vela::io::Encoding::Ascii;
  foam.units = "in";
  std::ostringstream out, err;
  ASSERT_EQ(vela::cli::RunSystem(system, {Path("m/"), Path("in.mesh.json")}, 1, out, err, foam), 0) << err.str();
  const std::array<double, 3> metres = firstPoint(ReadText(Path("m/constant/polyMesh/points")));
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_DOUBLE_EQ(metres[k], dump["nodes"][0][k].get<double>() / 2.54) << k;
    EXPECT_DOUBLE_EQ(json::parse(ReadText(Path("in.mesh.json")))["nodes"][0][k].get<double>(), metres[k]);
  }
  EXPECT_NE(ReadText(Path("m/constant/polyMesh/boundary")).find("format      ascii;"), std::string::npos);
  EXPECT_NE(ReadText(Path("a/constant/polyMesh/owner")).find("format      binary;"), std::string::npos);
  ASSERT_EQ(vela::cli::RunJunction(tee, {Path("t/"), Path("t.msh")}, With(SummaryStyle::Quiet), out, err), 0);
  const std::string boundary = ReadText(Path("t/constant/polyMesh/boundary"));
  for (const char* patch : {"wall\n    {\n        type            wall;", "end-0\n    {\n        type            patch;",
                            "end-2\n    {\n        type            patch;"})
    EXPECT_NE(boundary.find(patch), std::string::npos) << patch;
  EXPECT_NE(ReadText(Path("t.msh")).find("2 5 \"end-2\""), std::string::npos);

  const int before = FileCount();
  for (const bool isSystem : {true, false}) {
    std::ostringstream o, e;
    const RunOptions stream = With(SummaryStyle::Text, "foam");
    EXPECT_EQ(isSystem ? vela::cli::RunSystem(system, {"-"}, 1, o, e, stream)
                       : vela::cli::RunJunction(tee, {"-"}, stream, o, e), 2);
    EXPECT_NE(e.str().find("an OpenFOAM case is a folder"), std::string::npos) << e.str();
  }
  RunOptions furlongs = With(SummaryStyle::Text);
  furlongs.units = "furlong";
  std::ostringstream o, e;
  EXPECT_EQ(vela::cli::RunSystem(system, {Path("f/")}, 1, o, e, furlongs), 2);
  EXPECT_NE(e.str().find("--units: \"furlong\" is not a length unit"), std::string::npos) << e.str();
  EXPECT_EQ(FileCount(), before);
}
