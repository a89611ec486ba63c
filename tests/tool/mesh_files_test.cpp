// Mesh files of a junction and of a runner system: what the writers write
// reads back the same in every format and encoding, malformed files and
// meshes that cannot be written are refused by name, and readers that are
// not ours read our files as we read theirs.

#include "mesh_file.h"
#include "system_detail.h"
#include "system_mesh_file.h"
#include "tool_test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <functional>
#include <regex>
#include <tuple>
#include <vector>

#include "file_text.h"

namespace fs = std::filesystem;
using namespace vela::io;
using vela::system::BoundaryFace;
using vela::system::RegionKind;
using vela::system::SystemMesh;
using vela::testing::Edited;
using vela::testing::MessageOf;
using vela::testing::ReadText;
using vela::testing::TempFolder;

namespace {

using Point = std::array<double, 3>;

std::string Golden(const std::string& file) { return std::string(VELA_GOLDEN_DIR) + "/" + file; }

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

// The faces grouped by patch, each patch's in their order, as a .json file gives them back.
void GroupByPatch(std::vector<BoundaryFace>& faces) {
  std::stable_sort(faces.begin(), faces.end(),
                   [](const BoundaryFace& a, const BoundaryFace& b) { return a.patch < b.patch; });
}

// Two hexahedra side by side and a prism on the first, positive in the library's order, with
// coordinates as SmallMesh's. One region's name holds what XML escapes. The second hexahedron's
// far end and one prism triangle form the "inlet" (two face types in one patch); the rest of
// the boundary is the "wall".
SystemMesh SmallSystem() {
  const std::vector<Point> unit = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1},
                                   {0, 1, 1}, {2, 0, 0}, {2, 1, 0}, {2, 0, 1}, {2, 1, 1}, {0.5, 0, 1.5}, {0.5, 1, 1.5}};
  SystemMesh mesh;
  for (const Point& p : unit) mesh.nodes.push_back({p[0] / 3.0 - 1e-17, p[1] * 0.7 + 12345.678901234567, p[2] * 2 / 3});
  mesh.nodes[0][0] = -0.0;
  mesh.regions = {{RegionKind::Junction, "junction at s"}, {RegionKind::Runner, "runner s<&>'a"},
                  {RegionKind::Bend, "bend at a"}};
  mesh.elements = {
      {8, {0, 1, 2, 3, 4, 5, 6, 7}, 0}, {8, {1, 8, 9, 2, 5, 10, 11, 6}, 1}, {6, {5, 4, 12, 6, 7, 13, -1, -1}, 2}};
  mesh.patches = {"wall", "inlet"};
  for (const std::vector<int>& corners : vela::system::detail::BoundaryFaces(mesh.elements)) {
    BoundaryFace face{static_cast<int>(corners.size()), {-1, -1, -1, -1}, 0};
    std::copy(corners.begin(), corners.end(), face.nodes.begin());
    const std::set<int> key(corners.begin(), corners.end());
    face.patch = key == std::set<int>{8, 9, 10, 11} || key == std::set<int>{4, 5, 12} ? 1 : 0;
    mesh.faces.push_back(face);
  }
  GroupByPatch(mesh.faces);
  return mesh;
}

// The points with the sign of each coordinate, so that -0.0 differs from 0.0.
std::vector<std::tuple<Point, bool, bool, bool>> Bits(const std::vector<Point>& points) {
  std::vector<std::tuple<Point, bool, bool, bool>> out;
  for (const Point& p : points) out.emplace_back(p, std::signbit(p[0]), std::signbit(p[1]), std::signbit(p[2]));
  return out;
}

void ExpectSameDocument(const MeshDocument& expected, const MeshDocument& actual) {
  auto cells = [](const MeshDocument& document) {
    std::vector<std::pair<int, std::array<int, 8>>> out;
    for (const MeshElement& e : document.mesh.elements) out.emplace_back(e.CornerCount(), e.nodes);
    return out;
  };
  EXPECT_EQ(expected.kind, actual.kind);
  EXPECT_EQ(Bits(expected.mesh.nodes), Bits(actual.mesh.nodes));
  EXPECT_EQ(Bits(expected.farNodes), Bits(actual.farNodes));
  EXPECT_EQ(cells(expected), cells(actual));
}

