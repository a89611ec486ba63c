// vela-mesh for scripts: report-only runs, meshes on the output stream, JSON
// summaries, the batch command and --version.

#include "batch_command.h"
#include "commands.h"
#include "mesh_file.h"
#include "system_command.h"
#include "tool_test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using vela::cli::RunOptions;
using vela::cli::SummaryStyle;

const char* const kTee = R"({"center": [0, 0, 0], "far_points": [[12, 0, 0], [0, 12, 0], [-12, 0, 0]],
  "radii": [1.5, 1.5, 1, 1, 1.5, 1.5], "first_circle_nodes": 6, "inner_layers": [0, 0.5, 1], "outer_layers": [0, 1]})";
// Well-formed, but the library refuses it: the shares do not add up to 1.
const char* const kRefused = R"({"center": [0, 0, 0], "far_points": [[9, 0, 0], [0, 9, 0], [-9, 0, 0]],
  "radii": [1, 1, 1, 1, 1, 1], "inner_share": 0.5})";
const char* const kSystem = R"({"points": {"in": [0, 0, 20], "b": [0, 0, 0], "g": [20, 0, 0]},
  "runners": [{"from": "in", "to": "b", "radius": 2}, {"from": "b", "to": "g", "radius": 2}],
  "first_circle_nodes": 4, "inner_layers": [0, 0.5, 1], "outer_layers": [0, 1], "axial_size": 2})";

class CliScripting : public vela::testing::CommandTest {
protected:
  void SetUp() override { fs::create_directories(dir_ / "in"); }
  static RunOptions With(SummaryStyle summary, const std::string& format = "") {
    RunOptions options;
    options.summary = summary;
    options.format = format;
    return options;
  }
};

}  // namespace

// No outputs: the report alone. The tolerance the summary names is the one
// check takes for the written mesh.
TEST_F(CliScripting, ReportOnlyRunsAndOneToleranceForJunctionAndCheck) {
  const std::string tee = Write("tee.json", kTee);
  ASSERT_EQ(vela::cli::RunJunction(tee, {}, {}, out_, err_), 0) << err_.str();
  EXPECT_NE(out_.str().find("coincident nodes: within "), std::string::npos) << out_.str();
  EXPECT_EQ(out_.str().find("wrote"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2) << "in/ and tee.json only";

  std::ostringstream summary, report;
  ASSERT_EQ(vela::cli::RunJunction(tee, {Path("tee.vtu")}, With(SummaryStyle::Json), summary, err_), 0);
  ASSERT_EQ(vela::cli::RunCheck(Path("tee.vtu"), std::nullopt, SummaryStyle::Json, report, err_), 0);
  const json meshed = json::parse(summary.str()), checked = json::parse(report.str());
  EXPECT_EQ(meshed["quality"]["coincidence_tolerance"], checked["quality"]["coincidence_tolerance"]);
  EXPECT_EQ(meshed["nodes"], checked["nodes"]);
  EXPECT_EQ(meshed["written"], json::array({Path("tee.vtu")}));
  EXPECT_EQ(meshed["quality"]["has_faults"], false);

  std::ostringstream quiet;
  EXPECT_EQ(vela::cli::RunJunction(tee, {}, With(SummaryStyle::Quiet), quiet, err_), 0);
  EXPECT_EQ(quiet.str(), "");
}

// "-o -": the mesh on the output stream in --format, the summary on the
// error stream; and the command lines that cannot mean anything.
TEST_F(CliScripting, MeshOnTheOutputStreamParses) {
  const std::string tee = Write("tee.json", kTee);
  for (const auto& [format, parsed] : {std::pair{"json", vela::io::MeshFormat::Json}, {"vtu", vela::io::MeshFormat::Vtu},
                                       {"msh", vela::io::MeshFormat::Msh}}) {
    SCOPED_TRACE(format);
    std::ostringstream out, err;
    ASSERT_EQ(vela::cli::RunJunction(tee, {"-"}, With(SummaryStyle::Text, format), out, err), 0) << err.str();
    EXPECT_EQ(vela::io::ParseMesh(out.str(), parsed).mesh.GetNodeCount(), 508);  // the golden tee's count
    EXPECT_NE(err.str().find("508 after"), std::string::npos) << err.str();
  }
  const struct {
    std::vector<std::string> outputs;
    RunOptions options;
  } wrong[] = {{{"-"}, With(SummaryStyle::Text)},
               {{"-", "-"}, With(SummaryStyle::Text, "vtu")},
               {{"-"}, With(SummaryStyle::Json, "vtu")},
               {{Path("t.vtu")}, With(SummaryStyle::Text, "msh")},
               {{Path("t.stl")}, With(SummaryStyle::Text)}};
  for (const auto& row : wrong) {
    std::ostringstream out, err;
    EXPECT_EQ(vela::cli::RunJunction(tee, row.outputs, row.options, out, err), 2);
    EXPECT_EQ(vela::cli::RunSystem(tee, row.outputs, 1, out, err, row.options), 2);
    EXPECT_EQ(out.str(), "");
  }
  EXPECT_FALSE(fs::exists(Path("t.vtu")));
}

// A system's .vtu on the output stream is its volume file alone: no
// boundary faces, no patches file left anywhere.
TEST_F(CliScripting, SystemVolumeOnTheOutputStream) {
  const std::string system = Write("s.json", kSystem);
  std::ostringstream summary;
  ASSERT_EQ(vela::cli::RunSystem(system, {Path("s.json.vtu")}, 1, summary, err_, With(SummaryStyle::Json)), 0);
  ASSERT_EQ(vela::cli::RunSystem(system, {"-"}, 1, out_, err_, With(SummaryStyle::Quiet, "vtu")), 0) << err_.str();
  EXPECT_EQ(err_.str(), "");
  const vela::io::MeshDocument volume = vela::io::ParseMesh(out_.str(), vela::io::MeshFormat::Vtu);
  EXPECT_EQ(volume.mesh.GetElementCount(), json::parse(summary.str())["elements"].get<int>());
  EXPECT_EQ(out_.str().find("Name=\"patch\""), std::string::npos);
}

// Every readable file is meshed whatever came before it; the failures are
// listed at the end; the status is the worst; outputs are named by file.
TEST_F(CliScripting, BatchMeshesEveryReadableFileAndExitsWithTheWorstStatus) {
  Write("in/a-unreadable.json", "{not json");
  Write("in/b-refused.json", kRefused);
  Write("in/c-tee.json", std::string(R"({"name": "../x", )") + (kTee + 1));
  Write("in/d-system.json", kSystem);
  Write("in/old.mesh.json", "{}");  // a mesh dump: skipped
  ASSERT_EQ(vela::cli::RunBatch(Path("in"), Path("out"), {"vtu", "msh"}, With(SummaryStyle::Json), out_, err_), 2);
  const json summary = json::parse(out_.str());
  EXPECT_EQ(summary["status"], 2);
  EXPECT_EQ(summary["failed"], 2);
  ASSERT_EQ(summary["files"].size(), 4u);
  const int statuses[] = {2, 2, 0, 0};
  const char* types[] = {nullptr, "junction", "junction", "system"};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(summary["files"][i]["status"], statuses[i]) << i;
    EXPECT_EQ(summary["files"][i]["type"], types[i] ? json(types[i]) : json()) << i;
  }
  for (const char* file : {"c-tee.vtu", "c-tee.msh", "d-system.vtu", "d-system.patches.vtu", "d-system.msh"})
    EXPECT_TRUE(fs::exists(Path("out/") + file)) << file;
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("out")), fs::directory_iterator()), 5);
  const std::string failures = err_.str();
  EXPECT_NE(failures.find("2 of 4 files failed:\n  a-unreadable.json (status 2)\n"), std::string::npos) << failures;
  EXPECT_NE(failures.find("b-refused.json (status 2)\n    b-refused: refused (shares)"), std::string::npos) << failures;

  // A folder that cannot be created is the disk's fault: status 1.
  std::ostringstream out, err;
  EXPECT_EQ(vela::cli::RunBatch(Path("in"), Path("in/c-tee.json/out"), {}, {}, out, err), 1) << err.str();
}

