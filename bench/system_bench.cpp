// Whole runner systems: a 64-cavity H-tree (63 junctions, 127 runners) meshed
// on one and on two threads, whole (System64) and its junctions alone, the
// part that runs on the threads (Junctions64). Counters: junctions per
// second and the mesh's size; the speed-up is the ratio of two rows' times.

#include "runner_system.h"
#include "system_detail.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

namespace {

using vela::system::RunnerNetwork;
using vela::system::Vec3;

// A sprue from above onto a tee, then six levels of tees in the plane z = 0,
// turning a quarter turn and shortening by 1/sqrt(2) at each level, down to
// 64 gates.
RunnerNetwork HTree64() {
  RunnerNetwork network;
  network.name = "h-tree-64";
  network.axialSize = 2.0;
  network.points.push_back({"inlet", {0, 0, 80}});
  network.points.push_back({"p", {0, 0, 0}});
  network.runners.push_back({"inlet", "p", 4, 5});
  struct Open {
    std::string name;
    Vec3 at;
    bool alongX;
    double half;
    double radius;
  };
  std::vector<Open> level{{"p", {0, 0, 0}, true, 128, 4}};
  for (int depth = 0; depth < 6; ++depth) {
    std::vector<Open> next;
    for (const Open& open : level)
      for (int side : {-1, 1}) {
        const std::string name = open.name + (side < 0 ? "l" : "r");
        Vec3 at = open.at;
        at[open.alongX ? 0 : 1] += side * open.half;
        network.points.push_back({name, at});
        network.runners.push_back({open.name, name, open.radius, open.radius});
        next.push_back({name, at, !open.alongX, open.half / std::sqrt(2.0), std::max(2.0, open.radius - 0.4)});
      }
    level = std::move(next);
  }
  return network;
}

void System64(benchmark::State& state) {
  const RunnerNetwork network = HTree64();
  vela::system::BuildOptions options;
  options.threads = static_cast<int>(state.range(0));
  std::size_t nodes = 0, elements = 0;
  int junctions = 0;
  for (auto _ : state) {
    const vela::system::SystemOutcome outcome = vela::system::MeshRunnerSystem(network, options);
    if (!outcome.ok) {
      state.SkipWithError((outcome.refusal.reason + ": " + outcome.refusal.message).c_str());
      return;
    }
    nodes = outcome.mesh.nodes.size();
    elements = outcome.mesh.elements.size();
    junctions = outcome.counts.junctions + outcome.counts.bends;
    benchmark::DoNotOptimize(outcome.mesh.nodes.data());
  }
  state.counters["junctions"] = junctions;
  state.counters["nodes"] = static_cast<double>(nodes);
  state.counters["elements"] = static_cast<double>(elements);
  state.counters["junctions_per_s"] =
      benchmark::Counter(static_cast<double>(junctions), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(System64)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void Junctions64(benchmark::State& state) {
  const RunnerNetwork network = HTree64();
  vela::system::BuildOptions options;
  options.threads = static_cast<int>(state.range(0));
  vela::system::detail::NetworkPlan plan;
  if (vela::system::detail::PlanNetwork(network, plan) ||
      vela::system::detail::ReferenceSection(network.section, plan.reference, plan.rings)) {
    state.SkipWithError("the network is refused");
    return;
  }
  std::size_t junctions = 0;
  for (auto _ : state) {
    std::vector<vela::system::detail::RegionPiece> pieces;
    if (vela::system::detail::MeshRegions(plan, network.section, options, pieces)) {
      state.SkipWithError("a junction is refused");
      return;
    }
    junctions = pieces.size();
    benchmark::DoNotOptimize(pieces.data());
  }
  state.counters["junctions_per_s"] =
      benchmark::Counter(static_cast<double>(junctions), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(Junctions64)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