void ExpectSameSystem(const SystemMesh& expected, const SystemMesh& actual) {
  const auto rest = [](const SystemMesh& mesh) {
    std::vector<std::tuple<int, std::array<int, 8>, int>> elements;
    for (const auto& e : mesh.elements) elements.emplace_back(e.corners, e.nodes, e.region);
    std::vector<std::pair<RegionKind, std::string>> regions;
    for (const auto& r : mesh.regions) regions.emplace_back(r.kind, r.name);
    std::vector<std::tuple<int, std::array<int, 4>, int>> faces;
    for (const auto& f : mesh.faces) faces.emplace_back(f.corners, f.nodes, f.patch);
    return std::make_tuple(elements, regions, mesh.patches, faces);
  };
  EXPECT_EQ(Bits(expected.nodes), Bits(actual.nodes));
  EXPECT_EQ(rest(expected), rest(actual));
}

// An extension and an encoding: every writer variant a user can ask for.
struct Variant {
  const char* extension;
  Encoding encoding;
};

// Names the variant in test listings, which would otherwise show its pointer.
void PrintTo(const Variant& variant, std::ostream* os) {
  *os << variant.extension << " " << static_cast<int>(variant.encoding);
}

class MeshFiles : public ::testing::TestWithParam<Variant> {
protected:
  const std::string extension = GetParam().extension;
  const MeshFormat format = MeshFormatFromPath("x" + extension);
  const WriteOptions options{GetParam().encoding};
  // Default is binary .vtu (compressed, appended) and ASCII .msh; .json is text whatever is asked.
  const bool binary = format != MeshFormat::Json &&
                      (options.encoding == Encoding::Binary ||
                       (options.encoding == Encoding::Default && format == MeshFormat::Vtu));
};

bool IsBinary(const std::string& text) {
  return (text.find("format=\"appended\"") != std::string::npos &&
          text.find("compressor=\"vtkZLibDataCompressor\"") != std::string::npos) ||
         text.rfind("$MeshFormat\n4.1 1 8\n", 0) == 0;
}

