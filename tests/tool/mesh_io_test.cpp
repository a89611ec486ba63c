// vela-mesh file formats: junction files in, mesh files out and back in.

#include "JunctionFile.h"
#include "MeshFile.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using vela::io::JunctionFile;
using vela::io::JunctionFileError;
using vela::io::MeshDocument;
using vela::io::MeshFileError;
using vela::io::MeshFormat;

namespace {

// A fresh folder under the system temporary folder, removed with everything in it.
class TempFolder {
public:
  TempFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info->name();
    std::replace(name.begin(), name.end(), '/', '_');  // parameterised tests: "Case/json"
    m_path =
        fs::temp_directory_path() / ("vela_mesh_io_" + name + "_" + std::to_string(::getpid()));
    fs::remove_all(m_path);
    fs::create_directories(m_path);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string File(const std::string& name) const { return (m_path / name).string(); }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_path))
      names.push_back(entry.path().filename().string());
    return names;
  }

private:
  fs::path m_path;
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

using Point = std::array<double, 3>;

Point Sub(const Point& a, const Point& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Point Cross(const Point& a, const Point& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double Dot(const Point& a, const Point& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Point Mean(const std::vector<Point>& points) {
  Point m{0, 0, 0};
  for (const Point& p : points)
    for (int k = 0; k < 3; ++k) m[k] += p[k] / static_cast<double>(points.size());
  return m;
}

// Positive when the right-hand normal of the base triangle (a, b, c) points
// towards `towards`: the library's (and Gmsh's) sense for every kind, and
// VTK's for every kind but the wedge.
double BaseFacesTowards(const Point& a, const Point& b, const Point& c, const Point& towards) {
  return Dot(Cross(Sub(b, a), Sub(c, a)), Sub(towards, Mean({a, b, c})));
}

// One element of each kind, positive in the library's corner order, listed
// out of Gmsh's block order (tetra, pyramid, prism, hexa) so that a reader
// that kept block order would be caught. The coordinates are chosen to need
// all 17 digits, and one is -0.0, whose sign must survive too.
MeshDocument SmallMesh() {
  // clang-format off
  const std::vector<Point> unit = {
      {0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1},  // hex
      {2, 0, 0}, {3, 0, 0}, {2, 1, 0}, {2, 0, 1}, {3, 0, 1}, {2, 1, 1},  // prism
      {4, 0, 0}, {5, 0, 0}, {5, 1, 0}, {4, 1, 0}, {4.5, 0.5, 1},  // pyramid
      {6, 0, 0}, {7, 0, 0}, {6, 1, 0}, {6, 0, 1}};  // tetra
  // clang-format on
  MeshDocument document;
  document.kind = "nway";
  document.mesh.SetMeshSize(4, static_cast<int>(unit.size()));
  for (size_t i = 0; i < unit.size(); ++i) {
    const Point& p = unit[i];
    document.mesh.SetNodeCoord(static_cast<int>(i), p[0] * 0.1 + 1.0 / 3.0, p[1] * 0.7 - 1e-17,
                               p[2] * 2.0 / 3.0 + 12345.678901234567);
  }
  document.mesh.nodes[3][0] = -0.0;  // the hexahedron's base stays convex
  document.mesh.SetHexaElement(0, 0, 1, 2, 3, 4, 5, 6, 7);
  document.mesh.SetPrismElement(1, 8, 9, 10, 11, 12, 13);
  document.mesh.SetTetraElement(2, 19, 20, 21, 22);
  document.mesh.SetPyramidElement(3, 14, 15, 16, 17, 18);
  document.farNodes = {
      {0.1, 0.2, 0.30000000000000004}, {-1e-300, 5e300, 1.0 / 7.0}, {-0.0, 0.0, 1.0}};
  return document;
}

// The same document again, bit for bit (so -0.0 differs from 0.0).
void ExpectSameDocument(const MeshDocument& expected, const MeshDocument& actual) {
  EXPECT_EQ(expected.kind, actual.kind);
  auto samePoint = [](const Point& a, const Point& b) {
    for (int k = 0; k < 3; ++k)
      if (a[k] != b[k] || std::signbit(a[k]) != std::signbit(b[k])) return false;
    return true;
  };
  ASSERT_EQ(expected.mesh.nodes.size(), actual.mesh.nodes.size());
  for (size_t i = 0; i < expected.mesh.nodes.size(); ++i)
    EXPECT_TRUE(samePoint(expected.mesh.nodes[i], actual.mesh.nodes[i])) << "node " << i;
  ASSERT_EQ(expected.mesh.elements.size(), actual.mesh.elements.size());
  for (size_t e = 0; e < expected.mesh.elements.size(); ++e) {
    EXPECT_EQ(expected.mesh.elements[e].kind, actual.mesh.elements[e].kind) << "element " << e;
    EXPECT_EQ(expected.mesh.elements[e].nodes, actual.mesh.elements[e].nodes) << "element " << e;
  }
  ASSERT_EQ(expected.farNodes.size(), actual.farNodes.size());
  for (size_t i = 0; i < expected.farNodes.size(); ++i)
    EXPECT_TRUE(samePoint(expected.farNodes[i], actual.farNodes[i])) << "far node " << i;
}

const char* const kGoldenNames[] = {"y-golden", "tee-golden", "x-tilted-golden", "bend-golden"};

std::string GoldenPath(const std::string& file) {
  return std::string(VELA_GOLDEN_DIR) + "/" + file;
}

// ----------------------------------------------------------------------------------------------
// Junction files

TEST(JunctionFile, MissingOptionalKeysTakeTheDefaults) {
  const JunctionFile j = vela::io::ParseJunction(
      R"({"center": [1, 2, 3], "far_points": [[10, 0, 0], [0, 10, 0], [-10, 0, 0]],
          "radii": [1, 1.5, 1, 1.5, 2, 2.5]})",
      "hint");
  EXPECT_EQ(j.name, "hint");
  EXPECT_EQ(j.center, (Point{1, 2, 3}));
  ASSERT_EQ(j.RunnerCount(), 3);
  EXPECT_FALSE(j.IsBend());
  EXPECT_EQ(j.farPoints[2], (Point{-10, 0, 0}));
  EXPECT_EQ(j.radii, (std::vector<double>{1, 1.5, 1, 1.5, 2, 2.5}));
  EXPECT_EQ(j.innerShare, 0.8);
  EXPECT_EQ(j.outerShare, 0.2);
  EXPECT_EQ(j.firstCircleNodes, 8);
  EXPECT_EQ(j.innerLayers, (std::vector<double>{0, 0.25, 0.5, 0.75, 1}));
  EXPECT_EQ(j.outerLayers, (std::vector<double>{0, 0.5, 1}));
  EXPECT_EQ(j.margin, (std::array<int, 2>{5, 1}));
}

TEST(JunctionFile, EveryKeyIsReadAndAnEmptyOuterListIsKept) {
  const JunctionFile j = vela::io::ParseJunction(
      R"({"name": "elbow", "center": [0, 0, 0], "far_points": [[5, 0, 0], [0, 5, 0]],
          "radii": [1, 1, 2, 2], "inner_share": 0.7, "outer_share": 0.3, "first_circle_nodes": 12,
          "inner_layers": [0, 1], "outer_layers": [], "margin": [3, 2]})",
      "hint");
  EXPECT_EQ(j.name, "elbow");
  EXPECT_TRUE(j.IsBend());
  EXPECT_EQ(j.innerShare, 0.7);
  EXPECT_EQ(j.outerShare, 0.3);
  EXPECT_EQ(j.firstCircleNodes, 12);
  EXPECT_EQ(j.innerLayers, (std::vector<double>{0, 1}));
  EXPECT_TRUE(j.outerLayers.empty());
  EXPECT_EQ(j.margin, (std::array<int, 2>{3, 2}));
}

