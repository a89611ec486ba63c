// Junctions meshed end to end, against the floor: what any host pays to
// receive the same mesh through the same calls.
//
//   ./vela_bench                                    everything
//   ./vela_bench --benchmark_filter='^Junction/'    the end-to-end cases only
//   ./vela_bench --benchmark_repetitions=5 --benchmark_min_time=0.2
//
//   Junction/NAME   every junction file in examples/ that meshes, read once
//                   before timing; each call makes a fresh mapper (as
//                   vela-mesh does) and writes into one reused FlatMesh.
//                   Junction/y_reused_mapper keeps one mapper for all calls.
//   Floor/NAME      the same nodes and elements, taken once from a real call,
//                   written from ready arrays through the same virtual
//                   setters in the library's order (SetMeshSize, every node,
//                   every element): what no meshing can beat.
//   Scale/...       generated junctions, one count growing at a time.
//   PeakHeap/NAME   the heap one call needs at its peak, against the size of
//                   the mesh it hands over (its counters: above PeakHeap).
//   Plan, SoundnessCheck
//                   the guards at the door and the check of the merged mesh,
//                   alone, for the Y; SoundnessCheck/y carries floor_us and
//                   x_floor as the Junction/ rows do, against the Y's floor,
//                   and x_floor_fastest: its fastest batch against the floor's.
//
// Counters of the Junction/ and Scale/ rows:
//   nodes, elements  of the mesh
//   nodes_per_s      nodes per CPU second
//   ns_per_node      CPU time per node; a flat column over a series means cost
//                    linear in the mesh size
//   floor_us         the case's floor, timed in the same repetition, just
//                    before and just after it: the fastest of many batches
//   x_floor          CPU time per call over floor_us, both taken by this
//                    process's CPU clock, so that one run gives the ratio
//
// After the rows, one table sets the bounds side by side: the Y, the X and
// the 90-degree bend end to end (soundness check included) against their
// floors, at most 8 times, and the check alone against the Y's floor, at
// most twice (also as its fastest batch against the floor's: the same
// statistic on both sides); with --benchmark_repetitions, the median and the
// range.

#include "flat_mesh.h"
#include "heap_count.h"
#include "junction_call.h"
#include "junction_file.h"
#include "mapper/junction_plan.h"
#include "mapper/mesh_build.h"

#include <VelaRefusal.h>
#include <VelaRunnerMapping.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <deque>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using vela::io::JunctionFile;

// The mesh of one real call as ready arrays: what the floor writes.
struct ReadyMesh {
  int nodeCount = 0;
  int elementCount = 0;
  std::vector<double> coords;    // 3 per node
  std::vector<int> corners;      // 8 per element, -1 past its own
  std::vector<int> cornerCount;  // 4, 5, 6 or 8 per element
};

struct Case {
  std::string name;
  JunctionFile file;
  ReadyMesh ready;
};

// Meshes the junction once into a FlatMesh; empty when the library refuses it.
std::optional<ReadyMesh> Record(const JunctionFile& file) {
  FlatMesh mesh;
  if (!vela::host::MeshJunction(file, mesh).ok) return std::nullopt;
  ReadyMesh ready;
  ready.nodeCount = mesh.GetNodeCount();
  ready.elementCount = mesh.GetElementCount();
  ready.coords.assign(mesh.Coords(), mesh.Coords() + 3 * static_cast<size_t>(ready.nodeCount));
  ready.corners.assign(mesh.Corners(),
                       mesh.Corners() + 8 * static_cast<size_t>(ready.elementCount));
  for (size_t e = 0; e < static_cast<size_t>(ready.elementCount); ++e) {
    const auto row = ready.corners.begin() + static_cast<std::ptrdiff_t>(8 * e);
    ready.cornerCount.push_back(
        static_cast<int>(std::count_if(row, row + 8, [](int n) { return n >= 0; })));
  }
  return ready;
}

// The floor's body: the ready mesh through the host interface, in the order
// the library writes it.
void WriteReady(const ReadyMesh& ready, CVela_SolidMesh& mesh) {
  mesh.SetMeshSize(ready.elementCount, ready.nodeCount);
  const double* p = ready.coords.data();
  for (int i = 0; i < ready.nodeCount; ++i, p += 3) mesh.SetNodeCoord(i, p[0], p[1], p[2]);
  const int* n = ready.corners.data();
  for (int e = 0; e < ready.elementCount; ++e, n += 8) {
    switch (ready.cornerCount[static_cast<size_t>(e)]) {
      case 4: mesh.SetTetraElement(e, n[0], n[1], n[2], n[3]); break;
      case 5: mesh.SetPyramidElement(e, n[0], n[1], n[2], n[3], n[4]); break;
      case 6: mesh.SetPrismElement(e, n[0], n[1], n[2], n[3], n[4], n[5]); break;
      default: mesh.SetHexaElement(e, n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7]); break;
    }
  }
}