TEST_P(MeshFiles, WriteThenReadGivesTheSameMesh) {
  TempFolder folder;
  const std::string path = folder.File("small" + extension), systemPath = folder.File("system" + extension);
  WriteMesh(path, SmallMesh(), {0.5, 1.0, -0.25, 0.125}, options);
  ExpectSameDocument(SmallMesh(), ReadMesh(path));
  EXPECT_EQ(IsBinary(ReadText(path)), binary);
  MeshDocument bend = SmallMesh();
  bend.kind = "bend";
  bend.farNodes.clear();
  WriteMesh(path, bend, {}, options);  // replaces the file
  ExpectSameDocument(bend, ReadMesh(path));
  MeshDocument unknown = bend;  // what a reader gives back for another program's file
  unknown.kind.clear();
  ExpectSameDocument(unknown, ParseMesh(FormatMesh(unknown, format, {}, options), format));

  // A system: the .json gives back everything; the .vtu and .msh the volume, as our reader reads them.
  const std::vector<std::string> written = WriteSystemMesh(systemPath, SmallSystem(), "small", options);
  const std::string patchesPath = folder.File("system.patches" + extension);  // keeps the extension's case
  EXPECT_EQ(written, (format == MeshFormat::Vtu ? std::vector<std::string>{systemPath, patchesPath}
                                                : std::vector<std::string>{systemPath}));
  EXPECT_EQ(folder.Count(), 1 + static_cast<int>(written.size())) << "no temporary file left behind";
  if (format == MeshFormat::Json) {
    ExpectSameSystem(SmallSystem(), ParseSystemJson(ReadText(systemPath)));
    SystemMesh shuffled = SmallSystem();  // faces out of patch order come back grouped
    std::reverse(shuffled.faces.begin(), shuffled.faces.end());
    WriteSystemMesh(systemPath, shuffled, "", options);
    GroupByPatch(shuffled.faces);
    ExpectSameSystem(shuffled, ParseSystemJson(ReadText(systemPath)));
  } else {
    MeshDocument volume;
    vela::system::WriteSolidMesh(SmallSystem(), volume.mesh);
    volume.kind = format == MeshFormat::Vtu ? "system" : "";  // the .vtu's regions tell
    ExpectSameDocument(volume, ReadMesh(systemPath));
    EXPECT_EQ(IsBinary(ReadText(systemPath)), binary);
  }

  for (const char* name : {"y-golden", "tee-golden", "x-tilted-golden", "bend-golden"}) {
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
TEST_P(MeshFiles, EveryTruncationIsRejected) {
  const std::string text = FormatMesh(SmallMesh(), format, {0.5, 1.0, -0.25, 0.125}, options);
  for (size_t length = 0; length < text.find_last_not_of(" \n") + 1; ++length) {
    try {
      const std::string cut = text.substr(0, length);
      const MeshDocument document = ParseMesh(cut, format);
      EXPECT_TRUE(format == MeshFormat::Msh &&
                  std::regex_search(cut, std::regex("\n\\$End(Elements|ElementData)\\s*$"))) << length;
      EXPECT_EQ(document.kind, "");
      EXPECT_EQ(document.mesh.elements.size(), SmallMesh().mesh.elements.size());
    } catch (const MeshFileError&) {
    }
  }
}

std::string VariantName(const ::testing::TestParamInfo<Variant>& variant) {
  const char* const encodings[] = {"_default", "_ascii", "_binary"};
  return std::string(variant.param.extension + 1) + encodings[static_cast<size_t>(variant.param.encoding)];
}

INSTANTIATE_TEST_SUITE_P(Formats, MeshFiles,
                         ::testing::Values(Variant{".json", Encoding::Binary}, Variant{".vtu", Encoding::Default},
                                           Variant{".vtu", Encoding::Ascii}, Variant{".VTU", Encoding::Binary},
                                           Variant{".msh", Encoding::Default}, Variant{".msh", Encoding::Binary}),
                         VariantName);

TEST(MeshReaders, MalformedFilesNameThePlace) {
  const struct {
    const char* format;  // of a good file, in which `to` replaces the first `from`
    std::string from, to, inMessage;
  } rows[] = {
      {"json", "\"tetra\"", "\"quad\"", "elements[2].type"},
      {"json", "[19,20,21,22]", "[19,20,21,23]", "elements[2].nodes[3]"},
      {"json", "[19,20,21,22]", "[19,20,21]", "elements[2].nodes"},
      {"json", "\"ok\":true", "\"ok\":false", "ok"},
      {"json", "\"nway\"", "\"tee\"", "kind"},
      {"json", "[[0.3333333333333333,", "[[1e999,", "nodes[0][0]"},
      {"vtu", "\n10\n", "\n42\n", "VTK type 42"},
      {"vtu", "\n10\n", "\n5\n", "not a free place in 0..3-1"},  // a triangle is skipped: three solids left
      {"vtu", "\n19 20 21 22\n", "\n19 20 21 99\n", "connectivity"},
      {"vtu", "\n9\n15\n", "\n9\n14\n", "cell 2"},
      {"vtu", "\n2\n3\n1\n0\n", "\n2\n3\n1\n1\n", "\"element\" of cell 3 is 1"},
      {"vtu", ">0</DataArray>", ">2</DataArray>", "junction_is_bend"},
      {"vtu", "junction_is_bend", "something_else", "unknown kind has no far nodes"},
      {"vtu", "NumberOfPoints=\"23\"", "NumberOfPoints=\"22\"", "Points"},
      {"vtu", "\n0.33333333333333331 ", "\n0.3x ", "\"Points\" line 15:"},
      {"vtu", "</Points>", "</Points></Cells>", "XML line 39:"},
      {"vtu", "\n5\n6\n", std::string("\n5\0\n6\n", 6), "XML line"},
      {"vtu", "header_type=\"UInt64\"", "header_type=\"UInt16\"", "header_type"},
      {"msh", "4.1 0 8", "4.1 1 8", "byte-order mark"},
      {"msh", "4.1 0 8", "2.2 0 8", "4.1"},
      {"msh", "\n3 20 21 22 23\n", "\n3 20 21 22 99\n", "node 99"},
      {"msh", "3 1 4 1\n", "3 1 11 1\n", "type 11"},
      {"msh", "\n3 20 21 22 23\n", "\n1 20 21 22 23\n", "tag 1"},
      {"msh", "\n0.33333333333333331 ", "\ninf ", "line 38:"},
      {"system", R"("kind":"system")", R"("kind":"nway")", "kind: expected \"system\""},
      {"system", "[[-0.0,", "[[1e999,", "nodes[0][0]"},
      {"system", "[5,4,12,6,7,13]", "[5,4,12,6,7,14]", "elements[2][5]: expected the index of one of the 14"},
      {"system", "[5,4,12,6,7,13]", "[5,4,12,6,7,13,0]", "elements[2]: expected 4, 5, 6 or 8"},
      {"system", "\"bend at a\"", "\"elbow at a\"", "regions[2]"},
      {"system", "\"runner s<&>'a\"", "\"junction at s\"", "region 1 \"junction at s\": named twice"},
      {"system", "\"element_regions\":[0,1,2]", "\"element_regions\":[0,1,3]", "element_regions[2]"},
      {"system", "\"element_regions\":[0,1,2]", "\"element_regions\":[0,1]", "element_regions: expected one"},
      {"system", "\"inlet\":", "\"in\\\"let\":", "patches.in\"let: the name holds a double quote"},
      {"system", "[8,9,11,10]", "[8,9,11,10,10]", "patches.inlet[0]: expected 3 or 4"},
      {"system", "\"patches\":{", "\"patches\":{\"a\":[[0,1]],", "patches.a[0]"},
  };
  TempFolder folder;
  WriteSystemMesh(folder.File("s.json"), SmallSystem(), "small");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.from + " -> " + row.to);
    const bool system = std::string(row.format) == "system";
    const MeshFormat format = system ? MeshFormat::Json : MeshFormatFromPath(std::string("x.") + row.format);
    const std::string good =
        system ? ReadText(folder.File("s.json")) : FormatMesh(SmallMesh(), format, {}, {Encoding::Ascii});
    const std::string text = Edited(good, row.from, row.to);
    const std::string message = system ? MessageOf<std::runtime_error>([&] { ParseSystemJson(text); })
                                       : MessageOf<MeshFileError>([&] { ParseMesh(text, format); });
    EXPECT_NE(message.find(row.inMessage), std::string::npos) << message;
  }
  // pugixml splits character data around comments and CDATA sections; the numbers are still one list.
  const std::string split = Edited(FormatMesh(SmallMesh(), MeshFormat::Vtu, {}, {Encoding::Ascii}), "\n19 20 21 22\n",
                                   "\n19 20<!-- tetra --> 21<![CDATA[ 22]]>\n");
  ExpectSameDocument(SmallMesh(), ParseMesh(split, MeshFormat::Vtu));
}