TEST(JunctionFile, GoldenFilesParse) {
  for (const char* name : kGoldenNames) {
    SCOPED_TRACE(name);
    const JunctionFile j = vela::io::ReadJunctionFile(GoldenPath(std::string(name) + ".json"));
    EXPECT_EQ(j.name, name);
    EXPECT_EQ(j.radii.size(), 2 * j.farPoints.size());
    EXPECT_EQ(j.IsBend(), std::string(name) == "bend-golden");
  }
  const JunctionFile tee = vela::io::ReadJunctionFile(GoldenPath("tee-golden.json"));
  EXPECT_EQ(tee.firstCircleNodes, 6);
  EXPECT_EQ(tee.innerLayers, (std::vector<double>{0, 0.5, 1}));
  EXPECT_EQ(tee.outerLayers, (std::vector<double>{0, 1}));
  EXPECT_EQ(tee.farPoints[1], (Point{0, 12, 0}));
  EXPECT_EQ(tee.margin, (std::array<int, 2>{5, 1}));  // not in the file
}

TEST(JunctionFile, WriteThenParseGivesTheSameJunction) {
  JunctionFile j = vela::io::ReadJunctionFile(GoldenPath("bend-golden.json"));
  j.innerShare = 0.1 + 0.7;  // needs 17 digits
  j.margin = {7, 3};
  j.outerLayers.clear();
  const JunctionFile back = vela::io::ParseJunction(vela::io::WriteJunctionJson(j), "other");
  EXPECT_EQ(back.name, j.name);
  EXPECT_EQ(back.center, j.center);
  EXPECT_EQ(back.farPoints, j.farPoints);
  EXPECT_EQ(back.radii, j.radii);
  EXPECT_EQ(back.innerShare, j.innerShare);
  EXPECT_EQ(back.outerShare, j.outerShare);
  EXPECT_EQ(back.firstCircleNodes, j.firstCircleNodes);
  EXPECT_EQ(back.innerLayers, j.innerLayers);
  EXPECT_EQ(back.outerLayers, j.outerLayers);
  EXPECT_EQ(back.margin, j.margin);
}