// The container as the library sees it: a pointer the compiler cannot see
// through, so the floor's calls stay virtual calls like the library's.
CVela_SolidMesh& Opaque(FlatMesh& flat) {
  CVela_SolidMesh* mesh = &flat;
  benchmark::DoNotOptimize(mesh);
  return *mesh;
}

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Seconds per call of body: the fastest of many batches, each long enough
// for the clock. The fastest, because a loaded machine only ever adds time.
template <typename Body>
double FastestPerCall(Body body) {
  constexpr double kBatchSeconds = 2e-3;
  constexpr int kBatches = 10;
  auto timeBatch = [&body](int count) {
    const double start = CpuSeconds();
    for (int k = 0; k < count; ++k) body();
    return CpuSeconds() - start;
  };
  int batch = 1;
  while (timeBatch(batch) < kBatchSeconds) batch *= 2;
  double best = std::numeric_limits<double>::infinity();
  for (int k = 0; k < kBatches; ++k) best = std::min(best, timeBatch(batch) / batch);
  return best;
}

// Seconds per write of the ready mesh (FastestPerCall).
double TimeFloor(const ReadyMesh& ready) {
  FlatMesh flat;
  CVela_SolidMesh& mesh = Opaque(flat);
  WriteReady(ready, mesh);
  return FastestPerCall([&] {
    WriteReady(ready, mesh);
    benchmark::ClobberMemory();
  });
}

void SetMeshCounters(benchmark::State& state, const ReadyMesh& ready) {
  using benchmark::Counter;
  const double nodes = ready.nodeCount;
  const double writtenNodes = static_cast<double>(state.iterations()) * nodes;
  state.counters["nodes"] = nodes;
  state.counters["elements"] = ready.elementCount;
  state.counters["nodes_per_s"] = Counter(writtenNodes, Counter::kIsRate);
  // Inverted rate: CPU seconds per node.
  state.counters["ns_per_node"] =
      Counter(writtenNodes, static_cast<Counter::Flags>(Counter::kIsRate | Counter::kInvert));
}

// The ratios to the floor that bound the library's speed, by row name, one
// entry per run with its iteration count: printed together after the run
// (PrintBounds), so that one run answers whether every junction and the
// check keep within their bounds.
struct Ratio {
  benchmark::IterationCount iterations;
  double ratio;
};
std::map<std::string, std::vector<Ratio>>& Ratios() {
  static std::map<std::string, std::vector<Ratio>> ratios;
  return ratios;
}

// End to end: the call as vela-mesh makes it, from the read junction file to
// the last element in the host's container. The floor is timed just before
// and just after the loop, and the faster taken, so that the ratio sets side
// by side two times taken under the same load.
void Junction(benchmark::State& state, const Case& c, bool reuseMapper) {
  FlatMesh mesh;
  mesh.SetMeshSize(c.ready.elementCount, c.ready.nodeCount);
  CVelaRunnerMapping mapper;
  const double floorBefore = TimeFloor(c.ready);
  const double start = CpuSeconds();
  for (auto _ : state) {
    const bool ok = reuseMapper ? vela::host::MeshJunction(c.file, mesh, mapper).ok
                                : vela::host::MeshJunction(c.file, mesh).ok;
    if (!ok) {
      state.SkipWithError("junction refused");
      break;
    }
    benchmark::DoNotOptimize(mesh.Coords());
    benchmark::ClobberMemory();
  }
  const double seconds = CpuSeconds() - start;
  if (state.iterations() == 0) return;
  const double perCall = seconds / static_cast<double>(state.iterations());
  const double floor = std::min(floorBefore, TimeFloor(c.ready));
  SetMeshCounters(state, c.ready);
  state.counters["floor_us"] = floor * 1e6;
  state.counters["x_floor"] = perCall / floor;
  Ratios()["Junction/" + c.name + (reuseMapper ? "_reused_mapper" : "")].push_back({state.iterations(), perCall / floor});
}

