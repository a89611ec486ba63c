// vela-mesh file formats: junction files in, mesh files out and back in.

#include "file_text.h"
#include "junction_file.h"
#include "mesh_file.h"
#include "tool_test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace vela::io;

namespace {

using Point = std::array<double, 3>;

using vela::testing::TempFolder;

using vela::testing::ReadText;

// The message of the Error that call throws; "(accepted)" when it throws nothing.
template <typename Error, typename Call>
std::string MessageOf(Call call) {
  try {
    call();
  } catch (const Error& e) {
    return e.what();
  }
  return "(accepted)";
}

std::string Golden(const std::string& file) { return std::string(VELA_GOLDEN_DIR) + "/" + file; }
const char* const kGoldenNames[] = {"y-golden", "tee-golden", "x-tilted-golden", "bend-golden"};

// One element of each kind, positive in the library's corner order, listed out of Gmsh's block
// order (tetra, pyramid, prism, hexa) so that a reader keeping block order is caught. The
// coordinates need all 17 digits, and one is -0.0, whose sign must survive too.
MeshDocument SmallMesh() {
  const std::vector<Point> unit = {  // hexahedron, prism, pyramid, tetrahedron
      {0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1},
      {2, 0, 0}, {3, 0, 0}, {2, 1, 0}, {2, 0, 1}, {3, 0, 1}, {2, 1, 1},
      {4, 0, 0}, {5, 0, 0}, {5, 1, 0}, {4, 1, 0}, {4.5, 0.5, 1},
      {6, 0, 0}, {7, 0, 0}, {6, 1, 0}, {6, 0, 1}};
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
  document.farNodes = {{0.1, 0.2, 0.30000000000000004}, {-1e-300, 5e300, 1.0 / 7.0}, {-0.0, 0, 1}};
  return document;
}

// The same document again, bit for bit (so -0.0 differs from 0.0).
void ExpectSameDocument(const MeshDocument& expected, const MeshDocument& actual) {
  auto points = [](const std::vector<Point>& list) {
    std::vector<std::tuple<Point, bool, bool, bool>> out;
    for (const Point& p : list)
      out.emplace_back(p, std::signbit(p[0]), std::signbit(p[1]), std::signbit(p[2]));
    return out;
  };
  auto cells = [](const MeshDocument& document) {
    std::vector<std::pair<int, std::array<int, 8>>> out;
    for (const MeshElement& e : document.mesh.elements) out.emplace_back(e.CornerCount(), e.nodes);
    return out;
  };
  EXPECT_EQ(expected.kind, actual.kind);
  EXPECT_EQ(points(expected.mesh.nodes), points(actual.mesh.nodes));
  EXPECT_EQ(points(expected.farNodes), points(actual.farNodes));
  EXPECT_EQ(cells(expected), cells(actual));
}

// ----------------------------------------------------------------------------------------------
// Junction files

TEST(JunctionFile, DefaultsAndTheGoldenFiles) {
  const JunctionFile j = ParseJunction(
      R"({"center": [1, 2, 3], "far_points": [[10, 0, 0], [0, 10, 0], [-10, 0, 0]],
          "radii": [1, 1.5, 1, 1.5, 2, 2.5]})",
      "hint");
  EXPECT_EQ(std::tie(j.name, j.center, j.radii),
            std::make_tuple(std::string("hint"), Point{1, 2, 3},
                            std::vector<double>{1, 1.5, 1, 1.5, 2, 2.5}));
  EXPECT_EQ(j.farPoints, (std::vector<Point>{{10, 0, 0}, {0, 10, 0}, {-10, 0, 0}}));
  EXPECT_EQ(std::tie(j.innerShare, j.outerShare, j.firstCircleNodes, j.margin),
            std::make_tuple(0.8, 0.2, 8, std::array<int, 2>{5, 1}));
  EXPECT_EQ(j.innerLayers, (std::vector<double>{0, 0.25, 0.5, 0.75, 1}));
  EXPECT_EQ(j.outerLayers, (std::vector<double>{0, 0.5, 1}));

  for (const char* name : kGoldenNames) {
    SCOPED_TRACE(name);
    const JunctionFile g = ReadJunctionFile(Golden(std::string(name) + ".json"));
    EXPECT_EQ(g.name, name);
    EXPECT_EQ(g.radii.size(), 2 * g.farPoints.size());
    EXPECT_EQ(g.IsBend(), std::string(name) == "bend-golden");
  }
  const JunctionFile tee = ReadJunctionFile(Golden("tee-golden.json"));
  EXPECT_EQ(std::tie(tee.firstCircleNodes, tee.innerLayers, tee.outerLayers, tee.margin),
            std::make_tuple(6, std::vector<double>{0, 0.5, 1}, std::vector<double>{0, 1},
                            std::array<int, 2>{5, 1}));  // margin is not in the file
  EXPECT_EQ(tee.farPoints[1], (Point{0, 12, 0}));
}

