// Files of a meshed runner system: the .json dump read back bit for bit, the
// refusals, and the .vtu pair and .msh read by independent readers.

#include "system_mesh_file.h"
#include "tool_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace vela::system;
using vela::io::Encoding;
using vela::io::ParseSystemJson;
using vela::io::WriteSystemMesh;

namespace {

using vela::testing::TempFolder;

using vela::testing::ReadText;

// Outward faces of a positive element in the library's corner order.
const std::map<int, std::vector<std::vector<int>>> kElementFaces = {
    {4, {{0, 2, 1}, {0, 1, 3}, {1, 2, 3}, {2, 0, 3}}},
    {5, {{0, 3, 2, 1}, {0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}}},
    {6, {{0, 2, 1}, {3, 4, 5}, {0, 1, 4, 3}, {1, 2, 5, 4}, {2, 0, 3, 5}}},
    {8, {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}}}};

// The faces used by one element only, wound outward, each in the patch that
// patchOf gives it. The faces come grouped by patch, as a .json file gives them back.
std::vector<BoundaryFace> BoundaryOf(const SystemMesh& mesh,
                                     const std::function<int(const std::set<int>&)>& patchOf) {
  std::map<std::set<int>, std::pair<int, BoundaryFace>> uses;
  for (const SystemElement& element : mesh.elements) {
    for (const std::vector<int>& local : kElementFaces.at(element.corners)) {
      BoundaryFace face{static_cast<int>(local.size()), {-1, -1, -1, -1}, 0};
      std::set<int> key;
      for (size_t c = 0; c < local.size(); ++c) {
        face.nodes[c] = element.nodes[static_cast<size_t>(local[c])];
        key.insert(face.nodes[c]);
      }
      face.patch = patchOf(key);
      auto& [count, kept] = uses[key];
      ++count;
      kept = face;
    }
  }
  std::vector<BoundaryFace> faces;
  for (auto& [key, use] : uses)
    if (use.first == 1) faces.push_back(use.second);
  std::stable_sort(faces.begin(), faces.end(),
                   [](const BoundaryFace& a, const BoundaryFace& b) { return a.patch < b.patch; });
  return faces;
}

// Two hexahedra side by side and a prism on the first, positive in the
// library's order. The coordinates need all 17 digits, and one is -0.0, whose
// sign must survive too. One region's name holds what XML escapes. The
// second hexahedron's far end and one prism triangle form the "inlet" (two
// face types in one patch); the rest is "wall".
SystemMesh SmallSystem() {
  const std::vector<Vec3> unit = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0},     {0, 1, 0},    {0, 0, 1},
                                  {1, 0, 1}, {1, 1, 1}, {0, 1, 1},     {2, 0, 0},    {2, 1, 0},
                                  {2, 0, 1}, {2, 1, 1}, {0.5, 0, 1.5}, {0.5, 1, 1.5}};
  SystemMesh mesh;
  for (const Vec3& p : unit)
    mesh.nodes.push_back({p[0] / 3.0 - 1e-17, p[1] * 0.7 + 12345.678901234567, p[2] * 2.0 / 3.0});
  mesh.nodes[0][0] = -0.0;
  mesh.regions = {{RegionKind::Junction, "junction at s"},
                  {RegionKind::Runner, "runner s<&>'a"},
                  {RegionKind::Bend, "bend at a"}};
  mesh.elements = {{8, {0, 1, 2, 3, 4, 5, 6, 7}, 0},
                   {8, {1, 8, 9, 2, 5, 10, 11, 6}, 1},
                   {6, {5, 4, 12, 6, 7, 13, -1, -1}, 2}};
  mesh.patches = {"wall", "inlet"};
  const std::set<int> end{8, 9, 10, 11}, triangle{4, 5, 12};
  mesh.faces = BoundaryOf(
      mesh, [&](const std::set<int>& key) { return key == end || key == triangle ? 1 : 0; });
  return mesh;
}