void Floor(benchmark::State& state, const Case& c) {
  FlatMesh flat;
  CVela_SolidMesh& mesh = Opaque(flat);
  WriteReady(c.ready, mesh);
  for (auto _ : state) {
    WriteReady(c.ready, mesh);
    benchmark::ClobberMemory();
  }
  SetMeshCounters(state, c.ready);
}

// Heap of one call with a fresh mapper into a container already sized, so
// that what is counted is the library's own working memory (and the call's
// converted lists).
struct CallHeap {
  long long peak = 0;
  long long heldAfter = 0;  // still allocated once the call has returned
  long long allocations = 0;
};

CallHeap MeasureCall(const JunctionFile& file, FlatMesh& mesh, bool& ok) {
  const heap_count::HeapWindow window;
  ok = vela::host::MeshJunction(file, mesh).ok;
  return {window.Peak(), window.Current(), window.Allocations()};
}

// The same on a thread that has made no call before, so that the buffers the
// library keeps per thread between calls are allocated inside the window;
// heldAfter is taken before the thread ends: what the thread keeps.
CallHeap MeasureFirstCall(const JunctionFile& file, FlatMesh& mesh, bool& ok) {
  const heap_count::HeapWindow window;
  long long kept = 0;
  std::thread([&] {
    ok = vela::host::MeshJunction(file, mesh).ok;
    kept = window.Current();
  }).join();
  return {window.Peak(), kept, window.Allocations()};
}

// peak_bytes: a call on a thread that has meshed this junction, or a larger
// one, before (the steady state of a host meshing many junctions);
// first_call_peak_bytes: the first call on a thread, and thread_kept_bytes
// what that thread then holds until it ends; output_bytes: 24 per node and
// 32 per element, what the mesh itself takes in the flat container.
void PeakHeap(benchmark::State& state, const Case& c) {
  if (!heap_count::Counted()) {
    state.SkipWithError("this C library cannot tell block sizes");
    return;
  }
  FlatMesh mesh;
  mesh.SetMeshSize(c.ready.elementCount, c.ready.nodeCount);
  bool ok = true;
  const CallHeap first = MeasureFirstCall(c.file, mesh, ok);
  CallHeap steady;
  for (auto _ : state) {
    if (ok) steady = MeasureCall(c.file, mesh, ok);
    if (!ok) {
      state.SkipWithError("junction refused");
      break;
    }
  }
  const double output = 24.0 * c.ready.nodeCount + 32.0 * c.ready.elementCount;
  state.counters["output_bytes"] = output;
  state.counters["peak_bytes"] = static_cast<double>(steady.peak);
  state.counters["peak_x_output"] = static_cast<double>(steady.peak) / output;
  state.counters["held_after_bytes"] = static_cast<double>(steady.heldAfter);
  state.counters["allocations"] = static_cast<double>(steady.allocations);
  state.counters["first_call_peak_bytes"] = static_cast<double>(first.peak);
  state.counters["thread_kept_bytes"] = static_cast<double>(first.heldAfter);
}

// What the library spends on its own trust: the plan (the guards at the
// door and what they derive) and the soundness check of the merged mesh.
struct Planned {
  explicit Planned(const JunctionFile& j) {
    settings.firstRing = j.firstCircleNodes;
    settings.inner = j.innerLayers;
    settings.outer = j.outerLayers;
    call.center = j.center;
    call.farPoints = j.farPoints;
    call.radii = j.radii;
    call.innerShare = j.innerShare;
    call.outerShare = j.outerShare;
  }
  vela::JunctionSettings settings;
  vela::JunctionCall call;
};

void Plan(benchmark::State& state, const Case& c) {
  const Planned y(c.file);
  for (auto _ : state) {
    const std::optional<vela::NWayPlan> plan = vela::PlanNWay(y.settings, y.call);
    if (!plan) {
      state.SkipWithError("refused");
      break;
    }
    benchmark::DoNotOptimize(plan->mergeTol);
  }
}