// Refused before anything is written: the file there stays as it was, and a
// failed rename leaves no temporary file behind.
TEST(MeshWriters, RefuseWhatTheyCannotWriteFaithfully) {
  TempFolder folder;
  const std::string meshPath = folder.File("mesh.vtu"), systemPath = folder.File("s.json");
  WriteMesh(meshPath, SmallMesh(), {});
  WriteSystemMesh(systemPath, SmallSystem(), "before");
  const std::string meshBefore = ReadText(meshPath), systemBefore = ReadText(systemPath);
  const std::function<void(MeshDocument&)> spoilMesh[] = {
      [](MeshDocument& d) { d.mesh.elements[2].nodes[3] = 23; },  // outside the nodes
      [](MeshDocument& d) { d.mesh.nodes[5][1] = std::nan(""); },
      [](MeshDocument& d) { d.farNodes[1][0] = HUGE_VAL; },
      [](MeshDocument& d) { d.kind = "tee"; },
      [](MeshDocument& d) { d.kind = "bend"; },  // with far nodes
      [](MeshDocument& d) { d.kind.clear(); }};  // a mesh of unknown kind, with far nodes
  for (const auto& spoil : spoilMesh) {
    MeshDocument document = SmallMesh();
    spoil(document);
    EXPECT_THROW(WriteMesh(meshPath, document, {}), std::invalid_argument);
  }
  EXPECT_THROW(WriteMesh(meshPath, SmallMesh(), {1, 1}), std::invalid_argument);  // one per element
  EXPECT_THROW(WriteMesh(meshPath, SmallMesh(), {1, 1, NAN, 1}), std::invalid_argument);
  EXPECT_THROW(WriteMesh(folder.File("mesh.stl"), SmallMesh(), {}), std::invalid_argument);

  const std::pair<std::function<void(SystemMesh&)>, std::string> spoilSystem[] = {
      {[](SystemMesh& m) { m.elements[1].nodes[3] = 14; }, "element 1 corner 3 refers to node 14"},
      {[](SystemMesh& m) { m.elements[0].corners = 7; }, "element 0 has 7 corners"},
      {[](SystemMesh& m) { m.elements[2].region = -1; }, "element 2's region is -1"},
      {[](SystemMesh& m) { m.nodes[5][1] = std::nan(""); }, "node 5"},
      {[](SystemMesh& m) { m.faces[3].nodes[0] = -1; }, "face 3 corner 0 refers to node -1"},
      {[](SystemMesh& m) { m.faces[1].corners = 5; }, "face 1 has 5 corners"},
      {[](SystemMesh& m) { m.faces[0].patch = 2; }, "face 0's patch is 2"},
      {[](SystemMesh& m) { m.patches[1] = "wall"; }, "patch 1 \"wall\": named twice"},
      {[](SystemMesh& m) { m.patches[1] = "in\"let"; }, "double quote"},
      {[](SystemMesh& m) { m.patches[1] = "in\nlet"; }, "control character"},
      {[](SystemMesh& m) { m.regions[2].kind = RegionKind::Junction; }, "region 2 \"bend at a\""},
  };
  for (const auto& [spoil, inMessage] : spoilSystem) {
    SystemMesh mesh = SmallSystem();
    spoil(mesh);
    for (const char* name : {"s.json", "s.vtu", "s.msh", "s.svg"}) {
      SCOPED_TRACE(inMessage + " in " + name);
      const std::string message =
          MessageOf<std::invalid_argument>([&] { WriteSystemMesh(folder.File(name), mesh, "after"); });
      EXPECT_NE(message.find(inMessage), std::string::npos) << message;
    }
  }
  EXPECT_THROW(WriteSystemMesh(folder.File("s.stl"), SmallSystem(), ""), std::invalid_argument);

  fs::create_directories(folder.File("taken.msh/inside"));  // a folder where the file should go
  EXPECT_THROW(WriteMesh(folder.File("taken.msh"), SmallMesh(), {}), std::runtime_error);
  EXPECT_THROW(WriteSystemMesh(folder.File("taken.msh"), SmallSystem(), ""), std::runtime_error);
  EXPECT_EQ(folder.Entries(), (std::set<std::string>{"mesh.vtu", "s.json", "taken.msh"}));
  EXPECT_EQ(ReadText(meshPath), meshBefore);
  EXPECT_EQ(ReadText(systemPath), systemBefore);
}