TEST(JunctionFile, NameDefaultsToTheFileStem) {
  TempFolder folder;
  const std::string path = folder.File("my-junction.json");
  WriteText(
      path,
      R"({"center": [0, 0, 0], "far_points": [[1, 0, 0], [0, 1, 0]], "radii": [1, 1, 1, 1]})");
  EXPECT_EQ(vela::io::ReadJunctionFile(path).name, "my-junction");
}

struct BadJunction {
  const char* label;
  std::string text;
  std::vector<std::string> inMessage;  // every piece must appear
};

std::string WithKey(const std::string& extra) {
  return R"({"center": [0, 0, 0], "far_points": [[9, 0, 0], [0, 9, 0], [-9, 0, 0]],)"
         R"( "radii": [1, 1, 1, 1, 1, 1])" +
         extra + "}";
}

TEST(JunctionFile, BadFilesAreRejectedWithTheKeyAndTheProblemOnOneLine) {
  const std::vector<BadJunction> cases = {
      {"not JSON", "{\"center\": [0, 0, 0],", {"not valid JSON", "line 1"}},
      {"not an object", "[1, 2, 3]", {"expected a JSON object"}},
      {"unknown key", WithKey(R"(, "centre": [0, 0, 0])"), {"centre: unknown key"}},
      {"missing center",
       R"({"far_points": [[9, 0, 0], [0, 9, 0]], "radii": [1, 1, 1, 1]})",
       {"center: missing"}},
      {"missing radii",
       R"({"center": [0, 0, 0], "far_points": [[9, 0, 0], [0, 9, 0]]})",
       {"radii: missing"}},
      {"center of two numbers",
       R"({"center": [0, 0], "far_points": [[9, 0, 0], [0, 9, 0]], "radii": [1, 1, 1, 1]})",
       {"center: expected 3 numbers", "got an array of 2 entries"}},
      {"center with a string",
       R"({"center": [0, "1", 0], "far_points": [[9, 0, 0], [0, 9, 0]], "radii": [1, 1, 1, 1]})",
       {"center[1]: expected a number, got a string"}},
      {"one far point",
       R"({"center": [0, 0, 0], "far_points": [[9, 0, 0]], "radii": [1, 1]})",
       {"far_points: expected at least 2 points, got 1"}},
      {"far point of two numbers",
       R"({"center": [0, 0, 0], "far_points": [[9, 0, 0], [0, 9]], "radii": [1, 1, 1, 1]})",
       {"far_points[1]: expected 3 numbers"}},
      {"five radii for three runners",
       R"({"center": [0, 0, 0], "far_points": [[9, 0, 0], [0, 9, 0], [-9, 0, 0]],)"
       R"( "radii": [1, 1, 1, 1, 1]})",
       {"radii: expected 6 numbers (two per runner), got 5"}},
      {"fractional first ring",
       WithKey(R"(, "first_circle_nodes": 8.5)"),
       {"first_circle_nodes: expected an integer, got 8.5"}},
      {"first ring as text",
       WithKey(R"(, "first_circle_nodes": "8")"),
       {"first_circle_nodes: expected an integer, got a string"}},
      {"first ring too large",
       WithKey(R"(, "first_circle_nodes": 3000000000)"),
       {"first_circle_nodes: integer 3000000000 is out of range"}},
      {"margin of one number", WithKey(R"(, "margin": [5])"), {"margin: expected two integers"}},
      {"fractional margin",
       WithKey(R"(, "margin": [5, 1.5])"),
       {"margin[1]: expected an integer, got 1.5"}},
      {"layers not a list",
       WithKey(R"(, "inner_layers": 0.5)"),
       {"inner_layers: expected an array of numbers"}},
      {"layer of null",
       WithKey(R"(, "outer_layers": [0, null])"),
       {"outer_layers[1]: expected a number, got null"}},
      {"share of 1e400",
       WithKey(R"(, "inner_share": 1e400)"),
       {"inner_share: ", "1e400", "not finite"}},
      {"radius of -1e400",
       R"({"center": [0, 0, 0], "far_points": [[9, 0, 0], [0, 9, 0]], "radii": [1, -1e400, 1, 1]})",
       {"radii[1]: ", "not finite"}},
      {"empty name", WithKey(R"(, "name": "")"), {"name: must not be empty"}},
      {"name not text", WithKey(R"(, "name": 7)"), {"name: expected a string, got 7"}},
  };
  for (const BadJunction& bad : cases) {
    SCOPED_TRACE(bad.label);
    try {
      vela::io::ParseJunction(bad.text, "hint");
      ADD_FAILURE() << "accepted";
    } catch (const JunctionFileError& e) {
      const std::string message = e.what();
      for (const std::string& piece : bad.inMessage)
        EXPECT_NE(message.find(piece), std::string::npos) << message;
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
  }
}

TEST(JunctionFile, ReadErrorsNameThePath) {
  TempFolder folder;
  const std::string missing = folder.File("absent.json");
  try {
    vela::io::ReadJunctionFile(missing);
    ADD_FAILURE() << "accepted a missing file";
  } catch (const JunctionFileError& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
  }
  const std::string broken = folder.File("broken.json");
  WriteText(broken, WithKey(R"(, "radii": 3)"));  // duplicate key, the last one wins and is wrong
  try {
    vela::io::ReadJunctionFile(broken);
    ADD_FAILURE() << "accepted a bad file";
  } catch (const JunctionFileError& e) {
    EXPECT_EQ(std::string(e.what()).rfind(broken + ": radii: ", 0), 0u) << e.what();
  }
}

// ----------------------------------------------------------------------------------------------
// Mesh files

class MeshRoundTrip : public ::testing::TestWithParam<const char*> {};

TEST_P(MeshRoundTrip, WriteThenReadGivesTheSameDocument) {
  TempFolder folder;
  const std::string path = folder.File(std::string("small") + GetParam());
  const MeshDocument nway = SmallMesh();
  vela::io::WriteMesh(path, nway, {0.5, 1.0, -0.25, 0.125});
  ExpectSameDocument(nway, vela::io::ReadMesh(path));

  MeshDocument bend = SmallMesh();
  bend.kind = "bend";
  bend.farNodes.clear();
  vela::io::WriteMesh(path, bend, {});  // replaces the file
  ExpectSameDocument(bend, vela::io::ReadMesh(path));
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{fs::path(path).filename().string()});
}

