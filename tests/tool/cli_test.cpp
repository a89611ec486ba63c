// vela-mesh's subcommands as functions: exit status, output and what they
// leave on disk.

#include "Commands.h"
#include "JunctionFile.h"
#include "MeshFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

class Cli : public testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vela-cli-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path) << text;
    return path;
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  int FileCount() const { return static_cast<int>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator())); }

  fs::path dir_;
  std::ostringstream out_, err_;
};

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
  EXPECT_NE(out_.str().find("0 inverted"), std::string::npos);
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
  EXPECT_EQ(vela::cli::RunCheck(Path("tee.mesh.json"), 0.0, clean, err_), 0);
  EXPECT_NE(clean.str().find("inverted elements                 0"), std::string::npos) << clean.str();

  vela::io::MeshDocument doc = vela::io::ReadMesh(Path("tee.mesh.json"));
  std::swap(doc.mesh.elements[7].nodes[1], doc.mesh.elements[7].nodes[2]);  // turn one prism inside out
  std::swap(doc.mesh.elements[7].nodes[4], doc.mesh.elements[7].nodes[5]);
  vela::io::WriteMesh(Path("flipped.vtu"), doc, {});
  std::ostringstream report, faults;
  EXPECT_EQ(vela::cli::RunCheck(Path("flipped.vtu"), 0.0, report, faults), 3);
  EXPECT_NE(faults.str().find("1 inverted element"), std::string::npos) << faults.str();
  EXPECT_EQ(vela::cli::RunCheck(Path("missing.vtu"), 0.0, report, faults), 2);
}

// The shipped examples mesh without inverted elements or faces shared by
// three, into every format and a picture each.
TEST_F(Cli, DemoMeshesEveryExampleCleanly) {
  ASSERT_EQ(vela::cli::RunDemo(dir_.string(), "", {}, out_, err_), 0) << err_.str();
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(FileCount(), 7 * 4);
  for (const char* name : {"y", "tee", "x", "leaving-plane", "tapered", "boundary-layers", "bend-90"}) {
    SCOPED_TRACE(name);
    EXPECT_NE(out_.str().find(std::string("\n") + name + " "), std::string::npos);
    EXPECT_TRUE(fs::exists(Path(std::string(name) + ".svg")));
  }
  EXPECT_EQ(out_.str().find("yes"), std::string::npos) << out_.str();
}