// Interrupted while a file is half written: the temporary file goes, and the
// process still ends by the signal, as a parent expects.
TEST(MeshWriters, InterruptRemovesTheTemporaryFile) {
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

// meshio (and gmsh, when installed) read every variant of ours through
// tests/tool/read_with_meshio.py, with the counts of the .json dump beside
// it; the controls, a cell and a patch face turned inside out, must be caught.
TEST(IndependentReaders, ReadEveryVariantOfOursAndCatchATurnedCell) {
  if (!vela::testing::HasMeshio()) GTEST_SKIP() << "meshio (python3-meshio) is not installed for /usr/bin/python3";
  MeshDocument flipped = SmallMesh();
  std::swap(flipped.mesh.elements[1].nodes[1], flipped.mesh.elements[1].nodes[2]);
  std::swap(flipped.mesh.elements[1].nodes[4], flipped.mesh.elements[1].nodes[5]);
  SystemMesh turned = SmallSystem();
  std::swap(turned.faces[4].nodes[1], turned.faces[4].nodes[2]);
  TempFolder folder;
  for (const char* encoding : {"ascii", "binary"}) {
    const WriteOptions options{encoding[0] == 'a' ? Encoding::Ascii : Encoding::Binary};
    for (const char* extension : {".mesh.json", ".vtu", ".msh"}) {
      const auto path = [&](const char* stem) { return folder.File(std::string(stem) + "-" + encoding + extension); };
      WriteMesh(path("mesh"), SmallMesh(), {0.5, 1.0, -0.25, 0.125}, options);
      WriteMesh(path("flipped"), flipped, {}, options);
      WriteSystemMesh(path("system"), SmallSystem(), "", options);
      WriteSystemMesh(path("turned"), turned, "", options);
    }
  }
  const std::string output = folder.File("out.txt");
  const int status = vela::testing::Shell("cd '" + folder.path.string() + "' && /usr/bin/python3 " VELA_SOURCE_DIR
                                          "/tests/tool/read_with_meshio.py *.vtu *.msh >'" + output + "' 2>&1");
  const std::string said = ReadText(output);
  EXPECT_EQ(status, 1) << said;  // the controls
  const bool gmsh = fs::exists("/usr/bin/gmsh");
  for (const char* encoding : {"ascii", "binary"}) {
    const std::tuple<std::string, std::string> expected[] = {
        {"mesh-%.vtu", " ok\n"}, {"mesh-%.msh", " ok\n"}, {"system-%.vtu", " ok\n"}, {"system-%.msh", " ok\n"},
        {"flipped-%.vtu", "; 1 of 4 cells not positive"}, {"flipped-%.msh", gmsh ? "gmsh finds a Jacobian of -" : ""},
        {"turned-%.vtu", "; the patches enclose"}};
    for (const auto& [file, fault] : expected) {
      const std::string name = Edited(file, "%", encoding);
      const size_t line = said.find(name + ": nodes="), end = said.find('\n', line);
      ASSERT_NE(line, std::string::npos) << name << " not read:\n" << said;
      EXPECT_NE(said.substr(line, end + 1 - line).find(fault), std::string::npos) << said.substr(line, end - line);
    }
  }
}

// Every element as its kind and corner positions, sorted: the same for two meshes of the same
// elements whatever the node numbering and element order. Positions are taken to 1e-8: Gmsh
// writes 16 significant digits, one fewer than it takes to keep every bit.
std::vector<std::pair<int, std::vector<std::array<long long, 3>>>> Shapes(const MeshDocument& document) {
  std::vector<std::pair<int, std::vector<std::array<long long, 3>>>> shapes;
  for (const MeshElement& element : document.mesh.elements) {
    shapes.push_back({element.CornerCount(), {}});
    for (int c = 0; c < element.CornerCount(); ++c) {
      const Point& p = document.mesh.nodes[static_cast<size_t>(element.nodes[static_cast<size_t>(c)])];
      shapes.back().second.push_back({std::llround(p[0] * 1e8), std::llround(p[1] * 1e8), std::llround(p[2] * 1e8)});
    }
  }
  std::sort(shapes.begin(), shapes.end());
  return shapes;
}

// Files that other programs wrote, read as `check` reads them: Gmsh's re-saves of our .msh
// (its own entities and numbering, no junction section: the same elements of unknown kind),
// meshio's .vtu in each of its encodings and its .msh. meshio keeps the cell data, so "element"
// brings back the library's order; without it (".bare") the elements come in file order.
TEST(IndependentReaders, TheirFilesReadAsTheSameElements) {
  TempFolder folder;
  const MeshDocument tee = ParseMesh(ReadText(Golden("tee-golden.mesh.json")), MeshFormat::Json);
  WriteMesh(folder.File("tee.msh"), tee, {});
  WriteMesh(folder.File("tee.vtu"), tee, {});
  std::vector<std::string> theirs;
  if (fs::exists("/usr/bin/gmsh")) {
    for (const char* flag : {"", "-bin"}) {
      const std::string resaved = folder.File(std::string("gmsh") + flag + ".msh");
      ASSERT_EQ(vela::testing::Shell("/usr/bin/gmsh '" + folder.File("tee.msh") + "' -0 " + flag + " -o '" + resaved +
                                     "' >/dev/null 2>&1"), 0);
      theirs.push_back(resaved);
    }
  }
  if (vela::testing::HasMeshio()) {
    ASSERT_EQ(vela::testing::Shell("/usr/bin/python3 " VELA_SOURCE_DIR "/tests/tool/read_with_meshio.py --resave '" +
                                   folder.File("tee.vtu") + "' '" + folder.File("m") + "'"), 0);
    for (const char* variant : {"ascii.vtu", "base64.vtu", "zlib.vtu", "bare.vtu", "ascii.msh", "binary.msh"})
      theirs.push_back(folder.File(std::string("m.") + variant));
  }
  if (theirs.empty()) GTEST_SKIP() << "neither gmsh nor meshio is installed";
  for (const std::string& file : theirs) {
    SCOPED_TRACE(file);
    const MeshDocument back = ReadMesh(file);
    EXPECT_TRUE(Shapes(back) == Shapes(tee)) << "the same elements";
    EXPECT_TRUE(file.find("gmsh") == std::string::npos || (back.kind.empty() && back.farNodes.empty()));
    const bool keepsCellData = file.find(".vtu") != std::string::npos && file.find("bare") == std::string::npos;
    for (size_t e = 0; keepsCellData && e < tee.mesh.elements.size(); ++e)
      ASSERT_EQ(back.mesh.elements[e].nodes, tee.mesh.elements[e].nodes) << "element " << e;
  }
}

}  // namespace