// A good junction file with more keys, which replace the ones before them.
std::string Junction(const std::string& extra) {
  return R"({"center": [0, 0, 0], "far_points": [[9, 0, 0], [0, 9, 0], [-9, 0, 0]],)"
         R"( "radii": [1, 1, 1, 1, 1, 1])" + extra + "}";
}

TEST(JunctionFile, BadFilesNameTheKeyOnOneLine) {
  const std::pair<std::string, std::string> cases[] = {  // text, start of the message
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
  };
  for (const auto& [text, start] : cases) {
    const std::string message =
        MessageOf<JunctionFileError>([&text = text] { ParseJunction(text, "hint"); });
    EXPECT_EQ(message.rfind(start, 0), 0u) << text << "\n" << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
  }
  // Read from a file, the name defaults to the file's stem and messages start with the path.
  TempFolder folder;
  std::ofstream(folder.File("my-tee.json")) << Junction("");
  EXPECT_EQ(ReadJunctionFile(folder.File("my-tee.json")).name, "my-tee");
  std::ofstream(folder.File("bad.json")) << Junction(R"(, "radii": 3)");
  for (const std::string& path : {folder.File("absent.json"), folder.File("bad.json")}) {
    const std::string message = MessageOf<JunctionFileError>([&path] { ReadJunctionFile(path); });
    EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << message;
  }
}

// ----------------------------------------------------------------------------------------------
// Mesh files

// A format and an encoding: every writer variant a user can ask for.
struct Variant {
  const char* extension;
  Encoding encoding;
  const char* name;
};

class MeshRoundTrip : public ::testing::TestWithParam<Variant> {
protected:
  const MeshFormat format = MeshFormatFromPath(std::string("x") + GetParam().extension);
  const WriteOptions options{GetParam().encoding};
};

TEST_P(MeshRoundTrip, WriteThenReadGivesTheSameDocument) {
  TempFolder folder;
  const std::string path = folder.File(std::string("small") + GetParam().extension);
  WriteMesh(path, SmallMesh(), {0.5, 1.0, -0.25, 0.125}, options);
  ExpectSameDocument(SmallMesh(), ReadMesh(path));

  MeshDocument bend = SmallMesh();
  bend.kind = "bend";
  bend.farNodes.clear();
  WriteMesh(path, bend, {}, options);  // replaces the file, leaving nothing else behind
  ExpectSameDocument(bend, ReadMesh(path));
  EXPECT_EQ(folder.Entries(), std::set<std::string>{fs::path(path).filename()});

  MeshDocument unknown = bend;  // what a reader gives back for another program's file
  unknown.kind.clear();
  ExpectSameDocument(unknown, ParseMesh(FormatMesh(unknown, format, {}, options), format));

  for (const char* name : kGoldenNames) {
    SCOPED_TRACE(name);
    const std::string goldenText = ReadText(Golden(std::string(name) + ".mesh.json"));
    const MeshDocument golden = ParseMesh(goldenText, MeshFormat::Json);
    const std::string text = FormatMesh(golden, format, {}, options);
    ExpectSameDocument(golden, ParseMesh(text, format));
    if (format == MeshFormat::Json) {  // the shape of the golden dumps, key order included
      EXPECT_EQ(nlohmann::ordered_json::parse(goldenText), nlohmann::ordered_json::parse(text));
    }
  }
}

