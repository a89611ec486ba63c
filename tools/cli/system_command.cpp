#include "system_command.h"

#include "embedded_examples.h"
#include "file_text.h"
#include "junction_call.h"
#include "junction_mesher.h"
#include "length_unit.h"
#include "memory_mesh.h"
#include "mesh_file.h"
#include "quality.h"
#include "quality_json.h"
#include "refusal_text.h"
#include "runner_system.h"
#include "system_file.h"
#include "system_mesh_file.h"
#include "system_regions.h"

#include <stdlib.h>  // mkdtemp

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <iomanip>
#include <new>
#include <ostream>
#include <sstream>
#include <stdexcept>

namespace vela::cli {

namespace {

namespace fs = std::filesystem;
using vela::system::RunnerNetwork;
using vela::system::SystemMesh;
using vela::system::SystemOutcome;

// A network the layer refuses is bad input, as a junction the library refuses is.
constexpr int kRefused = kBadInput;

// A folder of its own under the system's temporary folder, removed with
// everything in it when the object goes: where a system mesh for the output
// stream is written, since its writers write files.
class TemporaryFolder {
public:
  TemporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "vela-mesh-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    m_path = pattern;
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  ~TemporaryFolder() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
  }
  const fs::path& Path() const { return m_path; }

private:
  fs::path m_path;
};

// The meshed system, its volume as a host container holds it, and the verdict.
struct SystemResult {
  int status = kDone;
  SystemOutcome outcome;
  MemoryMesh volume;
  quality::QualityReport report;
  quality::WallReport wall;
  bool wallFault = false;  // further outside the channel than --max-wall allows
  std::vector<std::string> written;
};

// The system's section as a junction file's, with its first runner's radius
// for the scale: what SectionFloorLine sweeps a straight runner with.
io::JunctionFile SectionFile(const RunnerNetwork& network) {
  io::JunctionFile section;
  section.name = network.name;
  section.firstCircleNodes = network.section.firstCircleNodes;
  section.innerLayers = network.section.innerLayers;
  section.outerLayers = network.section.outerLayers;
  section.innerShare = network.section.innerShare;
  section.outerShare = network.section.outerShare;
  const double r = network.runners.empty() ? 1.0 : network.runners.front().radiusFrom;
  section.radii = {r, r};
  return section;
}

// The network's runners as machined, each between its two points.
std::vector<quality::MachinedRunner> ChannelOf(const RunnerNetwork& network) {
  std::map<std::string, vela::system::Vec3> at(network.points.begin(), network.points.end());
  std::vector<quality::MachinedRunner> channel;
  for (const vela::system::SystemRunner& runner : network.runners)
    channel.push_back({at[runner.from], at[runner.to], runner.radiusFrom, runner.radiusTo});
  return channel;
}

int ReadNetwork(const std::string& file, RunnerNetwork& network, std::string& units, std::ostream& err) {
  try {
    network = io::ReadSystemFile(file, units);
    return kDone;
  } catch (const io::SystemFileError& e) {
    err << e.what() << "\n";
    return kBadInput;
  }
}

// The mesh on the output stream: its one file, or the volume file of a .vtu.
void WriteToStream(const SystemMesh& mesh, const std::string& title, const RunOptions& options,
                   const io::WriteOptions& write, std::ostream& data) {
  const TemporaryFolder folder;
  const std::string path = (folder.Path() / ("mesh." + options.format)).string();
  io::WriteSystemMesh(path, mesh, title, write);
  data << io::detail::ReadWholeFile(path) << std::flush;
}

// The mesh with every length in the output's unit: the mesh itself when the
// units agree, else a scaled copy kept in `scaled`.
const SystemMesh& InUnits(const SystemMesh& mesh, const std::string& from, const std::string& to,
                          SystemMesh& scaled) {
  const double factor = io::UnitFactor(from, to);
  if (factor == 1.0) return mesh;
  scaled = mesh;
  for (auto& p : scaled.nodes)
    for (double& x : p) x *= factor;
  return scaled;
}

// Writes every output ("-" to data, an OpenFOAM case into its folder); the
// first failure ends it. A mesh the writers cannot hold faithfully is a
// fault of the mesh, a file that cannot be written one of the disk.
// Progress is told as the number of outputs written so far, before each
// output and once more when all are.
int WriteOutputs(const SystemMesh& mesh, const std::string& title, const std::string& fileUnits,
                 const std::vector<std::string>& outputs, const RunOptions& options,
                 std::vector<std::string>& written, std::ostream& data, std::ostream& err,
                 const std::function<void(int)>& progress) {
  const int total = static_cast<int>(outputs.size());
  for (int i = 0; i < total; ++i) {
    const std::string& path = outputs[static_cast<std::size_t>(i)];
    progress(i);
    try {
      io::WriteOptions write = options.write;
      write.units = OutputUnits(path, fileUnits, options);
      SystemMesh copy;
      const SystemMesh& scaled = InUnits(mesh, fileUnits, write.units, copy);
      if (IsStandardOutput(path)) {
        WriteToStream(scaled, title, options, write, data);
        continue;
      }
      if (IsCaseFolder(path, options)) {
        io::WriteFoamCase(path, scaled, title, write);
        written.push_back(path);  // the case, not each of its files
        continue;
      }
      const std::vector<std::string> files = io::WriteSystemMesh(path, scaled, title, write);
      written.insert(written.end(), files.begin(), files.end());
    } catch (const std::invalid_argument& e) {
      err << io::detail::Printable(title) << ": the mesh cannot be written: " << e.what() << "\n";
      return kFaults;
    } catch (const std::runtime_error& e) {
      err << e.what() << "\n";
      return kWriteFailed;
    }
  }
  progress(total);
  return kDone;
}

// The steps of a task on another thread, each shown by this one as it comes:
// the task notes them, Next hands them over in order.
class Steps {
public:
  void Note(int step) {
    {
      const std::lock_guard<std::mutex> lock(m_lock);
      m_steps.push_back(step);
    }
    m_changed.notify_all();
  }
  void Finish() {
    {
      const std::lock_guard<std::mutex> lock(m_lock);
      m_finished = true;
    }
    m_changed.notify_all();
  }
  // Waits for the next step; false once the task is done and every step handed over.
  bool Next(int& step) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [&] { return m_taken < m_steps.size() || m_finished; });
    if (m_taken == m_steps.size()) return false;
    step = m_steps[m_taken++];
    return true;
  }

