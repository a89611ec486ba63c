// Mesh files that other programs wrote: Gmsh's re-save of a .msh, meshio's
// .vtu in each of its encodings and its .msh, read as `check` reads them.

#include "mesh_file.h"
#include "tool_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;
using namespace vela::io;

namespace {

using vela::testing::TempFolder;

MeshDocument GoldenTee() {
  std::stringstream text;
  text << std::ifstream(std::string(VELA_GOLDEN_DIR) + "/tee-golden.mesh.json").rdbuf();
  return ParseMesh(text.str(), MeshFormat::Json);
}

// Every element as its kind and corner positions, sorted: the same for two
// meshes of the same elements whatever the node numbering and element order.
// Positions are taken to 1e-9 of the golden tee's size (about 10): Gmsh
// writes 16 significant digits, one fewer than it takes to keep every bit.
using Shape = std::pair<int, std::vector<std::array<long long, 3>>>;
std::vector<Shape> Shapes(const MeshDocument& document) {
  std::vector<Shape> shapes;
  for (const MeshElement& element : document.mesh.elements) {
    Shape shape{element.CornerCount(), {}};
    for (int c = 0; c < element.CornerCount(); ++c) {
      const auto& p = document.mesh.nodes[static_cast<size_t>(element.nodes[static_cast<size_t>(c)])];
      shape.second.push_back({std::llround(p[0] * 1e8), std::llround(p[1] * 1e8), std::llround(p[2] * 1e8)});
    }
    shapes.push_back(std::move(shape));
  }
  std::sort(shapes.begin(), shapes.end());
  return shapes;
}

// The same shapes; says how many differ instead of printing them all.
void ExpectSameShapes(const MeshDocument& expected, const MeshDocument& actual) {
  const std::vector<Shape> a = Shapes(expected), b = Shapes(actual);
  ASSERT_EQ(a.size(), b.size());
  size_t differ = 0;
  for (size_t i = 0; i < a.size(); ++i) differ += a[i] == b[i] ? 0 : 1;
  EXPECT_EQ(differ, 0u) << "elements whose kind or corners differ";
}

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Gmsh re-saves the file with its own entities and numbering and drops the
// junction section: the same elements come back, of unknown kind.
TEST(ForeignMeshFiles, GmshResavesReadAsTheSameElements) {
  if (!fs::exists("/usr/bin/gmsh")) GTEST_SKIP() << "gmsh is not installed";
  TempFolder folder;
  const MeshDocument tee = GoldenTee();
  for (const Encoding encoding : {Encoding::Ascii, Encoding::Binary}) {
    const std::string ours = folder.File("tee.msh");
    WriteMesh(ours, tee, {}, {encoding});
    for (const char* flag : {"", "-bin"}) {
      SCOPED_TRACE(std::string("ours ") + (encoding == Encoding::Binary ? "binary" : "ascii") +
                   ", gmsh " + flag);
      const std::string resaved = folder.File("resaved.msh");
      ASSERT_TRUE(Shell("/usr/bin/gmsh '" + ours + "' -0 " + flag + " -o '" + resaved + "'"));
      const MeshDocument back = ReadMesh(resaved);
      EXPECT_EQ(back.kind, "");
      EXPECT_TRUE(back.farNodes.empty());
      ExpectSameShapes(tee, back);
    }
  }
}

// meshio keeps the cell data, so "element" brings back the library's order
// exactly; without it (".bare") the same elements come back in file order.
TEST(ForeignMeshFiles, MeshioWritesReadAsTheSameElements) {
  if (!Shell("/usr/bin/python3 -c 'import meshio, numpy'"))
    GTEST_SKIP() << "meshio (python3-meshio) is not installed for /usr/bin/python3";
  TempFolder folder;
  const MeshDocument tee = GoldenTee();
  const std::string ours = folder.File("tee.vtu");
  WriteMesh(ours, tee, {});
  ASSERT_TRUE(Shell("/usr/bin/python3 " VELA_SOURCE_DIR "/tests/tool/read_with_meshio.py --resave '" +
                  ours + "' '" + folder.File("m") + "'"));
  for (const char* variant : {"ascii.vtu", "base64.vtu", "zlib.vtu", "bare.vtu", "ascii.msh", "binary.msh"}) {
    SCOPED_TRACE(variant);
    const MeshDocument back = ReadMesh(folder.File(std::string("m.") + variant));
    ExpectSameShapes(tee, back);
    const bool keepsCellData = std::string(variant).find("bare") == std::string::npos &&
                               std::string(variant).find(".msh") == std::string::npos;
    if (!keepsCellData) continue;
    ASSERT_EQ(back.mesh.elements.size(), tee.mesh.elements.size());
    for (size_t e = 0; e < tee.mesh.elements.size(); ++e)
      ASSERT_EQ(back.mesh.elements[e].nodes, tee.mesh.elements[e].nodes) << "element " << e;
  }
}

}  // namespace
