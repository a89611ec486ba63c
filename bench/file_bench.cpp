// Mesh files written at the size of a large runner system: ASCII against
// binary, .vtu and .msh, each written in full to a file in the system's
// temporary folder (the text made, written under a temporary name and
// renamed into place, as vela-mesh writes it).
//
//   ./vela_file_bench
//   ./vela_file_bench --benchmark_filter='Vtu'
//
// The mesh: tests/golden/x-tilted-golden.mesh.json (a four-way junction of
// 3840 elements on 3177 nodes: 1280 prisms and 2560 hexahedra) repeated 200
// times, each copy moved along x past the previous one, giving 768,000
// elements on 635,400 nodes, with a scaled Jacobian per element as the tool
// writes it. Real coordinates, so that compression meets the numbers a real
// mesh has, not a regular grid's.
//
// Counters: bytes (the file's size), MB_per_s (file bytes per second of
// wall time), elements.

#include "mesh_file.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using vela::io::Encoding;
using vela::io::MeshDocument;

constexpr int kCopies = 200;

struct BigMesh {
  MeshDocument document;
  std::vector<double> scaledJacobian;
};

const BigMesh& Mesh() {
  static const BigMesh mesh = [] {
    std::stringstream text;
    text << std::ifstream(std::string(VELA_GOLDEN_DIR) + "/x-tilted-golden.mesh.json").rdbuf();
    const MeshDocument one = vela::io::ParseMesh(text.str(), vela::io::MeshFormat::Json);
    double low = one.mesh.nodes.front()[0], high = low;
    for (const auto& p : one.mesh.nodes) {
      low = std::min(low, p[0]);
      high = std::max(high, p[0]);
    }
    BigMesh big;
    big.document.kind = one.kind;
    big.document.farNodes = one.farNodes;
    for (int copy = 0; copy < kCopies; ++copy) {
      const int first = static_cast<int>(big.document.mesh.nodes.size());
      for (auto p : one.mesh.nodes) {
        p[0] += copy * 1.01 * (high - low);
        big.document.mesh.nodes.push_back(p);
      }
      for (MeshElement element : one.mesh.elements) {
        for (int c = 0; c < element.CornerCount(); ++c) element.nodes[static_cast<size_t>(c)] += first;
        big.document.mesh.elements.push_back(element);
      }
    }
    // Values spread as real qualities are, so that they do not compress unduly.
    for (size_t e = 0; e < big.document.mesh.elements.size(); ++e)
      big.scaledJacobian.push_back(0.5 + 0.5 * static_cast<double>((e * 7919) % 1000) / 1000.0);
    return big;
  }();
  return mesh;
}

void Write(benchmark::State& state, const char* extension, Encoding encoding) {
  const BigMesh& mesh = Mesh();
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("vela_file_bench_" + std::to_string(::getpid()) + extension))
                               .string();
  for (auto _ : state)
    vela::io::WriteMesh(path, mesh.document, mesh.scaledJacobian, {encoding});
  const auto bytes = static_cast<double>(std::filesystem::file_size(path));
  std::filesystem::remove(path);
  state.counters["bytes"] = bytes;
  state.counters["MB_per_s"] =
      benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["elements"] = static_cast<double>(mesh.document.mesh.elements.size());
}

void VtuAscii(benchmark::State& state) { Write(state, ".vtu", Encoding::Ascii); }
void VtuBinary(benchmark::State& state) { Write(state, ".vtu", Encoding::Binary); }
void MshAscii(benchmark::State& state) { Write(state, ".msh", Encoding::Ascii); }
void MshBinary(benchmark::State& state) { Write(state, ".msh", Encoding::Binary); }
void Json(benchmark::State& state) { Write(state, ".json", Encoding::Default); }

BENCHMARK(VtuAscii)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(VtuBinary)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(MshAscii)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(MshBinary)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(Json)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