// The mesh with its faces grouped by patch, as a .json file gives them back.
SystemMesh GroupedByPatch(SystemMesh mesh) {
  std::stable_sort(mesh.faces.begin(), mesh.faces.end(),
                   [](const BoundaryFace& a, const BoundaryFace& b) { return a.patch < b.patch; });
  return mesh;
}

// The same mesh again, bit for bit (so -0.0 differs from 0.0).
void ExpectSameMesh(const SystemMesh& expected, const SystemMesh& actual) {
  auto nodes = [](const SystemMesh& mesh) {
    std::vector<std::tuple<Vec3, bool, bool, bool>> out;
    for (const Vec3& p : mesh.nodes)
      out.emplace_back(p, std::signbit(p[0]), std::signbit(p[1]), std::signbit(p[2]));
    return out;
  };
  auto elements = [](const SystemMesh& mesh) {
    std::vector<std::tuple<int, std::array<int, 8>, int>> out;
    for (const SystemElement& e : mesh.elements) out.emplace_back(e.corners, e.nodes, e.region);
    return out;
  };
  auto regions = [](const SystemMesh& mesh) {
    std::vector<std::pair<RegionKind, std::string>> out;
    for (const Region& r : mesh.regions) out.emplace_back(r.kind, r.name);
    return out;
  };
  auto faces = [](const SystemMesh& mesh) {
    std::vector<std::tuple<int, std::array<int, 4>, int>> out;
    for (const BoundaryFace& f : mesh.faces) out.emplace_back(f.corners, f.nodes, f.patch);
    return out;
  };
  EXPECT_EQ(nodes(expected), nodes(actual));
  EXPECT_EQ(elements(expected), elements(actual));
  EXPECT_EQ(regions(expected), regions(actual));
  EXPECT_EQ(expected.patches, actual.patches);
  EXPECT_EQ(faces(expected), faces(actual));
}

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

}  // namespace

TEST(SystemMeshJson, ReadsBackEveryBitWithFacesGroupedByPatch) {
  TempFolder folder;
  const std::string path = folder.File("small.json");
  EXPECT_EQ(WriteSystemMesh(path, SmallSystem(), "small tee"), std::vector<std::string>{path});
  const std::string text = ReadText(path);
  EXPECT_NE(text.find(R"("kind":"system","name":"small tee")"), std::string::npos);
  ExpectSameMesh(SmallSystem(), ParseSystemJson(text));

  // Faces handed over out of patch order come back grouped, each patch's in their order.
  SystemMesh shuffled = SmallSystem();
  std::reverse(shuffled.faces.begin(), shuffled.faces.end());
  WriteSystemMesh(path, shuffled, "");
  ExpectSameMesh(GroupedByPatch(shuffled), ParseSystemJson(ReadText(path)));
}

TEST(SystemMeshJson, MalformedTextNamesThePlace) {
  struct Bad {
    std::string from, to;  // `to` replaces the first `from` in a good file
    std::string inMessage;
  };
  const Bad cases[] = {
      {R"("kind":"system")", R"("kind":"nway")", "kind: expected \"system\""},
      {"[[-0.0,", "[[1e999,", "nodes[0][0]"},
      {"[5,4,12,6,7,13]", "[5,4,12,6,7,14]", "elements[2][5]: expected the index of one of the 14"},
      {"[5,4,12,6,7,13]", "[5,4,12,6,7,13,0]", "elements[2]: expected 4, 5, 6 or 8"},
      {"\"bend at a\"", "\"elbow at a\"", "regions[2]"},
      {"\"runner s<&>'a\"", "\"junction at s\"", "region 1 \"junction at s\": named twice"},
      {"\"element_regions\":[0,1,2]", "\"element_regions\":[0,1,3]", "element_regions[2]"},
      {"\"element_regions\":[0,1,2]", "\"element_regions\":[0,1]", "element_regions: expected one"},
      {"\"inlet\":", "\"in\\\"let\":", "patches.in\"let: the name holds a double quote"},
      {"[8,9,11,10]", "[8,9,11,10,10]", "patches.inlet[1]: expected 3 or 4"},
      {"\"patches\":{", "\"patches\":{\"a\":[[0,1]],", "patches.a[0]"},
  };
  TempFolder folder;
  WriteSystemMesh(folder.File("small.json"), SmallSystem(), "small");
  const std::string good = ReadText(folder.File("small.json"));
  for (const Bad& bad : cases) {
    SCOPED_TRACE(bad.from + " -> " + bad.to);
    std::string text = good;
    const size_t at = text.find(bad.from);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, bad.from.size(), bad.to);
    const std::string message = MessageOf<std::runtime_error>([&] { ParseSystemJson(text); });
    EXPECT_NE(message.find(bad.inMessage), std::string::npos) << message;
  }
}