// A cut file never reads as a mesh, except a .msh cut at the end of a section
// after its elements: the sections after them are optional, and what is left
// is a whole mesh of unknown kind, as another program would write it.
TEST_P(MeshRoundTrip, EveryTruncationIsRejected) {
  const std::string text = FormatMesh(SmallMesh(), format, {0.5, 1.0, -0.25, 0.125}, options);
  const size_t end = text.find_last_not_of(" \n") + 1;
  const auto endsSection = [](std::string cut) {
    cut.erase(cut.find_last_not_of(" \n") + 1);
    for (const std::string section : {"\n$EndElements", "\n$EndElementData"})
      if (cut.size() >= section.size() &&
          cut.compare(cut.size() - section.size(), section.size(), section) == 0)
        return true;
    return false;
  };
  for (size_t length = 0; length < end; ++length) {
    try {
      const MeshDocument cut = ParseMesh(text.substr(0, length), format);
      EXPECT_TRUE(format == MeshFormat::Msh && endsSection(text.substr(0, length))) << length;
      EXPECT_EQ(cut.kind, "");
      EXPECT_EQ(cut.mesh.elements.size(), SmallMesh().mesh.elements.size());
    } catch (const MeshFileError&) {
    }
  }
}

// Each encoding writes the format its name says, and Default picks binary .vtu and ASCII .msh.
TEST_P(MeshRoundTrip, EncodingIsTheOneAskedFor) {
  const std::string text = FormatMesh(SmallMesh(), format, {}, options);
  const bool binary = GetParam().encoding == Encoding::Binary ||
                      (GetParam().encoding == Encoding::Default && format == MeshFormat::Vtu);
  if (format == MeshFormat::Vtu) {
    EXPECT_EQ(text.find("<AppendedData encoding=\"raw\">") != std::string::npos, binary);
    EXPECT_EQ(text.find("compressor=\"vtkZLibDataCompressor\"") != std::string::npos, binary);
    EXPECT_EQ(text.find("format=\"appended\"") != std::string::npos, binary);
  } else if (format == MeshFormat::Msh) {
    EXPECT_EQ(text.rfind(binary ? "$MeshFormat\n4.1 1 8\n" : "$MeshFormat\n4.1 0 8\n", 0), 0u);
    EXPECT_NE(text.find("$PhysicalNames\n1\n3 1 \"junction\"\n"), std::string::npos);
  } else {
    EXPECT_EQ(text, FormatMesh(SmallMesh(), format, {}));  // .json is one exact text
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, MeshRoundTrip,
    ::testing::Values(Variant{".json", Encoding::Binary, "json"},
                      Variant{".vtu", Encoding::Default, "vtu_default"},
                      Variant{".vtu", Encoding::Ascii, "vtu_ascii"},
                      Variant{".vtu", Encoding::Binary, "vtu_binary"},
                      Variant{".msh", Encoding::Default, "msh_default"},
                      Variant{".msh", Encoding::Binary, "msh_binary"}),
    [](const auto& param) { return std::string(param.param.name); });

// The numbers inside the .vtu DataArray of that name.
std::vector<long long> VtuIntegers(const std::string& text, const std::string& name) {
  const size_t start = text.find('>', text.find("Name=\"" + name + "\"")) + 1;
  std::istringstream values(text.substr(start, text.find('<', start) - start));
  std::vector<long long> numbers;
  for (long long v; values >> v;) numbers.push_back(v);
  return numbers;
}

// Six times the signed volume of the tetrahedron (a, b, c, d): positive when the right-hand
// normal of triangle (a, b, c) points towards d.
double SignedVolume(const Point& a, const Point& b, const Point& c, const Point& d) {
  const Point u{b[0] - a[0], b[1] - a[1], b[2] - a[2]}, v{c[0] - a[0], c[1] - a[1], c[2] - a[2]},
      w{d[0] - a[0], d[1] - a[1], d[2] - a[2]};
  return w[0] * (u[1] * v[2] - u[2] * v[1]) + w[1] * (u[2] * v[0] - u[0] * v[2]) +
         w[2] * (u[0] * v[1] - u[1] * v[0]);
}

// The wedge is the one kind VTK numbers unlike the library: its first triangle's normal points
// away from the second triangle. The other kinds pass through unchanged, which the meshio check
// below covers. Cells come grouped by kind, and "element" leads each back to its place.
TEST(MeshVtu, WedgeIsPositiveByVtkRulesAndCellsAreGroupedByKind) {
  const MeshDocument document = SmallMesh();
  const std::string text = FormatMesh(document, MeshFormat::Vtu, {}, {Encoding::Ascii});
  ASSERT_EQ(VtuIntegers(text, "types"), (std::vector<long long>{10, 14, 13, 12}));
  const std::vector<long long> place = VtuIntegers(text, "element");
  ASSERT_EQ(place.size(), 4u);
  for (size_t cell = 0; cell < 4; ++cell)  // cells ascend in corner count: 4, 5, 6, 8
    EXPECT_EQ(document.mesh.elements[static_cast<size_t>(place[cell])].CornerCount(),
              cell == 3 ? 8 : static_cast<int>(cell) + 4);
  const std::vector<long long> connectivity = VtuIntegers(text, "connectivity");
  ASSERT_EQ(connectivity.size(), 4u + 5u + 6u + 8u);
  std::vector<Point> wedge;  // the third cell
  for (size_t i = 9; i < 15; ++i)
    wedge.push_back(document.mesh.nodes[static_cast<size_t>(connectivity[i])]);
  for (size_t i = 0; i < 3; ++i) {  // each corner of the second triangle above its partner
    EXPECT_LT(SignedVolume(wedge[0], wedge[1], wedge[2], wedge[3 + i]), 0.0);
    EXPECT_EQ(wedge[i][0], wedge[3 + i][0]) << "wedge corner " << i;
  }
}

// pugixml splits character data around comments and CDATA sections; the numbers are still one list.
TEST(MeshVtu, DataSplitByCommentsAndCdataReadsTheSame) {
  std::string text = FormatMesh(SmallMesh(), MeshFormat::Vtu, {}, {Encoding::Ascii});
  text.replace(text.find("\n19 20 21 22\n"), 13, "\n19 20<!-- tetra --> 21<![CDATA[ 22]]>\n");
  ExpectSameDocument(SmallMesh(), ParseMesh(text, MeshFormat::Vtu));
}

TEST(MeshReaders, MalformedFilesAreRejected) {
  struct Bad {
    MeshFormat format;
    std::string from, to;  // `to` replaces the first `from` in a good file
    std::string inMessage;
  };
  const Bad cases[] = {
      {MeshFormat::Json, "\"tetra\"", "\"quad\"", "elements[2].type"},
      {MeshFormat::Json, "[19,20,21,22]", "[19,20,21,23]", "elements[2].nodes[3]"},
      {MeshFormat::Json, "[19,20,21,22]", "[19,20,21]", "elements[2].nodes"},
      {MeshFormat::Json, "\"ok\":true", "\"ok\":false", "ok"},
      {MeshFormat::Json, "\"nway\"", "\"tee\"", "kind"},
      {MeshFormat::Json, "[[0.3333333333333333,", "[[1e999,", "nodes[0][0]"},
      {MeshFormat::Vtu, "\n10\n", "\n42\n", "VTK type 42"},
      // A triangle is skipped, leaving three solids.
      {MeshFormat::Vtu, "\n10\n", "\n5\n", "not a free place in 0..3-1"},
      {MeshFormat::Vtu, "\n19 20 21 22\n", "\n19 20 21 99\n", "connectivity"},
      {MeshFormat::Vtu, "\n9\n15\n", "\n9\n14\n", "cell 2"},
      {MeshFormat::Vtu, "\n2\n3\n1\n0\n", "\n2\n3\n1\n1\n", "\"element\" of cell 3 is 1"},
      {MeshFormat::Vtu, ">0</DataArray>", ">2</DataArray>", "junction_is_bend"},
      {MeshFormat::Vtu, "junction_is_bend", "something_else", "unknown kind has no far nodes"},
      {MeshFormat::Vtu, "NumberOfPoints=\"23\"", "NumberOfPoints=\"22\"", "Points"},
      {MeshFormat::Vtu, "\n0.33333333333333331 ", "\n0.3x ", "\"Points\" line 15:"},
      {MeshFormat::Vtu, "</Points>", "</Points></Cells>", "XML line 39:"},
      {MeshFormat::Vtu, "\n5\n6\n", std::string("\n5\0\n6\n", 6), "XML line"},
      {MeshFormat::Vtu, "header_type=\"UInt64\"", "header_type=\"UInt16\"", "header_type"},
      {MeshFormat::Msh, "4.1 0 8", "4.1 1 8", "byte-order mark"},
      {MeshFormat::Msh, "4.1 0 8", "2.2 0 8", "4.1"},
      {MeshFormat::Msh, "\n3 20 21 22 23\n", "\n3 20 21 22 99\n", "node 99"},
      {MeshFormat::Msh, "3 1 4 1\n", "3 1 11 1\n", "type 11"},
      {MeshFormat::Msh, "\n3 20 21 22 23\n", "\n1 20 21 22 23\n", "tag 1"},
      {MeshFormat::Msh, "\n0.33333333333333331 ", "\ninf ", "line 38:"},
  };
  for (const Bad& bad : cases) {
    SCOPED_TRACE(bad.from + " -> " + bad.to);
    std::string text = FormatMesh(SmallMesh(), bad.format, {}, {Encoding::Ascii});
    const size_t at = text.find(bad.from);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, bad.from.size(), bad.to);
    const std::string message = MessageOf<MeshFileError>([&] { ParseMesh(text, bad.format); });
    EXPECT_NE(message.find(bad.inMessage), std::string::npos) << message;
  }
}

