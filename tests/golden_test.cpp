// The four shipped junctions against the mesh an independent implementation
// of the same construction produced: node by node, element by element.

#include "junction_file.h"
#include "memory_mesh.h"
#include "junction_call.h"
#include "mesh_checks.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>

namespace {

using nlohmann::json;

json Load(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  return json::parse(in);
}

ON_3fPoint Float3(const json& p) { return ON_3fPoint(p[0].get<float>(), p[1].get<float>(), p[2].get<float>()); }

class Golden : public testing::TestWithParam<std::string> {};

}  // namespace

TEST_P(Golden, MeshMatchesNodeByNodeAndElementByElement) {
  const std::string base = std::string(VELA_GOLDEN_DIR) + "/" + GetParam();
  const json junction = Load(base + ".json");
  const json expected = Load(base + ".mesh.json");

  const vela::io::JunctionFile file = vela::io::ReadJunctionFile(base + ".json");
  MemoryMesh mesh;
  const vela::host::CallResult call = vela::host::MeshJunction(file, mesh);
  ASSERT_TRUE(call.ok);
  const bool bend = file.IsBend();
  EXPECT_EQ(expected["kind"], bend ? "bend" : "nway");
  const std::vector<ON_3fPoint>& farNodes = call.farNodes;

  // Within 1e-9 of the junction's size.
  double size = 0.0;
  for (const json& p : junction["far_points"])
    for (int k = 0; k < 3; ++k) size = std::max(size, std::fabs(p[k].get<double>() - junction["center"][k].get<double>()));
  const double tol = 1e-9 * size;

  ASSERT_EQ(mesh.GetNodeCount(), static_cast<int>(expected["nodes"].size()));
  ASSERT_EQ(mesh.GetElementCount(), static_cast<int>(expected["elements"].size()));
  int nodesOff = 0;
  for (size_t i = 0; i < mesh.nodes.size(); ++i)
    for (int k = 0; k < 3; ++k)
      nodesOff += std::fabs(mesh.nodes[i][static_cast<size_t>(k)] - expected["nodes"][i][k].get<double>()) > tol ? 1 : 0;
  EXPECT_EQ(nodesOff, 0) << "node coordinates off by more than " << tol;
  int elementsOff = 0;
  for (size_t e = 0; e < mesh.elements.size(); ++e) {
    const json& want = expected["elements"][e];
    const MeshElement& got = mesh.elements[e];
    bool same = want["type"] == ElementKindName(got.kind) && static_cast<int>(want["nodes"].size()) == got.CornerCount();
    for (int k = 0; same && k < got.CornerCount(); ++k) same = want["nodes"][static_cast<size_t>(k)].get<int>() == got.nodes[static_cast<size_t>(k)];
    elementsOff += same ? 0 : 1;
  }
  EXPECT_EQ(elementsOff, 0);
  for (size_t i = 0; !bend && i < farNodes.size(); ++i)
    EXPECT_EQ(farNodes[i], Float3(expected["far_nodes"][i])) << "far node " << i;
  ExpectSoundMesh(mesh, 0.0);

  // Runner lengths with margin 5/1 and the far-end radius of each runner.
  const json lengths = Load(base + ".length.json")["lengths"];
  const std::vector<double> got = vela::host::RunnerLengths(file);
  ASSERT_EQ(got.size(), lengths.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_DOUBLE_EQ(got[i], lengths[i].get<double>());
}

INSTANTIATE_TEST_SUITE_P(Junctions, Golden,
                         testing::Values("y-golden", "tee-golden", "x-tilted-golden", "bend-golden"),
                         [](const testing::TestParamInfo<std::string>& param) {
                           std::string name = param.param;
                           for (char& ch : name) if (ch == '-') ch = '_';
                           return name;
                         });
