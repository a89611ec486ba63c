#include "system_command.h"

#include "embedded_examples.h"
#include "file_text.h"
#include "memory_mesh.h"
#include "mesh_file.h"
#include "quality.h"
#include "runner_system.h"
#include "system_file.h"
#include "system_mesh_file.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <new>
#include <ostream>
#include <stdexcept>

namespace vela::cli {

namespace {

namespace fs = std::filesystem;
using vela::system::RunnerNetwork;
using vela::system::SystemMesh;
using vela::system::SystemOutcome;

constexpr int kDone = 0;
constexpr int kWriteFailed = 1;
constexpr int kBadInput = 2;
constexpr int kFaults = 3;
// A network the layer refuses is bad input, as a junction the library refuses is.
constexpr int kRefused = kBadInput;

// The formats WriteSystemMesh takes: the junction mesh formats and the picture.
std::string OutputProblem(const std::string& path) {
  std::string extension = fs::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".svg") return "";
  try {
    io::MeshFormatFromPath(path);
    return "";
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
}

// Progress of the junctions and bends on err, once they have taken longer
// than a second: a quick system prints nothing. The line is closed when the
// object goes.
class Progress {
public:
  explicit Progress(std::ostream& err) : m_err(err), m_start(std::chrono::steady_clock::now()) {}
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress() {
    if (m_shown) m_err << "\n";
  }

  std::function<void(int, int)> Callback() {
    return [this](int done, int total) {
      if (!m_shown && std::chrono::steady_clock::now() - m_start < std::chrono::seconds(1)) return;
      m_shown = true;
      m_err << "\rmeshing junctions and bends: " << done << " of " << total << std::flush;
    };
  }

private:
  std::ostream& m_err;
  std::chrono::steady_clock::time_point m_start;
  bool m_shown = false;
};

// The meshed system, its volume as a host container holds it, and the verdict.
struct SystemResult {
  int status = kDone;
  SystemOutcome outcome;
  MemoryMesh volume;
  quality::QualityReport report;
  std::vector<std::string> written;
};

int ReadNetwork(const std::string& file, RunnerNetwork& network, std::ostream& err) {
  try {
    network = io::ReadSystemFile(file);
    return kDone;
  } catch (const io::SystemFileError& e) {
    err << e.what() << "\n";
    return kBadInput;
  }
}

// Writes every output; the first failure ends it. A mesh the writers cannot
// hold faithfully is a fault of the mesh, a file that cannot be written one
// of the disk.
int WriteOutputs(const SystemMesh& mesh, const std::string& title, const std::vector<std::string>& outputs,
                 std::vector<std::string>& written, std::ostream& err) {
  for (const std::string& path : outputs) {
    try {
      const std::vector<std::string> files = io::WriteSystemMesh(path, mesh, title);
      written.insert(written.end(), files.begin(), files.end());
    } catch (const std::invalid_argument& e) {
      err << io::detail::Printable(title) << ": the mesh cannot be written: " << e.what() << "\n";
      return kFaults;
    } catch (const std::runtime_error& e) {
      err << e.what() << "\n";
      return kWriteFailed;
    }
  }
  return kDone;
}

// Meshes, checks and writes one network; messages go to err. A network too
// large for the memory is bad input, not a crash.
SystemResult MeshAndWrite(const RunnerNetwork& network, int threads, const std::vector<std::string>& outputs,
                          std::ostream& err) {
  SystemResult r;
  const std::string name = io::detail::Printable(network.name);
  try {
    Progress progress(err);
    vela::system::BuildOptions options;
    options.threads = threads;
    options.progress = progress.Callback();
    r.outcome = vela::system::MeshRunnerSystem(network, options);
  } catch (const std::bad_alloc&) {
    err << name << ": out of memory: the system needs more memory than there is\n";
    r.status = kBadInput;
    return r;
  }
  if (!r.outcome.ok) {
    err << name << ": refused (" << r.outcome.refusal.reason << "): " << r.outcome.refusal.message << "\n";
    r.status = kRefused;
    return r;
  }
  vela::system::WriteSolidMesh(r.outcome.mesh, r.volume);
  r.report = quality::Assess(r.volume, quality::DefaultTolerance(r.volume));
  r.status = WriteOutputs(r.outcome.mesh, network.name, outputs, r.written, err);
  if (r.status == kDone && quality::HasFaults(r.report)) {
    err << name << ": the mesh has faults:\n" << quality::DescribeFaults(r.report);
    r.status = kFaults;
  }
  return r;
}

std::vector<long long> FacesPerPatch(const SystemMesh& mesh) {
  std::vector<long long> count(mesh.patches.size(), 0);
  for (const vela::system::BoundaryFace& face : mesh.faces)
    if (face.patch >= 0 && static_cast<size_t>(face.patch) < count.size()) ++count[static_cast<size_t>(face.patch)];
  return count;
}

void PrintSummary(const RunnerNetwork& network, const SystemResult& r, std::ostream& out) {
  const vela::system::SystemCounts& counts = r.outcome.counts;
  const MemoryMesh& mesh = r.volume;
  out << io::detail::Printable(network.name) << ": runner system of " << network.points.size() << " points, "
      << network.runners.size() << " runners\n"
      << "  meshed    " << counts.junctions << " junctions, " << counts.bends << " bends, " << counts.runners
      << " runners\n"
      << "  nodes     " << mesh.GetNodeCount() << "\n"
      << "  elements  " << mesh.GetElementCount() << ": " << mesh.CountOf(ElementKind::Tetra) << " tetra, "
      << mesh.CountOf(ElementKind::Pyramid) << " pyramid, " << mesh.CountOf(ElementKind::Prism) << " prism, "
      << mesh.CountOf(ElementKind::Hexa) << " hexa\n"
      << "  patches   " << r.outcome.mesh.patches.size() << ", faces each:\n";
  const std::vector<long long> faces = FacesPerPatch(r.outcome.mesh);
  for (size_t p = 0; p < faces.size(); ++p)
    out << "    " << std::left << std::setw(14) << io::detail::Printable(r.outcome.mesh.patches[p]) << std::right
        << std::setw(8) << faces[p] << "\n";
  out << "  " << quality::SummaryLine(r.report) << "\n";
  for (const std::string& path : r.written) out << "  wrote " << path << "\n";
}

// The example systems of the demo, each with the stem of its files: the
// example's or the file's own name, never the "name" key, which could lead
// out of the folder.
std::vector<std::pair<std::string, RunnerNetwork>> DemoSystems(const std::string& examplesDir) {
  std::vector<std::pair<std::string, RunnerNetwork>> systems;
  if (examplesDir.empty()) {
    for (const EmbeddedExample& example : EmbeddedSystems()) {
      RunnerNetwork network = io::ParseSystemFile(example.text);
      if (network.name.empty()) network.name = example.name;
      systems.emplace_back(example.name, std::move(network));
    }
    return systems;
  }
  const fs::path folder = fs::path(examplesDir) / "systems";
  if (!fs::is_directory(folder)) return systems;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().extension() == ".json") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) systems.emplace_back(file.stem().string(), io::ReadSystemFile(file.string()));
  return systems;
}