private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<int> m_steps;
  std::size_t m_taken = 0;
  bool m_finished = false;
};

// Meshes, checks and writes one network; messages go to err. A network too
// large for the memory is bad input, not a crash.
SystemResult MeshAndWrite(const RunnerNetwork& network, const std::string& units, int threads,
                          const std::vector<std::string>& outputs, const RunOptions& options, std::ostream& data,
                          std::ostream& err) {
  SystemResult r;
  const std::string name = io::detail::Printable(network.name);
  // One line for the whole run, each phase on it in turn: a large system
  // spends most of its time checking the mesh, after the meshing is done.
  Progress progress(err, options.progress, options.progressAfter);
  try {
    vela::system::BuildOptions build;
    build.threads = threads;
    build.memoryLimit = options.memoryLimit < 0.0 ? host::DefaultMemoryLimit() : options.memoryLimit;
    build.asConstructed = options.asConstructed;
    build.progress = progress.Callback("meshing junctions and bends");
    r.outcome = vela::system::MeshRunnerSystem(network, build);
  } catch (const std::bad_alloc&) {
    progress.Print(name + ": out of memory: the system needs more memory than there is\n");
    r.status = kBadInput;
    return r;
  }
  if (!r.outcome.ok) {
    progress.Print(name + ": refused (" + r.outcome.refusal.reason + "): " + r.outcome.refusal.message + "\n");
    r.status = kRefused;
    return r;
  }
  progress.Show("checking the mesh", 0, 2);
  // The files do not depend on the verdict: they are written on a thread of
  // their own while the mesh is checked, in the time the check leaves a core
  // free, and the writing's progress is shown once the check is done. The
  // files come out as they would one after the other.
  std::ostringstream said;
  Steps written;
  std::future<int> writing = std::async(std::launch::async, [&] {
    struct Done {
      Steps& steps;
      ~Done() { steps.Finish(); }
    } done{written};
    return WriteOutputs(r.outcome.mesh, network.name, units, outputs, options, r.written, data, said,
                        [&](int step) { written.Note(step); });
  });
  vela::system::WriteSolidMesh(r.outcome.mesh, r.volume);
  // On as many threads as the meshing: the report is the same on any number.
  r.report = quality::Assess(r.volume, quality::DefaultTolerance(r.volume), options.limits, threads,
                             io::QualityRegions(r.outcome.mesh));
  progress.Show("checking the mesh", 1, 2);
  r.wall = quality::AssessWall(r.volume, ChannelOf(network), threads);
  progress.Show("checking the mesh", 2, 2);
  const int total = static_cast<int>(outputs.size());
  for (int step = 0; written.Next(step);) progress.Show("writing the outputs", step, total);
  r.status = writing.get();
  progress.Print(said.str());
  r.wallFault = WallOutside(r.wall, options);
  if (r.status == kDone && (quality::HasFaults(r.report) || r.wallFault)) {
    progress.Print(name + ": the mesh has faults:\n" + quality::DescribeFaults(r.report) +
                   (r.wallFault ? WallFault(r.wall, options) : std::string()) +
                   (r.report.Count(quality::Fault::PoorCell) > 0
                        ? SectionFloorLine(SectionFile(network), options.limits.minScaledJacobian)
                        : std::string()));
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
  out << "  " << quality::SummaryLine(r.report) << "\n"
      << "  " << WallLine(r.wall) << "\n"
      << "  coincident nodes: within " << std::setprecision(3) << r.report.mergeTol
      << " on every axis, as check takes by default\n"
      << std::setprecision(6);
  for (const std::string& path : r.written) out << "  wrote " << path << "\n";
}

nlohmann::ordered_json SummaryJson(const RunnerNetwork& network, const SystemResult& r) {
  const vela::system::SystemCounts& counts = r.outcome.counts;
  const MemoryMesh& mesh = r.volume;
  nlohmann::ordered_json patches = nlohmann::ordered_json::object();
  const std::vector<long long> faces = FacesPerPatch(r.outcome.mesh);
  for (size_t p = 0; p < faces.size(); ++p) patches[r.outcome.mesh.patches[p]] = faces[p];
  return {{"name", network.name},
          {"points", network.points.size()},
          {"runners", network.runners.size()},
          {"status", r.status},
          {"meshed", {{"junctions", counts.junctions}, {"bends", counts.bends}, {"runners", counts.runners}}},
          {"nodes", mesh.GetNodeCount()},
          {"elements", mesh.GetElementCount()},
          {"by_kind", ByKindJson(mesh)},
          {"patches", patches},
          {"quality", quality::QualityJson(r.report)},
          {"wall", WallJson(r.wall)},
          {"written", r.written}};
}

// A refused network as a script reads it: every field of the record, null
// where it does not apply, so that a script tells "no point" from a point
// named "" without parsing the message.
nlohmann::ordered_json RefusalJson(const RunnerNetwork& network, const vela::system::SystemRefusal& why,
                                   int status) {
  using Json = nlohmann::ordered_json;
  const auto text = [](const std::string& s) { return s.empty() ? Json() : Json(s); };
  const auto measure = [](double v) { return std::isnan(v) ? Json() : Json(v); };
  const char* unit = host::UnitName(why.unit);
  return {{"name", network.name},
          {"status", status},
          {"refusal",
           {{"reason", why.reason},
            {"point", text(why.point)},
            {"runner", text(why.runner)},
            {"value", measure(why.value)},
            {"limit", measure(why.limit)},
            {"unit", unit ? Json(unit) : Json()},
            {"junction_reason", why.junctionReason == vela::Refusal::None ? Json()
                                                                           : Json(RefusalName(why.junctionReason))},
            {"message", why.message}}}};
}

// One example system of the demo: the stem of its files (the example's or
// the file's own name, never the "name" key, which could lead out of the
// folder), the network and its unit.
struct DemoSystem {
  std::string stem;
  RunnerNetwork network;
  std::string units;
};

std::vector<DemoSystem> DemoSystems(const std::string& examplesDir) {
  std::vector<DemoSystem> systems;
  if (examplesDir.empty()) {
    for (const EmbeddedExample& example : EmbeddedSystems()) {
      std::string units;
      RunnerNetwork network = io::ParseSystemFile(example.text, units);
      if (network.name.empty()) network.name = example.name;
      systems.push_back({example.name, std::move(network), units});
    }
    return systems;
  }
  const fs::path folder = fs::path(examplesDir) / "systems";
  if (!fs::is_directory(folder)) return systems;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().extension() == ".json") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::string units;
    RunnerNetwork network = io::ReadSystemFile(file.string(), units);
    systems.push_back({file.stem().string(), std::move(network), units});
  }
  return systems;
}

