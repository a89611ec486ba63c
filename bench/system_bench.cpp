// Whole runner systems.
//
// System64 and Junctions64: a 64-cavity H-tree (63 junctions, 127 runners)
// meshed on one and on two threads, whole and its junctions alone (the part
// that ran on the threads before the sweeps did too). Counters: junctions
// per second and the mesh's size; the speed-up is the ratio of two rows'
// times.
//
// Tree/6 and Tree/10: the 64-cavity and the 1,024-cavity H-trees as a user
// of `vela-mesh system` has them, on two threads: meshed (every junction
// with the library's soundness check), then the quality report with the
// wall against the channel while the .vtu is written beside it, as the tool
// does. Counters: each step's time (write_ms on the writing's own thread,
// write_waited_ms what was left of it once the report was done), the cost
// per element end to end, the peak heap of the meshing against the arrays
// it hands over, and the peak heap of the whole. The 1,024-cavity tree runs
// once.
//
// After the runs, the bounds the system is held to, each with its measure
// and whether it is met (the 64-cavity tree's figures are its fastest
// iteration's).

#include "channel.h"
#include "heap_count.h"
#include "memory_mesh.h"
#include "quality.h"
#include "runner_system.h"
#include "system_detail.h"
#include "system_mesh_file.h"
#include "system_regions.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <future>
#include <limits>
#include <map>
#include <string>
#include <system_error>