TEST_P(MeshRoundTrip, GoldenMeshesComeBackUnchanged) {
  for (const char* name : kGoldenNames) {
    SCOPED_TRACE(name);
    const MeshDocument golden = vela::io::ReadMesh(GoldenPath(std::string(name) + ".mesh.json"));
    const MeshFormat format = vela::io::MeshFormatFromPath(std::string("x") + GetParam());
    ExpectSameDocument(golden,
                       vela::io::ParseMesh(vela::io::FormatMesh(golden, format, {}), format));
  }
}

TEST_P(MeshRoundTrip, EveryTruncationIsRejected) {
  const MeshFormat format = vela::io::MeshFormatFromPath(std::string("x") + GetParam());
  const std::string text = vela::io::FormatMesh(SmallMesh(), format, {0.5, 1.0, -0.25, 0.125});
  const size_t end = text.find_last_not_of(" \n") + 1;
  for (size_t length = 0; length < end; ++length)
    EXPECT_THROW(vela::io::ParseMesh(text.substr(0, length), format), MeshFileError)
        << "length " << length;
}

INSTANTIATE_TEST_SUITE_P(Formats, MeshRoundTrip, ::testing::Values(".json", ".vtu", ".msh"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param + 1);
                         });

TEST(MeshJson, DumpHasTheShapeOfTheGoldenDumps) {
  for (const char* name : kGoldenNames) {
    SCOPED_TRACE(name);
    const std::string goldenText = ReadText(GoldenPath(std::string(name) + ".mesh.json"));
    const std::string ours = vela::io::FormatMesh(vela::io::ParseMesh(goldenText, MeshFormat::Json),
                                                  MeshFormat::Json, {});
    // Same keys in the same order, same numbers, same corner lists.
    const auto expected = nlohmann::ordered_json::parse(goldenText);
    const auto actual = nlohmann::ordered_json::parse(ours);
    EXPECT_TRUE(expected == actual);
    std::vector<std::string> keys;
    for (const auto& item : actual.items()) keys.push_back(item.key());
    std::vector<std::string> goldenKeys;
    for (const auto& item : expected.items()) goldenKeys.push_back(item.key());
    EXPECT_EQ(keys, goldenKeys);
  }
}