void PrintDemoRow(const RunnerNetwork& network, const SystemResult& r, std::ostream& out) {
  out << std::left << std::setw(14) << io::detail::Printable(network.name) << std::right;
  if (!r.outcome.ok) {
    out << "  not meshed\n";
    return;
  }
  const vela::system::SystemCounts& c = r.outcome.counts;
  const MemoryMesh& mesh = r.volume;
  double minSj = 1.0;
  for (double v : r.report.scaledJacobian) minSj = std::min(minSj, v);
  out << std::setw(10) << c.junctions << std::setw(6) << c.bends << std::setw(8) << c.runners << std::setw(8)
      << mesh.GetNodeCount() << std::setw(9) << mesh.GetElementCount() << std::setw(7)
      << mesh.CountOf(ElementKind::Tetra) << std::setw(8) << mesh.CountOf(ElementKind::Pyramid) << std::setw(7)
      << mesh.CountOf(ElementKind::Prism) << std::setw(7) << mesh.CountOf(ElementKind::Hexa) << std::setw(8)
      << r.outcome.mesh.patches.size() << std::setw(8) << std::fixed << std::setprecision(3) << minSj
      << std::defaultfloat << "  " << (quality::HasFaults(r.report) ? "yes" : "none") << "\n";
}

}  // namespace

int RunSystem(const std::string& file, const std::vector<std::string>& outputs, int threads, std::ostream& out,
              std::ostream& err) {
  for (const std::string& path : outputs) {
    if (const std::string problem = OutputProblem(path); !problem.empty()) {
      err << problem << "\n";
      return kBadInput;
    }
  }
  RunnerNetwork network;
  if (const int status = ReadNetwork(file, network, err); status != kDone) return status;
  const SystemResult r = MeshAndWrite(network, threads, outputs, err);
  if (!r.outcome.ok || r.status == kWriteFailed) return r.status;
  PrintSummary(network, r, out);
  return r.status;
}

int RunSystemDemo(const std::string& outDir, const std::string& examplesDir, std::ostream& out,
                  std::ostream& err) {
  std::vector<std::pair<std::string, RunnerNetwork>> systems;
  try {
    systems = DemoSystems(examplesDir);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kBadInput;
  }
  if (systems.empty()) return kDone;
  // A folder of their own: beside each volume .vtu lies a surface-only
  // patches .vtu, which a reader of the junctions' folder would not expect.
  const fs::path folder = fs::path(outDir) / "systems";
  std::error_code made;
  fs::create_directories(folder, made);
  if (made) {
    err << io::detail::Printable(folder.string()) << ": cannot create the folder (" << made.message() << ")\n";
    return kWriteFailed;
  }
  out << "\n"
      << std::left << std::setw(14) << "system" << std::right << std::setw(10) << "junctions" << std::setw(6)
      << "bends" << std::setw(8) << "runners" << std::setw(8) << "nodes" << std::setw(9) << "elements"
      << std::setw(7) << "tetra" << std::setw(8) << "pyramid" << std::setw(7) << "prism" << std::setw(7) << "hexa"
      << std::setw(8) << "patches" << std::setw(8) << "min SJ" << "  faults\n";
  int status = kDone;
  for (const auto& [stem, network] : systems) {
    std::vector<std::string> outputs;
    for (const char* ext : {".mesh.json", ".vtu", ".msh", ".svg"})
      outputs.push_back((folder / (stem + ext)).string());
    const SystemResult r = MeshAndWrite(network, 0, outputs, err);
    status = std::max(status, r.status);
    PrintDemoRow(network, r, out);
  }
  out << "files in " << folder.string() << "/: NAME.mesh.json, NAME.vtu, NAME.patches.vtu, NAME.msh, NAME.svg\n";
  return status;
}

}  // namespace vela::cli