namespace {

using vela::system::RunnerNetwork;
using vela::system::Vec3;

constexpr int kThreads = 2;

// A sprue from above onto a tee, then `levels` levels of tees in the plane
// z = 0, turning a quarter turn and shortening by 1/sqrt(2) at each level,
// down to 2^levels gates. Six levels from a half-width of 128 make the
// 64-cavity tree; past six levels the tree starts wider, by sqrt(2) a level,
// so that its last levels are the 64-cavity tree's last levels: the larger
// tree is the smaller one grown at its root, element for element alike.
RunnerNetwork HTree(int levels) {
  RunnerNetwork network;
  network.name = "h-tree-" + std::to_string(1 << levels);
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
  const double half = levels > 6 ? 128.0 * std::pow(2.0, (levels - 6) / 2.0) : 128.0;
  std::vector<Open> level{{"p", {0, 0, 0}, true, half, 4}};
  for (int depth = 0; depth < levels; ++depth) {
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

RunnerNetwork HTree64() { return HTree(6); }

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

// --- whole trees, as the tool takes them -----------------------------------------------------

// The fastest iteration of a tree, its steps in seconds.
struct TreeFigures {
  double mesh = std::numeric_limits<double>::infinity();
  double check = 0, write = 0, total = std::numeric_limits<double>::infinity();
  double waited = 0;  // for the write, once the check was done
  double elements = 0;
  double meshPeak = 0;    // bytes, the meshing alone
  double outputBytes = 0;  // the arrays the meshing hands over
  double wholePeak = 0;   // bytes, mesh to file
  bool ran = false;
};
std::map<int, TreeFigures> g_trees;

// The bytes of the arrays of a system mesh: its nodes, elements, boundary
// faces and region names.
double OutputBytes(const vela::system::SystemMesh& mesh) {
  double bytes = static_cast<double>(mesh.nodes.capacity() * sizeof(Vec3) +
                                     mesh.elements.capacity() * sizeof(vela::system::SystemElement) +
                                     mesh.faces.capacity() * sizeof(vela::system::BoundaryFace));
  for (const vela::system::Region& region : mesh.regions)
    bytes += static_cast<double>(sizeof(region) + region.name.capacity());
  return bytes;
}

// A folder of its own for the benchmark's files, removed at the end.
struct ScratchFolder {
  std::filesystem::path path;
  ScratchFolder() {
    path = std::filesystem::temp_directory_path() /
           ("vela-system-bench-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(path);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

void Tree(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const int levels = static_cast<int>(state.range(0));
  const RunnerNetwork network = HTree(levels);
  std::vector<vela::quality::MachinedRunner> channel;
  {
    std::map<std::string, Vec3> at(network.points.begin(), network.points.end());
    for (const vela::system::SystemRunner& runner : network.runners)
      channel.push_back({at[runner.from], at[runner.to], runner.radiusFrom, runner.radiusTo});
  }
  vela::system::BuildOptions options;
  options.threads = kThreads;
  const ScratchFolder folder;
  const std::string path = (folder.path / (network.name + ".vtu")).string();
  TreeFigures& best = g_trees[levels];
  const auto seconds = [](Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
  };
  double sumMesh = 0, sumCheck = 0, sumWrite = 0, sumWaited = 0;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    vela::system::SystemOutcome outcome;
    double meshPeak = 0, held = 0;
    {
      const heap_count::HeapWindow meshing;
      outcome = vela::system::MeshRunnerSystem(network, options);
      meshPeak = static_cast<double>(meshing.Peak());
      held = static_cast<double>(meshing.Current());
    }
    // One window at a time: the rest counts from here, above what the
    // meshing holds.
    const heap_count::HeapWindow after;
    const Clock::time_point meshed = Clock::now();
    if (!outcome.ok) {
      state.SkipWithError((outcome.refusal.reason + ": " + outcome.refusal.message).c_str());
      return;
    }
    // As the tool does it: the .vtu written on a thread of its own while
    // the mesh is checked.
    double writing = 0;
    std::future<void> write = std::async(std::launch::async, [&] {
      const Clock::time_point from = Clock::now();
      vela::io::WriteSystemMesh(path, outcome.mesh, network.name);
      writing = seconds(from, Clock::now());
    });
    MemoryMesh volume;
    vela::system::WriteSolidMesh(outcome.mesh, volume);
    const vela::quality::QualityReport report =
        vela::quality::Assess(volume, vela::quality::DefaultTolerance(volume), vela::quality::Limits{}, kThreads,
                              vela::io::QualityRegions(outcome.mesh));
    const vela::quality::WallReport wall = vela::quality::AssessWall(volume, channel, kThreads);
    const Clock::time_point checked = Clock::now();
    write.get();
    const Clock::time_point written = Clock::now();
    benchmark::DoNotOptimize(report.volume);
    benchmark::DoNotOptimize(wall.share);

    const double output = OutputBytes(outcome.mesh);
    TreeFigures figures;
    figures.mesh = seconds(start, meshed);
    figures.check = seconds(meshed, checked);
    figures.write = writing;
    figures.waited = seconds(checked, written);
    figures.total = seconds(start, written);
    figures.elements = static_cast<double>(outcome.mesh.elements.size());
    figures.meshPeak = meshPeak;
    figures.outputBytes = output;
    figures.wholePeak = std::max(meshPeak, held + static_cast<double>(after.Peak()));
    figures.ran = true;
    sumMesh += figures.mesh;
    sumCheck += figures.check;
    sumWrite += figures.write;
    sumWaited += figures.waited;
    if (figures.total < best.total) best = figures;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["elements"] = best.elements;
  state.counters["mesh_ms"] = 1e3 * sumMesh / n;
  state.counters["check_ms"] = 1e3 * sumCheck / n;
  state.counters["write_ms"] = 1e3 * sumWrite / n;
  state.counters["write_waited_ms"] = 1e3 * sumWaited / n;
  state.counters["ns_per_element"] = 1e9 * (sumMesh + sumCheck + sumWaited) / n / best.elements;
  state.counters["mesh_ns_per_element"] = 1e9 * sumMesh / n / best.elements;
  state.counters["mesh_peak_MB"] = best.meshPeak / 1e6;
  state.counters["output_MB"] = best.outputBytes / 1e6;
  state.counters["peak_over_output"] = best.meshPeak / best.outputBytes;
  state.counters["whole_peak_MB"] = best.wholePeak / 1e6;
}
BENCHMARK(Tree)->Arg(6)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(Tree)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void PrintBound(const char* what, double measure, const char* unit, double bound, bool atMost) {
  const bool met = atMost ? measure <= bound : measure < bound;
  std::printf("  %-66s %10.3f %-3s %s %8.3f  %s\n", what, measure, unit, atMost ? "<=" : "< ", bound,
              met ? "met" : "NOT MET");
}

void PrintBounds() {
  const auto tree64 = g_trees.find(6), tree1024 = g_trees.find(10);
  const bool have64 = tree64 != g_trees.end() && tree64->second.ran;
  const bool have1024 = tree1024 != g_trees.end() && tree1024->second.ran;
  if (!have64 && !have1024) return;
  std::printf("\nBounds (%d threads; the 64-cavity tree's fastest iteration):\n", kThreads);
  if (!heap_count::Counted()) std::printf("  (this C library does not tell block sizes: no heap figures)\n");
  if (have64) {
    const TreeFigures& t = tree64->second;
    PrintBound("64-cavity tree meshed and checked", 1e3 * t.mesh, "ms", 100.0, true);
    PrintBound("64-cavity tree meshed, reported and written as .vtu", t.total, "s", 1.5, false);
  }
  if (have64 && have1024) {
    const TreeFigures& a = tree64->second;
    const TreeFigures& b = tree1024->second;
    PrintBound("1,024-cavity tree: cost per element over the 64-cavity tree's",
               (b.total / b.elements) / (a.total / a.elements), "x", 1.2, true);
    std::printf("  %-66s %10.3f x\n", "  (meshing alone)", (b.mesh / b.elements) / (a.mesh / a.elements));
  }
  if (have1024 && heap_count::Counted()) {
    const TreeFigures& b = tree1024->second;
    PrintBound("1,024-cavity tree: peak heap of the meshing over its output arrays", b.meshPeak / b.outputBytes,
               "x", 2.0, true);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintBounds();
  return 0;
}