// The numbers inside the .vtu DataArray of that name.
std::vector<long long> VtuIntegers(const std::string& text, const std::string& name) {
  const size_t tag = text.find("Name=\"" + name + "\"");
  if (tag == std::string::npos) return {};
  const size_t start = text.find('>', tag) + 1;
  std::istringstream values(text.substr(start, text.find('<', start) - start));
  std::vector<long long> numbers;
  for (long long v; values >> v;) numbers.push_back(v);
  return numbers;
}

// The wedge is the one kind whose VTK numbering differs: its first triangle's
// normal points away from the second triangle. Read the raw connectivity of
// the .vtu text and check each cell's sign by VTK's rules.
TEST(MeshVtu, CellsArePositiveByVtkRules) {
  const MeshDocument document = SmallMesh();
  const std::string text = vela::io::FormatMesh(document, MeshFormat::Vtu, {});
  const std::vector<long long> connectivity = VtuIntegers(text, "connectivity");
  const std::vector<long long> types = VtuIntegers(text, "types");
  ASSERT_EQ(types, (std::vector<long long>{12, 13, 10, 14}));
  ASSERT_EQ(connectivity.size(), 8u + 6u + 4u + 5u);

  auto node = [&](size_t at) { return document.mesh.nodes[static_cast<size_t>(connectivity[at])]; };
  // Hexahedron: base normal towards the top face.
  EXPECT_GT(BaseFacesTowards(node(0), node(1), node(2), Mean({node(4), node(5), node(6), node(7)})),
            0.0);
  // Wedge: base normal away from the second triangle.
  EXPECT_LT(BaseFacesTowards(node(8), node(9), node(10), Mean({node(11), node(12), node(13)})),
            0.0);
  // The same corners keep pairing up: corner i of the second triangle sits above corner i of the
  // first.
  for (size_t i = 0; i < 3; ++i)
    EXPECT_DOUBLE_EQ(node(8 + i)[0], node(11 + i)[0]) << "wedge corner " << i;
  // Tetrahedron and pyramid: base normal towards the apex.
  EXPECT_GT(BaseFacesTowards(node(14), node(15), node(16), node(17)), 0.0);
  EXPECT_GT(BaseFacesTowards(node(18), node(19), node(20), node(22)), 0.0);

  // And the library's own prism is positive the other way round.
  const MeshElement& prism = document.mesh.elements[1];
  const auto& n = document.mesh.nodes;
  EXPECT_GT(BaseFacesTowards(n[prism.nodes[0]], n[prism.nodes[1]], n[prism.nodes[2]],
                             Mean({n[prism.nodes[3]], n[prism.nodes[4]], n[prism.nodes[5]]})),
            0.0);
}