// The check alone against the same floor as the whole call: what the
// library's guarantee costs next to handing the mesh over. x_floor sets the
// mean of the timed loop against the floor's fastest batch, as the Junction/
// rows do; x_floor_fastest sets the check's own fastest batch, taken just
// after the loop, against the same floor: one statistic on both sides, which
// a loaded machine cannot tilt towards the floor.
void SoundnessCheck(benchmark::State& state, const Case& c) {
  const Planned y(c.file);
  const std::optional<vela::NWayPlan> plan = vela::PlanNWay(y.settings, y.call);
  if (!plan) {
    state.SkipWithError("refused");
    return;
  }
  std::vector<int> firstNodes;
  const std::unique_ptr<vela::MeshBuild> build = vela::SweepNWay(*plan, firstNodes);
  build->Merge(plan->mergeTol);
  const double floorBefore = TimeFloor(c.ready);
  const double start = CpuSeconds();
  for (auto _ : state) {
    const vela::MeshSoundness s = build->Check();
    if (!s.Sound()) {
      state.SkipWithError("not sound");
      break;
    }
    benchmark::DoNotOptimize(s);
  }
  const double seconds = CpuSeconds() - start;
  if (state.iterations() == 0) return;
  const double fastest = FastestPerCall([&] {
    const vela::MeshSoundness s = build->Check();
    benchmark::DoNotOptimize(s);
  });
  const double floor = std::min(floorBefore, TimeFloor(c.ready));
  state.counters["floor_us"] = floor * 1e6;
  state.counters["check_fastest_us"] = fastest * 1e6;
  state.counters["x_floor"] = seconds / static_cast<double>(state.iterations()) / floor;
  state.counters["x_floor_fastest"] = fastest / floor;
  Ratios()["SoundnessCheck/" + c.name].push_back(
      {state.iterations(), seconds / static_cast<double>(state.iterations()) / floor});
  Ratios()["SoundnessCheck/" + c.name + " fastest"].push_back({state.iterations(), fastest / floor});
}

// ---- the cases ---------------------------------------------------------------------------

// Cases live here for the whole run; the benchmarks keep pointers to them.
std::deque<Case>& Cases() {
  static std::deque<Case> cases;
  return cases;
}

// Meshes the junction once for its ready arrays and keeps it; null, with a
// line on stderr, when the library refuses it.
Case* AddCase(const std::string& name, const JunctionFile& file) {
  std::optional<ReadyMesh> ready = Record(file);
  if (!ready) {
    std::fprintf(stderr, "vela_bench: %s left out, the library refuses it (%s)\n", name.c_str(),
                 vela::RefusalName(vela::LastJunctionRefusal().reason));
    return nullptr;
  }
  Cases().push_back({name, file, std::move(*ready)});
  return &Cases().back();
}

// Runners of radius 2 at the given angles (degrees) in the xy-plane, 20 from
// the centre, first ring F and C evenly spaced inner rings; the other
// settings are the junction file's defaults (two boundary layers).
JunctionFile Planar(const std::vector<double>& degrees, int firstRing, int innerRings) {
  JunctionFile j;
  j.firstCircleNodes = firstRing;
  j.innerLayers.clear();
  for (int k = 0; k <= innerRings; ++k)
    j.innerLayers.push_back(static_cast<double>(k) / innerRings);
  for (double d : degrees) {
    const double a = d * vela::kPi / 180;
    j.farPoints.push_back({20 * std::cos(a), 20 * std::sin(a), 0.0});
    j.radii.insert(j.radii.end(), {2.0, 2.0});
  }
  return j;
}

// n runners evenly round the centre, the first at 90 degrees as in examples/y.json.
std::vector<double> Spread(int n) {
  std::vector<double> degrees;
  for (int k = 0; k < n; ++k) degrees.push_back(90.0 + 360.0 * k / n);
  return degrees;
}

std::vector<std::filesystem::path> ExampleFiles() {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(VELA_BENCH_EXAMPLES, error))
    if (entry.path().extension() == ".json") files.push_back(entry.path());
  if (error) std::fprintf(stderr, "vela_bench: cannot list %s\n", VELA_BENCH_EXAMPLES);
  std::sort(files.begin(), files.end());
  return files;
}

benchmark::internal::Benchmark* InMicroseconds(benchmark::internal::Benchmark* b) {
  return b->Unit(benchmark::kMicrosecond);
}