std::string DemoRow(const std::string& label, const SystemResult& r) {
  std::ostringstream out;
  out << std::left << std::setw(14) << io::detail::Printable(label) << std::right;
  if (!r.outcome.ok || r.status == kBadInput) return out.str() + "  not meshed\n";
  const vela::system::SystemCounts& c = r.outcome.counts;
  const MemoryMesh& mesh = r.volume;
  out << std::setw(10) << c.junctions << std::setw(6) << c.bends << std::setw(8) << c.runners << std::setw(8)
      << mesh.GetNodeCount() << std::setw(9) << mesh.GetElementCount() << std::setw(7)
      << mesh.CountOf(ElementKind::Tetra) << std::setw(8) << mesh.CountOf(ElementKind::Pyramid) << std::setw(7)
      << mesh.CountOf(ElementKind::Prism) << std::setw(7) << mesh.CountOf(ElementKind::Hexa) << std::setw(8)
      << r.outcome.mesh.patches.size() << std::setw(8) << std::fixed << std::setprecision(3)
      << quality::SmallestScaledJacobian(r.report) << std::setw(8) << WallPercent(r.wall) << "  "
      << (quality::HasFaults(r.report) || r.wallFault ? "yes" : "none") << "\n";
  return out.str();
}

}  // namespace

