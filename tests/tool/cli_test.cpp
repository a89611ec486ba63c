// vela-mesh's subcommands as functions: exit status, output and what they
// leave on disk.

#include "commands.h"
#include "junction_file.h"
#include "mesh_file.h"

#include <gtest/gtest.h>

#include "refusal_line.h"
#include "tool_test_support.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

using Cli = vela::testing::CommandTest;

// A junction file: the three runners of a tee (two for a bend) and more keys,
// which replace the ones before them.
std::string Junction(const std::string& extra, bool bend = false) {
  return std::string(R"({"center": [0, 0, 0], "far_points": [[9, 0, 0], [0, 9, 0])") +
         (bend ? R"(], "radii": [1, 1, 1, 1])" : R"(, [-9, 0, 0]], "radii": [1, 1, 1, 1, 1, 1])") + extra + "}";
}

const char* const kTee = R"({"center": [0, 0, 0], "far_points": [[12, 0, 0], [0, 12, 0], [-12, 0, 0]],
  "radii": [1.5, 1.5, 1, 1, 1.5, 1.5], "first_circle_nodes": 6, "inner_layers": [0, 0.5, 1], "outer_layers": [0, 1]})";

}  // namespace

TEST_F(Cli, JunctionWritesEveryFormatAndSummarises) {
  const std::string file = Write("tee.json", kTee);
  const std::vector<std::string> outputs = {Path("tee.mesh.json"), Path("tee.vtu"), Path("tee.msh"), Path("tee.svg")};
  ASSERT_EQ(vela::cli::RunJunction(file, outputs, {}, out_, err_), 0) << err_.str();
  for (const std::string& o : outputs) EXPECT_TRUE(fs::exists(o)) << o;
  // The same numbers as the library's golden tee: 540 elements on 508 nodes.
  EXPECT_NE(out_.str().find("508 after"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("540: 0 tetra, 0 pyramid, 360 prism, 180 hexa"), std::string::npos);
  EXPECT_NE(out_.str().find("quality: no faults; "), std::string::npos);
  std::stringstream vtu;
  vtu << std::ifstream(Path("tee.vtu")).rdbuf();
  EXPECT_NE(vtu.str().find("Name=\"scaled_jacobian\""), std::string::npos);  // the quality travels with the mesh
  const vela::io::MeshDocument back = vela::io::ReadMesh(Path("tee.msh"));
  EXPECT_EQ(back.mesh.GetNodeCount(), 508);
  EXPECT_EQ(back.kind, "nway");
}

TEST_F(Cli, BadInputIsNamedAndWritesNothing) {
  struct Row {
    const char* text;
    const char* named;
  };
  const Row rows[] = {
      {"{not json", "JSON"},
      {R"({"center": [0, 0], "far_points": [[1, 0, 0], [0, 1, 0], [-1, 0, 0]], "radii": [1, 1, 1, 1, 1, 1]})", "center"},
      {R"({"center": [0, 0, 0], "far_points": [[1, 0, 0], [0, 1, 0], [-1, 0, 0]], "radii": [1, 1, 1]})", "radii"},
      {R"({"center": [0, 0, 0], "far_points": [[9, 0, 0], [0, 9, 0], [-9, 0, 0]], "radii": [1, 1, 1, 1, 1, 1], "colour": 3})", "colour"},
      // Well-formed, but the library refuses it (shares do not add up to 1).
      {R"({"center": [0, 0, 0], "far_points": [[9, 0, 0], [0, 9, 0], [-9, 0, 0]], "radii": [1, 1, 1, 1, 1, 1], "inner_share": 0.5})", "refused"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    std::ostringstream out, err;
    const std::string file = Write("bad.json", row.text);
    EXPECT_EQ(vela::cli::RunJunction(file, {Path("bad.vtu"), Path("bad.svg")}, {}, out, err), 2);
    const std::string message = err.str();
    EXPECT_NE(message.find(row.named), std::string::npos) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << "one line: " << message;
    EXPECT_EQ(FileCount(), 1) << "only the junction file itself";
  }
  // An output of unknown format is refused before anything is meshed.
  const std::string file = Write("tee.json", kTee);
  EXPECT_EQ(vela::cli::RunJunction(file, {Path("tee.vtu"), Path("tee.stl")}, {}, out_, err_), 2);
  EXPECT_NE(err_.str().find(".stl"), std::string::npos);
  EXPECT_FALSE(fs::exists(Path("tee.vtu")));
}

TEST_F(Cli, LengthAsTableAndJson) {
  const std::string file = Write("tee.json", kTee);
  ASSERT_EQ(vela::cli::RunLength(file, true, out_, err_), 0);
  // Margin 5/1 and the largest far radius 1.5: 1.5 * (1 + 1/5) for every runner.
  EXPECT_EQ(out_.str(), "{\"lengths\": [1.7999999999999998, 1.7999999999999998, 1.7999999999999998]}\n");
  std::ostringstream table;
  ASSERT_EQ(vela::cli::RunLength(file, false, table, err_), 0);
  EXPECT_NE(table.str().find("1.8"), std::string::npos);
  const std::string zero = Write("zero.json", R"({"center": [0, 0, 0], "far_points": [[1, 0, 0], [0, 1, 0], [-1, 0, 0]],
    "radii": [1, 1, 1, 1, 1, 1], "margin": [5, 0]})");
  EXPECT_EQ(vela::cli::RunLength(zero, true, out_, err_), 2);
  EXPECT_NE(err_.str().find("margin"), std::string::npos);
}

TEST_F(Cli, CheckReportsFaultsWithStatusThree) {
  const std::string file = Write("tee.json", kTee);
  ASSERT_EQ(vela::cli::RunJunction(file, {Path("tee.mesh.json")}, {}, out_, err_), 0);
  std::ostringstream clean;
  EXPECT_EQ(vela::cli::RunCheck(Path("tee.mesh.json"), std::nullopt, vela::cli::SummaryStyle::Text, clean, err_), 0);
  EXPECT_NE(clean.str().find("inverted elements                         0\n"), std::string::npos) << clean.str();

  vela::io::MeshDocument doc = vela::io::ReadMesh(Path("tee.mesh.json"));
  std::swap(doc.mesh.elements[7].nodes[1], doc.mesh.elements[7].nodes[2]);  // turn one prism inside out
  std::swap(doc.mesh.elements[7].nodes[4], doc.mesh.elements[7].nodes[5]);
  vela::io::WriteMesh(Path("flipped.vtu"), doc, {});
  std::ostringstream report, faults;
  EXPECT_EQ(vela::cli::RunCheck(Path("flipped.vtu"), std::nullopt, vela::cli::SummaryStyle::Text, report, faults), 3);
  EXPECT_NE(faults.str().find("inverted elements 1: 7\n"), std::string::npos) << faults.str();
  EXPECT_EQ(vela::cli::RunCheck(Path("missing.vtu"), std::nullopt, vela::cli::SummaryStyle::Text, report, faults), 2);
}

// The shipped examples mesh without inverted elements or faces shared by
// three, into every format and a picture each.
TEST_F(Cli, DemoMeshesEveryExampleCleanly) {
  ASSERT_EQ(vela::cli::RunDemo(dir_.string(), "", {}, out_, err_), 0) << err_.str();
  EXPECT_EQ(err_.str(), "");
  // Seven junctions in four files each, and the runner systems' folder.
  EXPECT_EQ(FileCount(), 7 * 4 + 1);
  for (const char* name : {"y", "tee", "x", "leaving-plane", "tapered", "boundary-layers", "bend-90"}) {
    SCOPED_TRACE(name);
    EXPECT_NE(out_.str().find(std::string("\n") + name + " "), std::string::npos);
    EXPECT_TRUE(fs::exists(Path(std::string(name) + ".svg")));
  }
  EXPECT_EQ(out_.str().find("yes"), std::string::npos) << out_.str();
}

// The library's reason in its own words, and the key of the junction file (or
// the runner) to change, on one line with status 2, nothing written.
TEST_F(Cli, RefusalsNameTheReasonAndWhatToChange) {
  std::string fineRings = R"(, "inner_layers": [0)";
  for (int i = 1; i <= 1000; ++i) fineRings += ", " + std::to_string(i / 1000.0);
  fineRings += "]";
  const struct {
    std::string text;
    vela::Refusal reason;
    const char* subject;
  } rows[] = {
      {Junction(R"(, "inner_share": 0.5)"), vela::Refusal::Shares, "check inner_share, outer_share"},
      {Junction(R"(, "first_circle_nodes": 2)"), vela::Refusal::FirstRingTooSmall, "check first_circle_nodes"},
      {Junction(R"(, "first_circle_nodes": -4)"), vela::Refusal::FirstRingTooSmall, "check first_circle_nodes"},
      {Junction(R"(, "first_circle_nodes": 7)", true), vela::Refusal::OddFirstRing, "check first_circle_nodes"},
      {Junction(R"(, "far_points": [[9, 0, 0], [0, 0, 0], [-9, 0, 0]])"), vela::Refusal::FarPointDegenerate,
       "check runner 1 (far_points[1])"},
      {Junction(R"(, "radii": [1, 1, 1, 1, 1, -1])"), vela::Refusal::RadiusNotPositive,
       "check runner 2 (radii[4], radii[5])"},
      {Junction(R"(, "outer_layers": [0, 0.6, 0.5, 1])"), vela::Refusal::LayerOrder, "check outer_layers"},
      // Ten thousand million nodes a section: refused, not an abort.
      {Junction(R"(, "first_circle_nodes": 100000)" + fineRings, true), vela::Refusal::TooLarge,
       "check first_circle_nodes, inner_layers, outer_layers"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text.substr(0, 200));
    std::ostringstream out, err;
    EXPECT_EQ(vela::cli::RunJunction(Write("bad.json", row.text), {Path("bad.vtu")}, {}, out, err), 2);
    const std::string expected = std::string("bad: refused (") + vela::RefusalName(row.reason) +
                                 "): " + vela::RefusalDescription(row.reason) + "; " + row.subject + "\n";
    EXPECT_EQ(err.str(), expected);
    EXPECT_EQ(FileCount(), 1) << "only the junction file itself";
  }
}

TEST(RefusalLine, PairsOutOfRangeRunnersAndFaultsOfTheSoftware) {
  const vela::io::JunctionFile tee = vela::io::ParseJunction(Junction(""), "tee");
  const struct {
    vela::JunctionRefusal why;
    const char* subject;
  } rows[] = {
      {{vela::Refusal::NeighboursTooClose, 1, 2},
       "check runners 1 and 2 (far_points[1], radii[2], radii[3], far_points[2], radii[4], radii[5])"},
      {{vela::Refusal::Elevation, 7, -1}, "check far_points"},  // a runner the file does not have
      {{vela::Refusal::LayerOrder, -1, -1}, "check inner_layers, outer_layers"},  // both lists rise
      {{vela::Refusal::UnsoundResult, -1, -1}, "nothing in the junction file: a fault of the library, please report it with this file"},
      {{vela::Refusal::NullPointer, -1, -1}, "nothing in the junction file: a fault of vela-mesh, please report it"},
      {{vela::Refusal::None, -1, -1}, "the library named no reason"},
  };
  for (const auto& row : rows) EXPECT_EQ(vela::cli::RefusalSubject(tee, row.why), row.subject);
  EXPECT_EQ(vela::cli::RefusalLine(tee, {}), "tee: refused: the library named no reason");
}

TEST_F(Cli, OptionValuesWithoutMeaningAreBadInput) {
  const std::string tee = Write("tee.json", kTee);
  for (const vela::cli::ViewDirection view : {vela::cli::ViewDirection{NAN, 30}, {-35, HUGE_VAL}, {-HUGE_VAL, 0}}) {
    std::ostringstream out, err;
    vela::cli::RunOptions options;
    options.view = view;
    EXPECT_EQ(vela::cli::RunJunction(tee, {Path("tee.svg")}, options, out, err), 2);
    EXPECT_EQ(vela::cli::RunDemo(Path("demo"), "", view, out, err), 2);
    EXPECT_NE(err.str().find("expected a finite angle in degrees"), std::string::npos) << err.str();
  }
  EXPECT_EQ(FileCount(), 1);

  ASSERT_EQ(vela::cli::RunJunction(tee, {Path("tee.msh")}, {}, out_, err_), 0);
  for (const double tol : {-1.0, -0.0 - 1e-300, double(NAN), HUGE_VAL}) {
    std::ostringstream out, err;
    EXPECT_EQ(vela::cli::RunCheck(Path("tee.msh"), tol, vela::cli::SummaryStyle::Text, out, err), 2) << tol;
    EXPECT_EQ(err.str().rfind("--tol: ", 0), 0u) << err.str();
    EXPECT_EQ(out.str(), "");
  }
  std::ostringstream out, err;
  EXPECT_EQ(vela::cli::RunCheck(Path("tee.msh"), 0.0, vela::cli::SummaryStyle::Text, out, err), 0) << err.str();
  EXPECT_NE(out.str().find("coincident node pairs                     0 (within 0)"), std::string::npos) << out.str();
}

TEST_F(Cli, MessagesStayOnOneLineAndNameWhatTheUserGave) {
  // A key with a newline and a NUL, a name with a newline: escaped in the echo.
  const struct {
    std::string text;
    const char* echoed;
  } rows[] = {
      {Junction(std::string(R"(, "a\nb\u0000c": 1)")), "a\\nb\\x00c: unknown key"},
      {Junction(R"(, "name": "te\nst", "inner_share": 0.5)"), "te\\nst: refused"},
  };
  for (const auto& row : rows) {
    std::ostringstream out, err;
    EXPECT_EQ(vela::cli::RunJunction(Write("bad.json", row.text), {Path("bad.vtu")}, {}, out, err), 2);
    const std::string message = err.str();
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_NE(message.find(row.echoed), std::string::npos) << message;
  }
  // An output that cannot be written is named as given, not by its temporary name.
  const std::string unwritable = Path("no-such-folder/tee.vtu");
  EXPECT_EQ(vela::cli::RunJunction(Write("tee.json", kTee), {unwritable}, {}, out_, err_), 1);
  EXPECT_EQ(err_.str(), "cannot write '" + unwritable + "' (No such file or directory)\n");
}

// Answers the library should never give: far nodes or nodes that are not
// finite are its fault, reported as such, and no file can hold them.
TEST_F(Cli, NonFiniteCoordinatesFromTheLibraryAreFaultsNotWriteFailures) {
  const vela::io::JunctionFile tee = vela::io::ParseJunction(kTee, "tee");
  const vela::cli::MeshedJunction good = vela::cli::MeshJunction(tee);
  ASSERT_TRUE(good.ok);
  vela::cli::MeshedJunction farNode = good, node = good;
  farNode.document.farNodes[1][2] = HUGE_VAL;
  node.document.mesh.nodes[5][0] = NAN;
  const std::pair<const vela::cli::MeshedJunction*, const char*> rows[] = {
      {&farNode, "non-finite far nodes 1: 1\n"}, {&node, "non-finite nodes 1: node 5\n"}};
  for (const auto& [meshed, named] : rows) {
    std::ostringstream err;
    vela::quality::QualityReport report;
    EXPECT_EQ(vela::cli::WriteMeshed(tee, *meshed, {Path("tee.vtu"), Path("tee.svg")}, {}, report, err, err), 3);
    EXPECT_EQ(err.str().rfind("tee: the library's mesh holds coordinates that are not finite; nothing was written:\n", 0), 0u)
        << err.str();
    EXPECT_NE(err.str().find(named), std::string::npos) << err.str();
    EXPECT_EQ(FileCount(), 0);
  }
}

// The junction's "name" names the rows of the demo table, never its files.
TEST_F(Cli, DemoNamesFilesAfterTheJunctionFiles) {
  fs::create_directories(dir_ / "in");
  Write("in/a.json", R"({"name": "../../escaped", )" + std::string(kTee).substr(1));
  ASSERT_EQ(vela::cli::RunDemo(Path("out"), Path("in"), {}, out_, err_), 0) << err_.str();
  EXPECT_TRUE(fs::exists(Path("out/a.vtu")));
  EXPECT_EQ(FileCount(), 2) << "in/ and out/ only";
}

// The executable itself: what its option parser lets through, and what must
// end in a message rather than an abort.
TEST_F(Cli, ExecutableExitsWithItsStatusNeverAnAbort) {
  const std::string exe = VELA_MESH_EXE;
  const std::string tee = Write("tee.json", kTee);
  std::string big = R"({"center": [0, 0, 0], "far_points": [[20, 0, 0], [0, 20, 0], [-20, 0, 0]],
    "radii": [2, 2, 2, 2, 2, 2], "first_circle_nodes": 2000, "inner_layers": [0)";
  for (int i = 1; i <= 50; ++i) big += ", " + std::to_string(i / 50.0);
  const std::string bigFile = Write("big.json", big + "]}");
  struct Row {
    std::string command;
    int status;
    const char* said;
    bool limitMemory;
  };
  const Row rows[] = {
      {"junction '" + tee + "' -o '" + Path("t.svg") + "' --azimuth nan", 2, "--azimuth: expected a finite angle", false},
      {"junction '" + tee + "' -o '" + Path("t.svg") + "' --elevation -inf", 2, "--elevation: expected", false},
      {"junction '" + tee + "' -o '" + Path("t.msh") + "'", 0, "", false},
      {"check '" + Path("t.msh") + "' --tol -1", 2, "--tol: expected a distance of 0 or more, got -1", false},
      // 48 million nodes in 400 MB of address space: out of memory, said so.
      {"junction '" + bigFile + "' -o '" + Path("big.vtu") + "'", 2, "big: out of memory", true},
  };
#if defined(__SANITIZE_ADDRESS__)
  const bool sanitized = true;
#elif defined(__has_feature)
  const bool sanitized = __has_feature(address_sanitizer);
#else
  const bool sanitized = false;
#endif
  for (const Row& row : rows) {
    // The sanitizers reserve more address space than the limit to start with.
    if (sanitized && row.limitMemory) continue;
    SCOPED_TRACE(row.command);
    const std::string shell = std::string(row.limitMemory ? "ulimit -v 400000; " : "") + "exec '" + exe + "' " +
                              row.command + " >/dev/null 2>'" + Path("err.txt") + "'";
    const int status = std::system(("sh -c \"" + shell + "\"").c_str());
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(status), row.status);
    std::stringstream said;
    said << std::ifstream(Path("err.txt")).rdbuf();
    EXPECT_NE(said.str().find(row.said), std::string::npos) << said.str();
  }
}
