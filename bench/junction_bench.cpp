// Junctions meshed end to end into the in-memory container, against a floor
// that only writes the same number of nodes and elements into it.
//
//   ./vela_bench                       all cases
//   ./vela_bench --benchmark_filter=Y  one case
//
// Each case reports time per junction and nodes per second (items); the
// ratio of a case's time to its floor's is the cost of the meshing itself.

#include <VelaRunnerMapping.h>

#include "MemoryMesh.h"
#include "mapper/junction_guards.h"
#include "mapper/mesh_soundness.h"
#include "mapper/nway_junction.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <optional>
#include <vector>

namespace {

const double kPi = 3.141592653589793;

struct Case {
  std::vector<double> degrees;   // runner directions in the xy-plane
  std::vector<double> outer;     // outer layer positions
};

// The default Y: the junction file's defaults (F 8, four inner rings, two
// boundary layers). The X adds a fourth runner, the largest junction of the
// set. The 90-degree bend exercises the corner sweep and its collapsed
// elements.
const Case kY{{90, 210, 330}, {0, 0.5, 1}};
const Case kX{{0, 90, 180, 270}, {0, 0.5, 1}};
const Case kBend{{0, 90}, {0, 0.5, 1}};

bool MeshCase(const Case& c, MemoryMesh& mesh) {
  CVelaRunnerMapping mapper;
  CArray<double, double> inner, outer, radii;
  CArray<ON_3fPoint, ON_3fPoint> far;
  for (double v : {0.0, 0.25, 0.5, 0.75, 1.0}) inner.Add(v);
  for (double v : c.outer) outer.Add(v);
  for (double d : c.degrees) {
    far.Add(ON_3fPoint(static_cast<float>(20 * std::cos(d * kPi / 180)),
                       static_cast<float>(20 * std::sin(d * kPi / 180)), 0.0f));
    radii.Add(2.0);
    radii.Add(2.0);
  }
  mapper.SetIOBoundaryLayer(&inner, &outer);
  std::vector<ON_3fPoint> farNodes(c.degrees.size());
  if (c.degrees.size() == 2) return mapper.TwoConnectRunner(ON_3fPoint(), &far, &radii, 0.8, 0.2, &mesh);
  return mapper.NConnectRunner(ON_3fPoint(), &far, &radii, 0.8, 0.2, &mesh, farNodes.data());
}

void Junction(benchmark::State& state, const Case& c) {
  int nodes = 0;
  for (auto _ : state) {
    MemoryMesh mesh;
    if (!MeshCase(c, mesh)) state.SkipWithError("junction refused");
    benchmark::DoNotOptimize(mesh.nodes.data());
    nodes = mesh.GetNodeCount();
  }
  state.SetItemsProcessed(state.iterations() * nodes);
  state.counters["nodes"] = nodes;
}

// The floor: the same mesh handed to the container from ready arrays, which
// no meshing can beat.
void Floor(benchmark::State& state, const Case& c) {
  MemoryMesh ready;
  MeshCase(c, ready);
  for (auto _ : state) {
    MemoryMesh mesh;
    mesh.SetMeshSize(ready.GetElementCount(), ready.GetNodeCount());
    for (int i = 0; i < ready.GetNodeCount(); ++i) {
      const auto& p = ready.nodes[static_cast<size_t>(i)];
      mesh.SetNodeCoord(i, p[0], p[1], p[2]);
    }
    for (int e = 0; e < ready.GetElementCount(); ++e) {
      const auto& n = ready.elements[static_cast<size_t>(e)].nodes;
      switch (ready.elements[static_cast<size_t>(e)].kind) {
        case ElementKind::Tetra: mesh.SetTetraElement(e, n[0], n[1], n[2], n[3]); break;
        case ElementKind::Pyramid: mesh.SetPyramidElement(e, n[0], n[1], n[2], n[3], n[4]); break;
        case ElementKind::Prism: mesh.SetPrismElement(e, n[0], n[1], n[2], n[3], n[4], n[5]); break;
        case ElementKind::Hexa: mesh.SetHexaElement(e, n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7]); break;
      }
    }
    benchmark::DoNotOptimize(mesh.nodes.data());
  }
  state.SetItemsProcessed(state.iterations() * ready.GetNodeCount());
}

// What the library spends on its own trust, for the Y: the guards at the door
// and the soundness check of the merged mesh. The check reads the mesh back
// in the library's rows, with the junction-end sections (the upper faces of
// each branch's last layer) as the merge candidates.
void Guards(benchmark::State& state) {
  CArray<double, double> inner, outer;
  for (double v : {0.0, 0.25, 0.5, 0.75, 1.0}) inner.Add(v);
  for (double v : kY.outer) outer.Add(v);
  std::vector<ON_3fPoint> far;
  for (double d : kY.degrees)
    far.emplace_back(static_cast<float>(20 * std::cos(d * kPi / 180)),
                     static_cast<float>(20 * std::sin(d * kPi / 180)), 0.0f);
  const std::vector<double> radii(2 * far.size(), 2.0);
  const ON_3fPoint center;
  for (auto _ : state) {
    bool ok = vela::CheckSection(8, inner, outer, 0.8) && vela::CheckRunners(center, far, radii);
    const std::optional<vela::Point3> normal = vela::AverageCoplaneNormal(center, far);
    const vela::ProjectedRunners projected = vela::ProjectRunners(center, normal->data(), far);
    ok = ok && vela::CheckNWayGeometry(center, far, projected, normal->data(), radii);
    benchmark::DoNotOptimize(ok);
  }
}

void SoundnessCheck(benchmark::State& state) {
  MemoryMesh mesh;
  MeshCase(kY, mesh);
  const size_t nodeCount = mesh.nodes.size(), elementCount = mesh.elements.size();
  std::vector<double> nodes(3 * (nodeCount + 1), 0.0);
  std::vector<int> elements(8 * (elementCount + 1), 0);
  std::vector<unsigned char> candidates(nodeCount + 1, 0);
  for (size_t n = 0; n < nodeCount; ++n)
    for (size_t a = 0; a < 3; ++a) nodes[3 * (n + 1) + a] = mesh.nodes[n][a];
  const size_t perBranch = elementCount / kY.degrees.size(), lastLayer = perBranch / 5;
  for (size_t e = 0; e < elementCount; ++e) {
    const MeshElement& element = mesh.elements[e];
    const int corners = element.CornerCount();
    for (int k = 0; k < corners; ++k) {
      elements[8 * (e + 1) + static_cast<size_t>(k)] = element.nodes[static_cast<size_t>(k)] + 1;
      if (e % perBranch >= perBranch - lastLayer && k >= corners / 2)
        candidates[static_cast<size_t>(element.nodes[static_cast<size_t>(k)]) + 1] = 1;
    }
  }
  const auto* nodeRows = reinterpret_cast<const double(*)[3]>(nodes.data());
  const auto* elementRows = reinterpret_cast<const int(*)[8]>(elements.data());
  for (auto _ : state) {
    const vela::MeshSoundness s = vela::CheckMesh(nodeRows, static_cast<int>(nodeCount), elementRows,
                                                  static_cast<int>(elementCount), candidates.data());
    if (!s.Sound()) state.SkipWithError("the Y is not sound");
    benchmark::DoNotOptimize(s);
  }
}

}  // namespace

BENCHMARK(Guards)->Unit(benchmark::kMicrosecond);
BENCHMARK(SoundnessCheck)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Junction, Y, kY)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Floor, Y, kY)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Junction, X_two_layers, kX)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Floor, X_two_layers, kX)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Junction, Bend90, kBend)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Floor, Bend90, kBend)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