// Other writers lay the same grid out differently: CRLF line ends, single-quoted attributes, a
// DOCTYPE and comments, character references and CDATA among the numbers. The reader has to see
// the same document through all of that, and still count lines as an editor shows them.
TEST(MeshVtu, MarkupOfOtherWritersReadsTheSame) {
  const MeshDocument document = SmallMesh();
  std::string text = vela::io::FormatMesh(document, MeshFormat::Vtu, {0.5, 1.0, -0.25, 0.125});
  auto replace = [&text](const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
  };
  // Kept on their lines, so that line numbers stay those of the plain file.
  replace("<VTKFile type=\"UnstructuredGrid\"",
          "<!DOCTYPE VTKFile><!-- elsewhere --><VTKFile type='UnstructuredGrid'");
  replace("\n19 20 21 22\n", "\n19 20<!-- tetra --> 21&#32;22\n");
  replace("\n8\n14\n18\n", "\n8\n<![CDATA[14]]>\n18\n");
  for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2)
    text.insert(at, "\r");
  ExpectSameDocument(document, vela::io::ParseMesh(text, MeshFormat::Vtu));

  replace("\r\n0.33333333333333331 ", "\r\n0.3x ");
  try {
    vela::io::ParseMesh(text, MeshFormat::Vtu);
    ADD_FAILURE() << "accepted";
  } catch (const MeshFileError& e) {
    EXPECT_EQ(std::string(e.what()),
              "DataArray \"Points\" line 15: expected a value (a number), got '0.3x'");
  }
}

struct BadMesh {
  const char* label;
  MeshFormat format;
  std::string from, to;  // replace the first `from` in a good file with `to`
  std::string inMessage;
};

// As BadMesh::to: drop everything from `from` on.
const char* const kCutHere = "<cut>";

TEST(MeshReaders, CorruptFilesAreRejectedWithAClearMessage) {
  const std::vector<BadMesh> cases = {
      {"json: unknown element type", MeshFormat::Json, "\"tetra\"", "\"quad\"", "elements[2].type"},
      {"json: corner outside the nodes", MeshFormat::Json, "[19,20,21,22]", "[19,20,21,23]",
       "elements[2].nodes[3]: node 23 does not exist"},
      {"json: negative corner", MeshFormat::Json, "[19,20,21,22]", "[-1,20,21,22]",
       "elements[2].nodes[0]"},
      {"json: short corner list", MeshFormat::Json, "[19,20,21,22]", "[19,20,21]",
       "expected 4 node indices for a tetra"},
      {"json: element without corners", MeshFormat::Json, "\"nodes\":[19,20,21,22]", "\"n\":[]",
       "elements[2].nodes: missing"},
      {"json: failed run", MeshFormat::Json, "\"ok\":true", "\"ok\":false", "ok: expected true"},
      {"json: unknown kind", MeshFormat::Json, "\"nway\"", "\"tee\"", "\"nway\" or \"bend\""},
      {"json: overflowing coordinate", MeshFormat::Json, "[[0.3333333333333333,", "[[1e999,",
       "nodes[0][0]: number '1e999' is too large"},
      {"vtu: unknown cell type", MeshFormat::Vtu, "\n10\n", "\n42\n", "VTK type 42"},
      {"vtu: corner outside the nodes", MeshFormat::Vtu, "\n19 20 21 22\n", "\n19 20 21 99\n",
       "DataArray \"connectivity\""},
      {"vtu: offsets that disagree with the type", MeshFormat::Vtu, "\n14\n18\n", "\n14\n17\n",
       "has 3 points in the offsets, expected 4"},
      {"vtu: binary data", MeshFormat::Vtu,
       "Name=\"Points\" NumberOfComponents=\"3\" format=\"ascii\"",
       "Name=\"Points\" NumberOfComponents=\"3\" format=\"binary\"", "only ascii"},
      {"vtu: missing field data", MeshFormat::Vtu, "junction_is_bend", "something_else",
       "junction_is_bend"},
      {"vtu: unclosed element", MeshFormat::Vtu, "</Points>", "",
       "</Piece> does not close <Points>"},
      {"vtu: not a number", MeshFormat::Vtu, "\n0.33333333333333331 ", "\n0.3x ",
       "DataArray \"Points\" line 15: expected a value (a number), got '0.3x'"},
      {"vtu: stray end tag", MeshFormat::Vtu, "</Points>", "</Points></Cells>",
       "XML line 39: end tag </Cells> does not close <Piece>"},
      {"vtu: cut before the last end tag", MeshFormat::Vtu, "</VTKFile>", kCutHere,
       "<VTKFile> is never closed"},
      {"vtu: text after the root", MeshFormat::Vtu, "</VTKFile>\n", "</VTKFile>\ngarbage\n",
       "XML line 71: text outside the root element"},
      {"vtu: NUL byte", MeshFormat::Vtu, "\n8\n6\n", std::string("\n8\0\n6\n", 6),
       "XML line 62: a NUL byte"},
      {"msh: binary", MeshFormat::Msh, "4.1 0 8", "4.1 1 8", "binary"},
      {"msh: old version", MeshFormat::Msh, "4.1 0 8", "2.2 0 8", "not 4.1"},
      {"msh: corner outside the nodes", MeshFormat::Msh, "\n3 20 21 22 23\n", "\n3 20 21 22 99\n",
       "refers to node 99"},
      {"msh: unsupported type", MeshFormat::Msh, "3 1 4 1\n", "3 1 11 1\n", "element type 11"},
      {"msh: repeated element tag", MeshFormat::Msh, "\n3 20 21 22 23\n", "\n1 20 21 22 23\n",
       "element tag 1 is used twice"},
      {"msh: no junction section", MeshFormat::Msh, "$VelaJunction", kCutHere,
       "no $VelaJunction section"},
      {"msh: infinite coordinate", MeshFormat::Msh, "\n0.33333333333333331 ", "\ninf ",
       "not finite"},
  };
  for (const BadMesh& bad : cases) {
    SCOPED_TRACE(bad.label);
    std::string text = vela::io::FormatMesh(SmallMesh(), bad.format, {});
    const size_t at = text.find(bad.from);
    ASSERT_NE(at, std::string::npos) << "the good file has no " << bad.from;
    if (bad.to == kCutHere)
      text.erase(at);
    else
      text.replace(at, bad.from.size(), bad.to);
    try {
      vela::io::ParseMesh(text, bad.format);
      ADD_FAILURE() << "accepted";
    } catch (const MeshFileError& e) {
      EXPECT_NE(std::string(e.what()).find(bad.inMessage), std::string::npos) << e.what();
    }
  }
}