TEST(SystemMeshWriter, WritesEachFormatAndNamesTheFilesWritten) {
  TempFolder folder;
  const SystemMesh mesh = SmallSystem();
  EXPECT_EQ(WriteSystemMesh(folder.File("s.VTU"), mesh, "t"),
            (std::vector<std::string>{folder.File("s.VTU"), folder.File("s.patches.VTU")}));
  EXPECT_EQ(WriteSystemMesh(folder.File("s.msh"), mesh, "t"),
            std::vector<std::string>{folder.File("s.msh")});
  WriteSystemMesh(folder.File("s.svg"), mesh, "small tee");
  EXPECT_EQ(folder.Entries(), (std::set<std::string>{"s.VTU", "s.patches.VTU", "s.msh", "s.svg"}));
  const std::string svg = ReadText(folder.File("s.svg"));
  EXPECT_NE(svg.find("<svg"), std::string::npos);
  EXPECT_NE(svg.find("small tee"), std::string::npos);
}

TEST(SystemMeshWriter, RefusesWhatItCannotWriteFaithfullyAndWritesNothing) {
  struct Bad {
    std::function<void(SystemMesh&)> spoil;
    std::string inMessage;
  };
  const Bad cases[] = {
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
  TempFolder folder;
  WriteSystemMesh(folder.File("s.json"), SmallSystem(), "before");
  const std::string before = ReadText(folder.File("s.json"));
  for (const Bad& bad : cases) {
    SystemMesh mesh = SmallSystem();
    bad.spoil(mesh);
    for (const char* name : {"s.json", "s.vtu", "s.msh", "s.svg"}) {
      SCOPED_TRACE(bad.inMessage + " in " + name);
      const std::string message = MessageOf<std::invalid_argument>(
          [&] { WriteSystemMesh(folder.File(name), mesh, "after"); });
      EXPECT_NE(message.find(bad.inMessage), std::string::npos) << message;
    }
  }
  EXPECT_THROW(WriteSystemMesh(folder.File("s.stl"), SmallSystem(), ""), std::invalid_argument);
  // A folder where the file should go: the rename fails, the temporary file goes away.
  fs::create_directories(folder.File("taken.msh/inside"));
  EXPECT_THROW(WriteSystemMesh(folder.File("taken.msh"), SmallSystem(), ""), std::runtime_error);
  EXPECT_EQ(folder.Entries(), (std::set<std::string>{"s.json", "taken.msh"}));
  EXPECT_EQ(ReadText(folder.File("s.json")), before);
}

// ----------------------------------------------------------------------------------------------
// Independent readers: meshio for the .vtu pair and the .msh, gmsh for the .msh's physical
// groups, through tests/tool/read_system_with_meshio.py.

namespace {

bool MeshioMissing() {
  return std::system("/usr/bin/python3 -c 'import meshio, numpy' >/dev/null 2>&1") != 0;
}

// What the script must print for a sound mesh: one count per region and per patch.
std::vector<std::string> ExpectedReaderLines(const SystemMesh& mesh) {
  std::vector<int> perRegion(mesh.regions.size()), perPatch(mesh.patches.size());
  for (const SystemElement& e : mesh.elements) ++perRegion[static_cast<size_t>(e.region)];
  for (const BoundaryFace& f : mesh.faces) ++perPatch[static_cast<size_t>(f.patch)];
  const std::string nodes = "nodes=" + std::to_string(mesh.nodes.size());
  std::string regions, patches;
  for (size_t r = 0; r < mesh.regions.size(); ++r)
    regions += " " + mesh.regions[r].name + "=" + std::to_string(perRegion[r]);
  for (size_t p = 0; p < mesh.patches.size(); ++p)
    patches += " " + mesh.patches[p] + "=" + std::to_string(perPatch[p]);
  const std::string groups = "fluid=" + std::to_string(mesh.elements.size()) + patches;
  return {"vtu volume: " + nodes + regions + "\n", "vtu patches: " + nodes + patches + "\n",
          "msh meshio: " + nodes + " " + groups + "\n",
          fs::exists("/usr/bin/gmsh") ? "msh gmsh: " + groups + "\n" : "msh gmsh: missing\n"};
}

// Runs the script on the mesh's .vtu pair and .msh; its exit status and output.
std::pair<int, std::string> ReadWithIndependentReaders(const SystemMesh& mesh,
                                                       Encoding encoding = Encoding::Default) {
  TempFolder folder;
  WriteSystemMesh(folder.File("s.vtu"), mesh, "", {encoding});
  WriteSystemMesh(folder.File("s.msh"), mesh, "", {encoding});
  const int status =
      std::system(("/usr/bin/python3 " VELA_SOURCE_DIR "/tests/tool/read_system_with_meshio.py '" +
                   folder.File("s.vtu") + "' '" + folder.File("s.msh") + "' >'" +
                   folder.File("out.txt") + "' 2>&1")
                      .c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(folder.File("out.txt"))};
}

void ExpectReadersAgree(const SystemMesh& mesh, Encoding encoding = Encoding::Default) {
  const auto [status, output] = ReadWithIndependentReaders(mesh, encoding);
  EXPECT_EQ(status, 0) << output;
  for (const std::string& line : ExpectedReaderLines(mesh))
    EXPECT_NE(output.find(line), std::string::npos) << line << "in\n" << output;
  EXPECT_NE(output.find("closed_outward=yes"), std::string::npos) << output;
}

}  // namespace

TEST(SystemMeshReaders, SeePatchesRegionsAndAClosedOutwardSurface) {
  if (MeshioMissing())
    GTEST_SKIP() << "meshio (python3-meshio) is not installed for /usr/bin/python3";
  ExpectReadersAgree(SmallSystem());

  // The control: one face turned inward must be noticed.
  SystemMesh turned = SmallSystem();
  std::swap(turned.faces[4].nodes[1], turned.faces[4].nodes[2]);
  const auto [status, output] = ReadWithIndependentReaders(turned);
  EXPECT_EQ(status, 1) << output;
  EXPECT_NE(output.find("closed_outward=no"), std::string::npos) << output;
}

// A real network: a tee of three runners, three open ends, four patches.
TEST(SystemMeshReaders, ATeeOfThreeRunnersReadsBackEverywhere) {
  RunnerNetwork tee;
  tee.name = "tee";
  tee.points = {{"c", {0, 0, 0}}, {"a", {-40, 0, 0}}, {"b", {40, 0, 0}}, {"d", {0, 40, 0}}};
  tee.runners = {{"c", "a", 3, 3}, {"c", "b", 3, 3}, {"c", "d", 3, 2}};
  tee.endNames = {{"a", "inlet"}};
  const SystemOutcome outcome = MeshRunnerSystem(tee);
  ASSERT_TRUE(outcome.ok) << outcome.refusal.reason << ": " << outcome.refusal.message;
  ASSERT_EQ(outcome.mesh.patches.size(), 4u);

  TempFolder folder;
  WriteSystemMesh(folder.File("tee.json"), outcome.mesh, "tee");
  ExpectSameMesh(GroupedByPatch(outcome.mesh), ParseSystemJson(ReadText(folder.File("tee.json"))));
  if (MeshioMissing())
    GTEST_SKIP() << "meshio (python3-meshio) is not installed for /usr/bin/python3";
  for (const Encoding encoding : {Encoding::Ascii, Encoding::Binary}) {
    SCOPED_TRACE(encoding == Encoding::Ascii ? "ascii" : "binary");
    ExpectReadersAgree(outcome.mesh, encoding);
  }
}