namespace {

// The physical groups of a .msh as (dimension, tag, name), from its $PhysicalNames.
std::vector<std::tuple<int, int, std::string>> PhysicalGroups(const std::string& text) {
  std::vector<std::tuple<int, int, std::string>> groups;
  const std::regex line("\n([23]) ([0-9]+) \"([^\"]*)\"");
  const size_t start = text.find("$PhysicalNames"), end = text.find("$EndPhysicalNames");
  const std::string section = text.substr(start, end - start);
  for (auto it = std::sregex_iterator(section.begin(), section.end(), line); it != std::sregex_iterator(); ++it)
    groups.emplace_back(std::stoi((*it)[1]), std::stoi((*it)[2]), (*it)[3]);
  return groups;
}

// SmallSystem's boundary as a junction document's patches.
MeshDocument WithPatches(MeshDocument document) {
  document.patches = {"wall", "end-0"};
  for (const std::vector<int>& corners : vela::system::detail::BoundaryFaces([&document] {
         std::vector<vela::system::SystemElement> elements;
         for (const MeshElement& e : document.mesh.elements) elements.push_back({e.CornerCount(), e.nodes, 0});
         return elements;
       }())) {
    PatchFace face{static_cast<int>(corners.size()), {-1, -1, -1, -1}, corners.size() == 3 ? 1 : 0};
    std::copy(corners.begin(), corners.end(), face.nodes.begin());
    document.faces.push_back(face);
  }
  return document;
}

}  // namespace