TEST(MeshWriter, RefusedDocumentsLeaveTheOldFileAlone) {
  TempFolder folder;
  const std::string path = folder.File("mesh.vtu");
  vela::io::WriteMesh(path, SmallMesh(), {});
  const std::string before = ReadText(path);

  MeshDocument outside = SmallMesh();
  outside.mesh.elements[2].nodes[3] = 23;
  MeshDocument notFinite = SmallMesh();
  notFinite.mesh.nodes[5][1] = std::nan("");
  MeshDocument bendWithFarNodes = SmallMesh();
  bendWithFarNodes.kind = "bend";
  MeshDocument noKind = SmallMesh();
  noKind.kind.clear();
  EXPECT_THROW(vela::io::WriteMesh(path, outside, {}), std::invalid_argument);
  EXPECT_THROW(vela::io::WriteMesh(path, notFinite, {}), std::invalid_argument);
  EXPECT_THROW(vela::io::WriteMesh(path, bendWithFarNodes, {}), std::invalid_argument);
  EXPECT_THROW(vela::io::WriteMesh(path, noKind, {}), std::invalid_argument);
  EXPECT_THROW(vela::io::WriteMesh(path, SmallMesh(), {1.0, 1.0}), std::invalid_argument);
  EXPECT_THROW(vela::io::WriteMesh(path, SmallMesh(), {1.0, 1.0, std::nan(""), 1.0}),
               std::invalid_argument);
  EXPECT_EQ(ReadText(path), before);

  try {
    vela::io::WriteMesh(folder.File("mesh.stl"), SmallMesh(), {});
    ADD_FAILURE() << "wrote an .stl";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("'.stl'"), std::string::npos) << e.what();
  }
  // A folder where the file should go: the rename fails, the temporary file goes away.
  fs::create_directory(folder.File("taken.msh"));
  fs::create_directory(folder.File("taken.msh") + "/inside");
  EXPECT_THROW(vela::io::WriteMesh(folder.File("taken.msh"), SmallMesh(), {}), std::runtime_error);
  std::vector<std::string> entries = folder.Entries();
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"mesh.vtu", "taken.msh"}));
}

