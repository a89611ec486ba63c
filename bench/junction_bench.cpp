// Junctions meshed end to end into the in-memory container, against a floor
// that only writes the same number of nodes and elements into it.
//
//   ./vela_bench                       all cases
//   ./vela_bench --benchmark_filter=Y  one case
//
// Each case reports time per junction and nodes per second (items); the
// ratio of a case's time to its floor's is the cost of the meshing itself.

#include "junction_file.h"
#include "memory_mesh.h"
#include "junction_call.h"
#include "mapper/junction_plan.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

// Runners of radius 2 at the given angles (degrees) in the xy-plane, 20 from
// the centre, with the junction file's defaults (F 8, four inner rings, two
// boundary layers).
vela::io::JunctionFile Planar(std::vector<double> degrees) {
  vela::io::JunctionFile j;
  for (double d : degrees) {
    const double a = d * vela::kPi / 180;
    j.farPoints.push_back({20 * std::cos(a), 20 * std::sin(a), 0.0});
    j.radii.insert(j.radii.end(), {2.0, 2.0});
  }
  return j;
}

// The default Y; the X adds a fourth runner, the largest junction of the
// set; the 90-degree bend exercises the corner sweep and its collapsed
// elements.
using Case = vela::io::JunctionFile;
const Case kY = Planar({90, 210, 330});
const Case kX = Planar({0, 90, 180, 270});
const Case kBend = Planar({0, 90});

bool MeshCase(const Case& c, MemoryMesh& mesh) { return vela::host::MeshJunction(c, mesh).ok; }

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

// What the library spends on its own trust, for the Y: the plan (the guards
// at the door and what they derive) and the soundness check of the merged
// mesh.
struct PlannedY {
  PlannedY() {
    for (double v : kY.innerLayers) inner.Add(v);
    for (double v : kY.outerLayers) outer.Add(v);
    for (double v : kY.radii) radii.Add(v);
    for (const auto& p : kY.farPoints)
      far.Add(ON_3fPoint(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])));
    settings.inner = &inner;
    settings.outer = &outer;
    call = {ON_3fPoint(), &far, &radii, kY.innerShare, kY.outerShare};
  }
  CArray<double, double> inner, outer, radii;
  CArray<ON_3fPoint, ON_3fPoint> far;
  vela::JunctionSettings settings;
  vela::JunctionCall call;
};

void Plan(benchmark::State& state) {
  const PlannedY y;
  for (auto _ : state) {
    const std::optional<vela::NWayPlan> plan = vela::PlanNWay(y.settings, y.call);
    if (!plan) state.SkipWithError("the Y is refused");
    benchmark::DoNotOptimize(plan->mergeTol);
  }
}

void SoundnessCheck(benchmark::State& state) {
  const PlannedY y;
  const std::optional<vela::NWayPlan> plan = vela::PlanNWay(y.settings, y.call);
  std::vector<ON_3fPoint> farNodes(3);
  const std::unique_ptr<vela::MeshBuild> build = vela::SweepNWay(*plan, farNodes.data());
  build->Merge(plan->mergeTol);
  for (auto _ : state) {
    const vela::MeshSoundness s = build->Check();
    if (!s.Sound()) state.SkipWithError("the Y is not sound");
    benchmark::DoNotOptimize(s);
  }
}

}  // namespace

BENCHMARK(Plan)->Unit(benchmark::kMicrosecond);
BENCHMARK(SoundnessCheck)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Junction, Y, kY)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Floor, Y, kY)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Junction, X_two_layers, kX)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Floor, X_two_layers, kX)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Junction, Bend90, kBend)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Floor, Bend90, kBend)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
