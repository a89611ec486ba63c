// `vela-mesh system`: exit status, summary and what it leaves on disk.

#include "system_command.h"
#include "system_mesh_file.h"
#include "tool_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

// A sprue, a bend and a runner to one gate, on coarse sections so that it
// meshes quickly even under the sanitizers.
std::string Bend(const std::string& extra = "", const std::string& gate = "[20, 0, 0]") {
  return R"({"name": "small", "points": {"in": [0, 0, 20], "b": [0, 0, 0], "g": )" + gate + R"(},
    "runners": [{"from": "in", "to": "b", "radius": [1.5, 2]}, {"from": "b", "to": "g", "radius": 2}],
    "ends": {"in": "inlet", "g": "gate-1"}, "first_circle_nodes": 4, "inner_layers": [0, 0.5, 1],
    "outer_layers": [0, 1], "axial_size": 2)" + extra + "}";
}

class SystemCli : public vela::testing::CommandTest {
protected:
  int Run(const std::string& file, const std::vector<std::string>& outputs) {
    out_.str("");
    err_.str("");
    return vela::cli::RunSystem(file, outputs, 2, out_, err_);
  }
};

}  // namespace

TEST_F(SystemCli, WritesEveryFormatAndNamesThePatchesWithTheirFaces) {
  const std::string file = Write("small.json", Bend());
  const std::vector<std::string> outputs = {Path("s.json"), Path("s.vtu"), Path("s.msh"), Path("s.svg")};
  ASSERT_EQ(Run(file, outputs), 0) << err_.str();
  EXPECT_EQ(err_.str(), "");
  for (const std::string& o : outputs) EXPECT_TRUE(fs::exists(o)) << o;
  EXPECT_TRUE(fs::exists(Path("s.patches.vtu")));
  const std::string summary = out_.str();
  EXPECT_EQ(summary.rfind("small: runner system of 3 points, 2 runners\n", 0), 0u) << summary;
  EXPECT_NE(summary.find("0 junctions, 1 bends, 2 runners"), std::string::npos) << summary;
  EXPECT_NE(summary.find("quality: no faults; "), std::string::npos) << summary;
  EXPECT_NE(summary.find("wrote " + Path("s.patches.vtu") + "\n"), std::string::npos) << summary;

  // The summary's counts are those of the mesh the .json file holds.
  std::stringstream text;
  text << std::ifstream(Path("s.json")).rdbuf();
  const vela::system::SystemMesh back = vela::io::ParseSystemJson(text.str());
  EXPECT_EQ(back.patches, (std::vector<std::string>{"wall", "inlet", "gate-1"}));
  EXPECT_NE(summary.find("  elements  " + std::to_string(back.elements.size()) + ": "), std::string::npos);
  std::vector<int> faces(back.patches.size(), 0);
  for (const vela::system::BoundaryFace& face : back.faces) ++faces[static_cast<size_t>(face.patch)];
  EXPECT_EQ(faces[1], faces[2]) << "inlet and gate take one whole section each";
  for (size_t p = 0; p < faces.size(); ++p) {
    std::ostringstream line;
    line << "    " << std::left << std::setw(14) << back.patches[p] << std::right << std::setw(8) << faces[p] << "\n";
    EXPECT_NE(summary.find(line.str()), std::string::npos) << line.str() << summary;
  }
}

// Bad input (an unknown format, a file that cannot be used, a network the
// layer refuses) is one line and status 2 with nothing written; a file that
// cannot be written is status 1.
TEST_F(SystemCli, EachFailureHasItsStatusAndOneLine) {
  const std::string good = Write("small.json", Bend());
  // The runner to the gate turns back along the sprue, 6 degrees off it.
  const std::string sharp = Write("sharp.json", Bend("", "[2, 0, 19]"));
  const std::string badFile = Write("bad.json", Bend(R"(, "margin": [5, 0])"));
  const struct {
    std::string file;
    std::string output;
    int status;
    std::string said;
  } rows[] = {
      {good, Path("s.stl"), 2, ".stl"},
      {Path("missing.json"), Path("s.stl"), 2, ".stl"},  // outputs are checked first
      {Path("missing.json"), Path("s.vtu"), 2, Path("missing.json") + ": cannot read the file"},
      {badFile, Path("s.vtu"), 2, badFile + ": margin[1]: expected an integer above 0, got 0"},
      {sharp, Path("s.vtu"), 2, "small: refused (point-too-sharp): "},
      {good, Path("no-folder/s.vtu"), 1, Path("no-folder/s.")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file + " -o " + row.output);
    const int before = FileCount();
    EXPECT_EQ(Run(row.file, {row.output}), row.status);
    const std::string said = err_.str();
    EXPECT_NE(said.find(row.said), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << "one line: " << said;
    EXPECT_EQ(FileCount(), before) << "nothing written";
    EXPECT_EQ(out_.str(), "");
  }
}

// The executable: the option parser and the statuses as a shell sees them.
TEST_F(SystemCli, ExecutableReturnsTheStatuses) {
  const std::string good = Write("small.json", Bend());
  const std::string bad = Write("bad.json", Bend(R"(, "margin": [5, 0])"));
  const struct {
    std::string arguments;
    int status;
  } rows[] = {
      {"'" + good + "' -o '" + Path("s.msh") + "' --threads 1", 0},
      {"'" + good + "' -o '" + Path("no-folder/s.msh") + "'", 1},
      {"'" + bad + "' -o '" + Path("s.msh") + "'", 2},
      {"'" + good + "' -o '" + Path("s.msh") + "' --threads -1", 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.arguments);
    const std::string shell = "exec '" + std::string(VELA_MESH_EXE) + "' system " + row.arguments + " >/dev/null 2>&1";
    const int status = std::system(("sh -c \"" + shell + "\"").c_str());
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(status), row.status);
  }
}