// Two files that would write one name, even in different case: refused
// before anything is written.
TEST_F(CliScripting, BatchRefusesDuplicateOutputNamesBeforeWriting) {
  Write("in/tee.json", kTee);
  Write("in/TEE.json", kTee);
  Write("in/sys.json", kSystem);
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

// The executable: --version, and the statuses a shell sees.
TEST_F(CliScripting, ExecutableVersionAndStatuses) {
  const std::string exe = VELA_MESH_EXE;
  Write("in/tee.json", kTee);
  const auto run = [&](const std::string& arguments) {
    const std::string shell = "exec '" + exe + "' " + arguments + " >'" + Path("out.txt") + "' 2>/dev/null";
    const int status = std::system(("sh -c \"" + shell + "\"").c_str());
    EXPECT_TRUE(WIFEXITED(status)) << arguments;
    std::stringstream said;
    said << std::ifstream(Path("out.txt")).rdbuf();
    return std::pair{WEXITSTATUS(status), said.str()};
  };
  const auto [versionStatus, version] = run("--version");
  EXPECT_EQ(versionStatus, 0);
  EXPECT_TRUE(std::regex_match(version, std::regex("vela-mesh [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version;
  const auto [jsonStatus, summary] = run("junction '" + Path("in/tee.json") + "' --json");
  EXPECT_EQ(jsonStatus, 0);
  EXPECT_EQ(json::parse(summary)["elements"], 540);
  const auto [meshStatus, mesh] = run("junction '" + Path("in/tee.json") + "' -o - --format msh --quiet");
  EXPECT_EQ(meshStatus, 0);
  EXPECT_EQ(vela::io::ParseMesh(mesh, vela::io::MeshFormat::Msh).mesh.GetElementCount(), 540);
  EXPECT_EQ(run("junction '" + Path("in/tee.json") + "' -o - --format stl").first, 2);
  EXPECT_EQ(run("junction '" + Path("in/tee.json") + "' --ascii --binary").first, 2);
  const auto [batchStatus, batch] = run("batch '" + Path("in") + "' -o '" + Path("out") + "' --format svg --quiet");
  EXPECT_EQ(batchStatus, 0);
  EXPECT_EQ(batch, "");
  EXPECT_TRUE(fs::exists(Path("out/tee.svg")));
}