TEST(MeshWriter, FailedWritesLeaveNoFileBehind) {
  TempFolder folder;
  const std::string path = folder.File("mesh.vtu");
  WriteMesh(path, SmallMesh(), {});
  const std::string before = ReadText(path);

  std::vector<MeshDocument> refused(4, SmallMesh());
  refused[0].mesh.elements[2].nodes[3] = 23;  // outside the nodes
  refused[1].mesh.nodes[5][1] = std::nan("");
  refused[2].kind = "bend";  // with far nodes
  refused[3].kind.clear();  // a mesh of unknown kind, with far nodes
  for (const MeshDocument& document : refused)
    EXPECT_THROW(WriteMesh(path, document, {}), std::invalid_argument);
  EXPECT_THROW(WriteMesh(path, SmallMesh(), {1, 1}), std::invalid_argument);  // one per element
  EXPECT_THROW(WriteMesh(path, SmallMesh(), {1, 1, NAN, 1}), std::invalid_argument);
  EXPECT_THROW(WriteMesh(folder.File("mesh.stl"), SmallMesh(), {}), std::invalid_argument);
  EXPECT_EQ(ReadText(path), before);

  // A full folder where the file should go: the rename fails, the temporary file goes away.
  fs::create_directories(folder.File("taken.msh") + "/inside");
  EXPECT_THROW(WriteMesh(folder.File("taken.msh"), SmallMesh(), {}), std::runtime_error);
  EXPECT_EQ(folder.Entries(), (std::set<std::string>{"mesh.vtu", "taken.msh"}));
}