// Junction/ and Floor/ for every example that meshes; the Y also with a
// reused mapper, and alone through the plan and the soundness check.
void RegisterExamples() {
  std::vector<Case*> examples;
  for (const auto& path : ExampleFiles()) {
    try {
      const JunctionFile file = vela::io::ReadJunctionFile(path.string());
      if (Case* c = AddCase(path.stem().string(), file)) examples.push_back(c);
    } catch (const vela::io::JunctionFileError& error) {
      std::fprintf(stderr, "vela_bench: left out: %s\n", error.what());
    }
  }
  for (Case* c : examples) {
    InMicroseconds(benchmark::RegisterBenchmark(("Junction/" + c->name).c_str(), Junction,
                                                std::cref(*c), false));
    if (c->name == "y") {
      InMicroseconds(
          benchmark::RegisterBenchmark("Junction/y_reused_mapper", Junction, std::cref(*c), true));
      InMicroseconds(benchmark::RegisterBenchmark("Plan/y", Plan, std::cref(*c)));
      InMicroseconds(
          benchmark::RegisterBenchmark("SoundnessCheck/y", SoundnessCheck, std::cref(*c)));
    }
  }
  for (Case* c : examples)
    InMicroseconds(
        benchmark::RegisterBenchmark(("Floor/" + c->name).c_str(), Floor, std::cref(*c)));
  for (Case* c : examples)
    InMicroseconds(
        benchmark::RegisterBenchmark(("PeakHeap/" + c->name).c_str(), PeakHeap, std::cref(*c)))
        ->Iterations(20);
}

struct Scaled {
  std::string name;
  std::vector<double> degrees;
  int firstRing, innerRings;
};

// One count grows at a time. The library takes fewer inner rings than twice
// the first ring, so the inner-ring series runs at F 16; no more than 11
// runners fit round a junction, each pair of neighbours more than 30 degrees
// apart.
std::vector<Scaled> ScaledJunctions() {
  const std::vector<double> y = Spread(3), bend = {0.0, 90.0};
  return {{"Scale/y_F8_C4", y, 8, 4},
          {"Scale/y_F16_C4", y, 16, 4},
          {"Scale/y_F32_C4", y, 32, 4},
          {"Scale/y_F16_C8", y, 16, 8},
          {"Scale/y_F16_C16", y, 16, 16},
          {"Scale/N6_F8_C4", Spread(6), 8, 4},
          {"Scale/N11_F8_C4", Spread(11), 8, 4},
          {"Scale/bend_F8_C4", bend, 8, 4},
          {"Scale/bend_F16_C4", bend, 16, 4},
          {"Scale/bend_F32_C4", bend, 32, 4}};
}

void RegisterScaling() {
  for (const Scaled& s : ScaledJunctions()) {
    Case* c = AddCase(s.name, Planar(s.degrees, s.firstRing, s.innerRings));
    if (c)
      InMicroseconds(benchmark::RegisterBenchmark(s.name.c_str(), Junction, std::cref(*c), false));
  }
}

// The bounds side by side: each checked junction end to end (the Y, the X
// and the 90-degree bend) against its floor, at most 8 times it, and the
// check alone against the Y's floor, at most twice it. The median of the
// repetitions, and their range; rows the filter left out are not shown.
void PrintBounds() {
  struct Bound {
    const char* row;
    const char* what;
    double most;
  };
  const Bound bounds[] = {{"Junction/y", "Y end to end", 8.0},
                          {"Junction/x", "X end to end", 8.0},
                          {"Junction/bend-90", "bend end to end", 8.0},
                          {"SoundnessCheck/y", "check alone (Y)", 2.0},
                          {"SoundnessCheck/y fastest", "  fastest batches", 2.0}};
  bool header = false;
  for (const Bound& b : bounds) {
    const auto found = Ratios().find(b.row);
    if (found == Ratios().end() || found->second.empty()) continue;
    // The library runs a row a few iterations at a time first, to size its
    // repetitions; only the repetitions, which run the most, count.
    benchmark::IterationCount most = 0;
    for (const Ratio& x : found->second) most = std::max(most, x.iterations);
    std::vector<double> r;
    for (const Ratio& x : found->second)
      if (x.iterations == most) r.push_back(x.ratio);
    std::sort(r.begin(), r.end());
    if (!header) std::printf("\n%-18s %9s %9s %9s %6s\n", "against the floor", "median", "least", "most", "bound");
    header = true;
    std::printf("%-18s %8.2fx %8.2fx %8.2fx %5.0fx  %s\n", b.what, r[r.size() / 2], r.front(), r.back(), b.most,
                r[r.size() / 2] <= b.most ? "within" : "OVER");
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RegisterExamples();
  RegisterScaling();
  benchmark::RunSpecifiedBenchmarks();
  PrintBounds();
  benchmark::Shutdown();
  return 0;
}