TEST(MeshWriter, VtuAndMshCarryTheScaledJacobian) {
  const std::vector<double> jacobian = {0.5, 1.0, -0.25, 0.1 + 0.2};
  const std::string vtu = vela::io::FormatMesh(SmallMesh(), MeshFormat::Vtu, jacobian);
  EXPECT_NE(vtu.find("Name=\"scaled_jacobian\""), std::string::npos);
  EXPECT_NE(vtu.find("\n0.30000000000000004\n"), std::string::npos);
  EXPECT_NE(vtu.find("Name=\"kind\" format=\"ascii\">\n8\n6\n4\n5\n"), std::string::npos);
  EXPECT_EQ(vela::io::FormatMesh(SmallMesh(), MeshFormat::Vtu, {}).find("scaled_jacobian"),
            std::string::npos);
  const std::string msh = vela::io::FormatMesh(SmallMesh(), MeshFormat::Msh, jacobian);
  EXPECT_NE(msh.find("\"scaled_jacobian\""), std::string::npos);
  EXPECT_NE(msh.find("\n4 0.30000000000000004\n"), std::string::npos);
}

// ----------------------------------------------------------------------------------------------
// An independent reader: meshio, through tests/tool/read_with_meshio.py.

struct ScriptRun {
  int status = -1;
  std::string output;
};

ScriptRun RunScript(const std::string& arguments) {
  const std::string command = std::string("/usr/bin/python3 ") + VELA_SOURCE_DIR +
                              "/tests/tool/read_with_meshio.py " + arguments + " 2>&1";
  ScriptRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

bool MeshioAvailable(std::string& why) {
  if (!fs::exists("/usr/bin/python3")) {
    why = "/usr/bin/python3 is not installed";
    return false;
  }
  if (std::system("/usr/bin/python3 -c 'import meshio, numpy' >/dev/null 2>&1") != 0) {
    why = "meshio (python3-meshio) is not installed for /usr/bin/python3";
    return false;
  }
  return true;
}

TEST(MeshioReads, VtuAndMshWithEveryCellPositive) {
  std::string why;
  if (!MeshioAvailable(why)) GTEST_SKIP() << why;
  TempFolder folder;
  const std::string vtu = folder.File("small.vtu"), msh = folder.File("small.msh");
  vela::io::WriteMesh(vtu, SmallMesh(), {0.5, 1.0, -0.25, 0.125});
  vela::io::WriteMesh(msh, SmallMesh(), {0.5, 1.0, -0.25, 0.125});

  // With gmsh installed, the .msh file also goes through gmsh's own Jacobian check.
  const ScriptRun run = RunScript("--gmsh '" + vtu + "' '" + msh + "'");
  EXPECT_EQ(run.status, 0) << run.output;
  const std::string counts = "nodes=23 tetra=1 pyramid=1 wedge=1 hexahedron=1 positive_volume=yes";
  EXPECT_NE(run.output.find(vtu + ": " + counts + "\n"), std::string::npos) << run.output;
  const std::string gmsh = fs::exists("/usr/bin/gmsh") ? " gmsh=ok" : " gmsh=missing";
  EXPECT_NE(run.output.find(msh + ": " + counts + gmsh), std::string::npos) << run.output;
}

// The check above is only worth something if the script notices a turned cell.
TEST(MeshioReads, AnInvertedCellFailsTheCheck) {
  std::string why;
  if (!MeshioAvailable(why)) GTEST_SKIP() << why;
  TempFolder folder;
  for (const char* extension : {".vtu", ".msh"}) {
    SCOPED_TRACE(extension);
    MeshDocument document = SmallMesh();
    std::swap(document.mesh.elements[1].nodes[1], document.mesh.elements[1].nodes[2]);  // prism
    std::swap(document.mesh.elements[1].nodes[4], document.mesh.elements[1].nodes[5]);
    const std::string path = folder.File(std::string("inverted") + extension);
    vela::io::WriteMesh(path, document, {});
    const ScriptRun run = RunScript("--gmsh '" + path + "'");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("positive_volume=no (1 of 4 cells)"), std::string::npos)
        << run.output;
    if (std::string(extension) == ".msh" && fs::exists("/usr/bin/gmsh")) {
      EXPECT_NE(run.output.find("gmsh=failed (min Jacobian -"), std::string::npos) << run.output;
    }
  }
  const ScriptRun unreadable = RunScript("'" + folder.File("absent.vtu") + "'");
  EXPECT_EQ(unreadable.status, 1) << unreadable.output;
}

}  // namespace