std::string SystemTableHeader() {
  std::ostringstream out;
  out << std::left << std::setw(14) << "system" << std::right << std::setw(10) << "junctions" << std::setw(6)
      << "bends" << std::setw(8) << "runners" << std::setw(8) << "nodes" << std::setw(9) << "elements"
      << std::setw(7) << "tetra" << std::setw(8) << "pyramid" << std::setw(7) << "prism" << std::setw(7) << "hexa"
      << std::setw(8) << "patches" << std::setw(8) << "min SJ" << std::setw(8) << "wall %" << "  faults\n";
  return out.str();
}

SystemRun MeshAndWriteSystem(const std::string& label, const RunnerNetwork& network, const std::string& units,
                             int threads, const std::vector<std::string>& outputs, const RunOptions& options,
                             std::ostream& err) {
  const SystemResult r = MeshAndWrite(network, units, threads, outputs, options, err, err);
  SystemRun run;
  run.status = r.status;
  run.row = DemoRow(label, r);
  if (r.outcome.ok && r.status != kBadInput) run.summary = SummaryJson(network, r);
  return run;
}

int RunSystem(const std::string& file, const std::vector<std::string>& outputs, int threads, std::ostream& out,
              std::ostream& err, const RunOptions& options) {
  std::string problem = LimitsProblem(options.limits);
  if (problem.empty()) problem = OutputsProblem(outputs, options);
  if (!problem.empty()) {
    err << problem << "\n";
    return kBadInput;
  }
  RunnerNetwork network;
  std::string units;
  if (const int status = ReadNetwork(file, network, units, err); status != kDone) return status;
  const SystemResult r = MeshAndWrite(network, units, threads, outputs, options, out, err);
  if (options.summary == SummaryStyle::Json && !r.outcome.ok && !r.outcome.refusal.reason.empty()) {
    out << RefusalJson(network, r.outcome.refusal, r.status).dump() << "\n";
    return r.status;
  }
  if (!r.outcome.ok || r.status == kBadInput || r.status == kWriteFailed) return r.status;
  if (options.summary == SummaryStyle::Json) out << SummaryJson(network, r).dump() << "\n";
  else if (options.summary == SummaryStyle::Text) PrintSummary(network, r, SummaryStream(outputs, out, err));
  return r.status;
}

int RunSystemDemo(const std::string& outDir, const std::string& examplesDir, std::ostream& out,
                  std::ostream& err, const RunOptions& given) {
  std::vector<DemoSystem> systems;
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
  out << "\n" << SystemTableHeader();
  // The rows are the progress: each is flushed as its system is done.
  RunOptions options;
  options.progress = false;
  options.limits = given.limits;
  options.maxWall = given.maxWall;
  options.asConstructed = given.asConstructed;
  int status = kDone;
  for (const DemoSystem& system : systems) {
    std::vector<std::string> outputs;
    for (const char* ext : {".mesh.json", ".vtu", ".msh", ".svg"})
      outputs.push_back((folder / (system.stem + ext)).string());
    const SystemRun run =
        MeshAndWriteSystem(system.network.name, system.network, system.units, 0, outputs, options, err);
    status = std::max(status, run.status);
    out << run.row << std::flush;
  }
  out << "files in " << folder.string() << "/: NAME.mesh.json, NAME.vtu, NAME.patches.vtu, NAME.msh, NAME.svg\n";
  return status;
}

}  // namespace vela::cli