// Gmsh keeps group tags apart by dimension, gmshToFoam and others do not: the
// volume and every patch get tags of their own, in both the junction's and the
// system's .msh, and the junction's patches travel as surface groups that our
// reader reads past.
TEST(MshGroups, TagsAreDistinctAcrossDimensionsAndPatchesAreSurfaces) {
  const MeshDocument document = WithPatches(SmallMesh());
  for (const Encoding encoding : {Encoding::Ascii, Encoding::Binary}) {
    const std::string junction = FormatMesh(document, MeshFormat::Msh, {}, {encoding, "cm"});
    EXPECT_EQ(PhysicalGroups(junction),
              (std::vector<std::tuple<int, int, std::string>>{{3, 1, "junction"}, {2, 2, "wall"}, {2, 3, "end-0"}}));
    EXPECT_NE(junction.find("$Comments\nunits cm\n$EndComments\n"), std::string::npos);
    ExpectSameDocument(SmallMesh(), ParseMesh(junction, MeshFormat::Msh));
    TempFolder folder;
    WriteSystemMesh(folder.File("s.msh"), SmallSystem(), "small", {encoding, "in"});
    EXPECT_EQ(PhysicalGroups(ReadText(folder.File("s.msh"))),
              (std::vector<std::tuple<int, int, std::string>>{{3, 1, "fluid"}, {2, 2, "wall"}, {2, 3, "inlet"}}));
  }
  MeshDocument bad = WithPatches(SmallMesh());
  bad.faces[2].nodes[1] = 99;
  EXPECT_NE(MessageOf<std::invalid_argument>([&] { FormatMesh(bad, MeshFormat::Msh, {}); }).find("face 2 corner 1"),
            std::string::npos);
  bad = WithPatches(SmallMesh());
  bad.patches[1] = "wall";
  EXPECT_NE(MessageOf<std::invalid_argument>([&] { FormatMesh(bad, MeshFormat::Msh, {}); }).find("named twice"),
            std::string::npos);
  EXPECT_THROW(FormatMesh(SmallMesh(), MeshFormat::Json, {}, {Encoding::Default, "furlong"}), std::invalid_argument);
}