// Interrupted while a file is half written: the temporary file goes, and the
// process still ends by the signal, as a parent expects.
TEST(MeshWriter, InterruptRemovesTheTemporaryFile) {
  TempFolder folder;
  for (const int signal : {SIGINT, SIGTERM}) {
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      detail::RemoveTemporaryFilesOnInterrupt();
      detail::TemporaryFile temporary(folder.File("mesh.vtu.partial-1-0"));
      std::ofstream(temporary.Path()) << "half a mesh";
      ::raise(signal);
      ::_exit(0);  // not reached: the signal ends the child
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "signal " << signal;
    EXPECT_EQ(folder.Entries(), std::set<std::string>{}) << "signal " << signal;
  }
}

// ----------------------------------------------------------------------------------------------
// An independent reader: meshio (and gmsh when installed), through tests/tool/read_with_meshio.py.

// Every encoding of both formats; the .vtu files also go through MED, which takes one section per
// cell type only.
TEST(MeshioReads, EveryCellPositiveAndAFlippedPrismCaught) {
  if (std::system("/usr/bin/python3 -c 'import meshio, numpy' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "meshio (python3-meshio) is not installed for /usr/bin/python3";
  const bool gmsh = fs::exists("/usr/bin/gmsh");
  const bool med = std::system("/usr/bin/python3 -c 'import meshio.med, h5py' >/dev/null 2>&1") == 0;
  MeshDocument flipped = SmallMesh();  // the control: the script must notice a turned cell
  std::swap(flipped.mesh.elements[1].nodes[1], flipped.mesh.elements[1].nodes[2]);
  std::swap(flipped.mesh.elements[1].nodes[4], flipped.mesh.elements[1].nodes[5]);
  const std::tuple<std::string, MeshDocument, int, std::string, std::string> cases[] = {
      {"good", SmallMesh(), 0, "yes", gmsh ? " gmsh=ok" : " gmsh=missing"},
      {"flipped", flipped, 1, "no (1 of 4 cells)", gmsh ? " gmsh=failed (min Jacobian -" : ""}};
  TempFolder folder;
  for (const auto& [name, document, expectedStatus, verdict, gmshVerdict] : cases) {
    std::string paths;
    for (const char* encoding : {"ascii", "binary"}) {
      for (const char* extension : {".vtu", ".msh"}) {
        const std::string path = folder.File(name + "." + encoding + extension);
        WriteMesh(path, document, {0.5, 1.0, -0.25, 0.125},
                  {encoding[0] == 'a' ? Encoding::Ascii : Encoding::Binary});
        paths += " '" + path + "'";
      }
    }
    const int status = std::system(("/usr/bin/python3 " VELA_SOURCE_DIR
                                    "/tests/tool/read_with_meshio.py --gmsh --med" + paths + " >'" +
                                    folder.File("out.txt") + "' 2>&1").c_str());
    const std::string output = ReadText(folder.File("out.txt"));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == expectedStatus) << output;
    const std::string counts = ": nodes=23 tetra=1 pyramid=1 wedge=1 hexahedron=1 positive_volume=";
    for (const char* encoding : {"ascii", "binary"}) {
      const std::string stem = folder.File(name + "." + encoding);
      EXPECT_NE(output.find(stem + ".vtu" + counts + verdict + (med ? " med=ok\n" : " med=missing\n")),
                std::string::npos) << output;
      EXPECT_NE(output.find(stem + ".msh" + counts + verdict + gmshVerdict), std::string::npos) << output;
    }
  }
}

}  // namespace
