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

#include <benchmark/benchmark.h>

#include <cmath>
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

}  // namespace

BENCHMARK_CAPTURE(Junction, Y, kY)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Floor, Y, kY)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Junction, X_two_layers, kX)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Floor, X_two_layers, kX)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Junction, Bend90, kBend)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Floor, Bend90, kBend)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