// The unit goes where a format has room for it, and the mesh reads back the same.
TEST(Units, NamedInEveryFormatThatHasAPlace) {
  for (const MeshFormat format : {MeshFormat::Json, MeshFormat::Vtu}) {
    const std::string text = FormatMesh(SmallMesh(), format, {}, {Encoding::Ascii, "mm"});
    EXPECT_NE(text.find(format == MeshFormat::Json ? "\"units\":\"mm\"" : "Name=\"metres_per_unit\""),
              std::string::npos);
    ExpectSameDocument(SmallMesh(), ParseMesh(text, format));
    EXPECT_EQ(FormatMesh(SmallMesh(), format, {}, {Encoding::Ascii, ""}).find("units"), std::string::npos);
  }
  TempFolder folder;
  for (const char* name : {"s.json", "s.vtu"}) WriteSystemMesh(folder.File(name), SmallSystem(), "s", {Encoding::Ascii, "m"});
  EXPECT_NE(ReadText(folder.File("s.json")).find("\"units\":\"m\""), std::string::npos);
  ExpectSameSystem(SmallSystem(), ParseSystemJson(ReadText(folder.File("s.json"))));
  for (const char* name : {"s.vtu", "s.patches.vtu"})
    EXPECT_TRUE(std::regex_search(ReadText(folder.File(name)),
                                  std::regex("Name=\"metres_per_unit\"[^>]*>\\s*1\\s*<"))) << name;
}

// A case is refused, before anything is written, when its faces do not pair
// up into a polyMesh or two names would become one OpenFOAM word.
TEST(FoamCase, RefusesWhatDoesNotMakeAPolyMesh) {
  const std::pair<std::function<void(SystemMesh&)>, std::string> spoil[] = {
      {[](SystemMesh& m) { m.faces.pop_back(); }, "is on the boundary but in no patch"},
      {[](SystemMesh& m) { m.faces.push_back(m.faces[0]); }, "in a patch twice"},
      {[](SystemMesh& m) { m.faces[0] = {4, {1, 2, 6, 5}, 0}; }, "no face of one element alone"},  // between the hexahedra
      {[](SystemMesh& m) { m.regions[2].name = "junction at/s"; }, "would both be named junction_at_s"},
      {[](SystemMesh& m) { m.patches[1] = "wall"; }, "named twice"},
      {[](SystemMesh& m) { m.elements[1].nodes = {0, 1, 2, 3, 4, 5, 6, 7}; }, "shared by 3 elements"},
  };
  TempFolder folder;
  for (const auto& [change, inMessage] : spoil) {
    SystemMesh mesh = SmallSystem();
    change(mesh);
    const std::string message =
        MessageOf<std::invalid_argument>([&] { WriteFoamCase(folder.File("case"), mesh, "s", {}); });
    EXPECT_NE(message.find(inMessage), std::string::npos) << message;
    EXPECT_FALSE(fs::exists(folder.File("case"))) << inMessage;
  }
}

// The small system's hexahedra, prism, triangles and quadrangles as a case in
// both encodings, read back by tests/tool/read_foam_case.py against its .json;
// a case's own dictionaries stay as they were.
TEST(FoamCase, ReadsBackWithoutOpenFoam) {
  if (vela::testing::Shell("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "numpy (python3-numpy) is not installed for /usr/bin/python3";
  TempFolder folder;
  SystemMesh mesh = SmallSystem();
  mesh.nodes.push_back({9, 9, 9});  // used by no element: left out of the case
  WriteSystemMesh(folder.File("s.json"), SmallSystem(), "small");
  for (const Encoding encoding : {Encoding::Ascii, Encoding::Binary}) {
    const std::string dir = folder.File(encoding == Encoding::Ascii ? "ascii" : "binary");
    folder.Write(encoding == Encoding::Ascii ? "ascii/system/controlDict" : "binary/other", "mine");
    const std::vector<std::string> written = WriteFoamCase(dir, mesh, "small", {encoding, "mm"});
    EXPECT_EQ(written.size(), encoding == Encoding::Ascii ? 8u : 9u);
    EXPECT_EQ(ReadText(dir + (encoding == Encoding::Ascii ? "/system/controlDict" : "/other")), "mine");
    const int status = vela::testing::Shell("/usr/bin/python3 " VELA_SOURCE_DIR "/tests/tool/read_foam_case.py '" +
                                            dir + "' --dump '" + folder.File("s.json") + "' --format " +
                                            (encoding == Encoding::Ascii ? "ascii" : "binary"));
    EXPECT_EQ(status, 0);
  }
}
