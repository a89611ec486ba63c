#include "commands.h"

#include "embedded_examples.h"
#include "file_text.h"
#include "junction_boundary.h"
#include "junction_call.h"
#include "length_unit.h"
#include "junction_mesher.h"
#include "picture.h"
#include "quality.h"
#include "quality_json.h"
#include "refusal_text.h"
#include "system_command.h"
#include "system_mesh_file.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iomanip>
#include <new>
#include <ostream>
#include <sstream>

namespace vela::cli {

namespace {

namespace fs = std::filesystem;

// The junction's runners as machined, from the centre to each far point
// where the library meshes them (placed as the file asks).
std::vector<quality::MachinedRunner> ChannelOf(const io::JunctionFile& junction) {
  const JunctionInput input = host::InputOf(junction);
  std::vector<quality::MachinedRunner> channel;
  for (size_t i = 0; i < input.farPoints.size() && 2 * i + 1 < input.radii.size(); ++i)
    channel.push_back({input.center, input.farPoints[i], input.radii[2 * i + 1], input.radii[2 * i]});
  return channel;
}

// A view angle that is not finite would fill the picture with "nan".
std::string ViewProblem(const ViewDirection& view) {
  for (const auto& [option, value] : {std::pair{"--azimuth", view.azimuthDeg}, {"--elevation", view.elevationDeg}})
    if (!std::isfinite(value)) {
      std::ostringstream s;
      s << option << ": expected a finite angle in degrees, got " << value;
      return s.str();
    }
  return "";
}

picture::ViewOptions PictureView(const ViewDirection& view, const std::string& title) {
  picture::ViewOptions options;
  options.azimuthDeg = view.azimuthDeg;
  options.elevationDeg = view.elevationDeg;
  options.title = title;
  return options;
}

std::string KindCounts(const MemoryMesh& mesh) {
  std::ostringstream s;
  s << mesh.CountOf(ElementKind::Tetra) << " tetra, " << mesh.CountOf(ElementKind::Pyramid) << " pyramid, "
    << mesh.CountOf(ElementKind::Prism) << " prism, " << mesh.CountOf(ElementKind::Hexa) << " hexa";
  return s.str();
}

// The document with every length in the output's unit: the same one when
// that is the file's.
io::MeshDocument InUnits(const io::MeshDocument& document, const std::string& from, const std::string& to) {
  io::MeshDocument scaled = document;
  const double factor = io::UnitFactor(from, to);
  if (factor == 1.0) return scaled;
  for (auto& p : scaled.mesh.nodes)
    for (double& x : p) x *= factor;
  for (auto& p : scaled.farNodes)
    for (double& x : p) x *= factor;
  return scaled;
}

// The text of one output: the picture, or the mesh in its format.
std::string OutputText(const io::MeshDocument& document, const quality::QualityReport& report,
                       const std::string& extension, const io::WriteOptions& write, const RunOptions& options,
                       const std::string& title) {
  if (extension == ".svg") return picture::RenderSvg(document.mesh, PictureView(options.view, title));
  return io::FormatMesh(document, io::MeshFormatFromPath("mesh" + extension), report.scaledJacobian, write);
}

// Writes the mesh to every output, "-" to data, an OpenFOAM case into its
// folder; returns the first failure's message. A run that has taken over a
// second shows each output as progress.
std::string WriteOutputs(const MeshedJunction& meshed, const quality::QualityReport& report,
                         const std::vector<std::string>& outputs, const RunOptions& options,
                         const std::string& title, const std::string& fileUnits, std::ostream& data,
                         Progress& progress) {
  for (size_t i = 0; i < outputs.size(); ++i) {
    progress.Show("writing the outputs", static_cast<int>(i), static_cast<int>(outputs.size()));
    try {
      io::WriteOptions write = options.write;
      write.units = OutputUnits(outputs[i], fileUnits, options);
      const io::MeshDocument document = InUnits(meshed.document, fileUnits, write.units);
      if (IsCaseFolder(outputs[i], options)) {
        io::WriteFoamCase(outputs[i], io::JunctionSystemMesh(document), title, write);
        continue;
      }
      const std::string text = OutputText(document, report, OutputExtension(outputs[i], options), write, options, title);
      if (IsStandardOutput(outputs[i])) data << text << std::flush;
      else io::detail::WriteFileAtomically(outputs[i], text);
    } catch (const std::bad_alloc&) {
      throw;  // not the file's fault
    } catch (const std::exception& e) {
      return e.what();
    }
  }
  progress.Show("writing the outputs", static_cast<int>(outputs.size()), static_cast<int>(outputs.size()));
  return "";
}

// Far nodes that are not finite, as "non-finite far nodes 1: 2", or "".
std::string NonFiniteFarNodes(const io::MeshDocument& document) {
  std::vector<size_t> bad;
  for (size_t i = 0; i < document.farNodes.size(); ++i)
    if (!std::all_of(document.farNodes[i].begin(), document.farNodes[i].end(), [](double v) { return std::isfinite(v); }))
      bad.push_back(i);
  if (bad.empty()) return "";
  std::string text = "non-finite far nodes " + std::to_string(bad.size()) + ":";
  for (size_t i = 0; i < bad.size() && i < quality::kNamedPerFault; ++i) text += (i ? ", " : " ") + std::to_string(bad[i]);
  return text;
}

// Whether the files were written: always, once the library's answer was
// checked, unless its coordinates were not finite.
bool Written(const JunctionRun& r) {
  return (r.status == kDone || r.status == kFaults) && r.report.Count(quality::Fault::NonFiniteNode) == 0 &&
         NonFiniteFarNodes(r.meshed.document).empty();
}

int ReadJunction(const std::string& file, io::JunctionFile& junction, std::ostream& err) {
  try {
    junction = io::ReadJunctionFile(file);
    return kDone;
  } catch (const io::JunctionFileError& e) {
    err << e.what() << "\n";
    return kBadInput;
  }
}

int WriteChecked(const io::JunctionFile& junction, const MeshedJunction& meshed,
                 const std::vector<std::string>& outputs, const RunOptions& options,
                 quality::QualityReport& report, std::ostream& data, std::ostream& err, Progress& progress) {
  if (!meshed.ok) {
    err << host::RefusalLine(junction, meshed.refusal) << "\n";
    return kBadInput;
  }
  const std::string name = io::detail::Printable(junction.name);
  report = quality::Assess(meshed.document.mesh, quality::DefaultTolerance(meshed.document.mesh), options.limits);
  const std::string farNodes = NonFiniteFarNodes(meshed.document);
  if (!farNodes.empty() || report.Count(quality::Fault::NonFiniteNode) > 0) {
    // A fault of the library, not of the disk: no format can hold these.
    err << name << ": the library's mesh holds coordinates that are not finite; nothing was written:\n"
        << (farNodes.empty() ? "" : farNodes + "\n") << quality::DescribeFaults(report);
    return kFaults;
  }
  const std::string failure =
      WriteOutputs(meshed, report, outputs, options, junction.name, junction.units, data, progress);
  if (!failure.empty()) {
    err << failure << "\n";
    return kWriteFailed;
  }
  if (quality::HasFaults(report)) {
    err << name << ": the mesh has faults:\n" << quality::DescribeFaults(report);
    // Poor cells that the section brings to every runner end are not the
    // junction's to mend: the user changes the section, not the runners.
    if (report.Count(quality::Fault::PoorCell) > 0)
      err << SectionFloorLine(junction, options.limits.minScaledJacobian);
    return kFaults;
  }
  return kDone;
}

void PrintJunctionSummary(const io::JunctionFile& junction, const JunctionRun& r,
                          const std::vector<std::string>& outputs, std::ostream& out) {
  const MemoryMesh& mesh = r.meshed.document.mesh;
  out << io::detail::Printable(junction.name) << ": " << (junction.IsBend() ? "bend" : "N-way junction") << " of "
      << junction.RunnerCount() << " runners\n"
      << "  nodes     " << r.meshed.nodesBeforeMerge << " before merging, " << mesh.GetNodeCount() << " after\n"
      << "  elements  " << mesh.GetElementCount() << ": " << KindCounts(mesh) << "\n"
      << "  " << quality::SummaryLine(r.report) << "\n"
      << "  " << WallLine(r.wall) << "\n"
      << "  coincident nodes: within " << std::setprecision(3) << r.report.mergeTol
      << " on every axis, as check takes by default\n"
      << std::setprecision(6);
  if (Written(r))
    for (const std::string& path : outputs)
      if (!IsStandardOutput(path)) out << "  wrote " << path << "\n";
}

}  // namespace

int WriteMeshed(const io::JunctionFile& junction, const MeshedJunction& meshed,
                const std::vector<std::string>& outputs, const RunOptions& options,
                quality::QualityReport& report, std::ostream& data, std::ostream& err) {
  Progress progress(err, options.progress, options.progressAfter);
  return WriteChecked(junction, meshed, outputs, options, report, data, err, progress);
}

JunctionRun MeshAndWriteJunction(const io::JunctionFile& junction, const std::vector<std::string>& outputs,
                                 const RunOptions& options, std::ostream& data, std::ostream& err) {
  JunctionRun r;
  const std::string name = io::detail::Printable(junction.name);
  try {
    Progress progress(err, options.progress, options.progressAfter);
    r.meshed = MeshJunction(junction, options.memoryLimit, options.asConstructed);
    r.status = WriteChecked(junction, r.meshed, outputs, options, r.report, data, err, progress);
    if (r.meshed.ok) r.wall = quality::AssessWall(r.meshed.document.mesh, ChannelOf(junction));
    r.wallFault = r.meshed.ok && WallOutside(r.wall, options);
    if (r.wallFault && r.status == kDone) {
      err << name << ": the mesh has faults:\n" << WallFault(r.wall, options);
      r.status = kFaults;
    }
  } catch (const std::bad_alloc&) {
    err << name << ": out of memory: the junction needs more memory than there is (first_circle_nodes "
        << junction.firstCircleNodes << ", " << junction.innerLayers.size() << " inner_layers, "
        << junction.outerLayers.size() << " outer_layers)\n";
    r.status = kBadInput;
  } catch (const std::exception& e) {
    err << name << ": cannot mesh the junction: " << e.what() << "\n";
    r.status = kBadInput;
  }
  r.written = Written(r);
  return r;
}

std::string JunctionTableHeader() {
  std::ostringstream s;
  s << std::left << std::setw(18) << "junction" << std::setw(6) << "kind" << std::right << std::setw(8) << "runners"
    << std::setw(9) << "nodes" << std::setw(10) << "elements" << std::setw(7) << "tetra" << std::setw(8)
    << "pyramid" << std::setw(7) << "prism" << std::setw(7) << "hexa" << std::setw(9) << "min SJ" << std::setw(8)
    << "wall %" << "  faults\n";
  return s.str();
}

std::string JunctionTableRow(const std::string& label, const io::JunctionFile& junction, const JunctionRun& r) {
  std::ostringstream s;
  s << std::left << std::setw(18) << io::detail::Printable(label) << std::setw(6)
    << (junction.IsBend() ? "bend" : "nway") << std::right << std::setw(8) << junction.RunnerCount();
  if (!r.written) {
    s << (r.status == kFaults ? "  not written\n" : "  not meshed\n");
    return s.str();
  }
  const MemoryMesh& mesh = r.meshed.document.mesh;
  s << std::setw(9) << mesh.GetNodeCount() << std::setw(10) << mesh.GetElementCount() << std::setw(7)
    << mesh.CountOf(ElementKind::Tetra) << std::setw(8) << mesh.CountOf(ElementKind::Pyramid) << std::setw(7)
    << mesh.CountOf(ElementKind::Prism) << std::setw(7) << mesh.CountOf(ElementKind::Hexa) << std::setw(9)
    << std::fixed << std::setprecision(3) << quality::SmallestScaledJacobian(r.report) << std::setw(8)
    << WallPercent(r.wall) << "  " << (quality::HasFaults(r.report) || r.wallFault ? "yes" : "none") << "\n";
  return s.str();
}

nlohmann::ordered_json RefusalJson(const io::JunctionFile& junction, const JunctionRefusal& why, int status) {
  auto measure = [](double v) { return std::isnan(v) ? nlohmann::ordered_json() : nlohmann::ordered_json(v); };
  auto runner = [](int i) { return i < 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(i); };
  return {{"name", junction.name},
          {"status", status},
          {"refusal",
           {{"reason", RefusalName(why.reason)},
            {"runner", runner(why.runner)},
            {"other_runner", runner(why.otherRunner)},
            {"value", measure(why.value)},
            {"limit", measure(why.limit)},
            {"unit", host::UnitName(why.unit) ? nlohmann::ordered_json(host::UnitName(why.unit))
                                              : nlohmann::ordered_json()},
            {"message", host::RefusalLine(junction, why)}}}};
}

nlohmann::ordered_json JunctionSummaryJson(const io::JunctionFile& junction, const JunctionRun& r,
                                           const std::vector<std::string>& outputs) {
  const MemoryMesh& mesh = r.meshed.document.mesh;
  nlohmann::ordered_json written = nlohmann::ordered_json::array();
  if (r.written)
    for (const std::string& path : outputs)
      if (!IsStandardOutput(path)) written.push_back(path);
  return {{"name", junction.name},
          {"kind", junction.IsBend() ? "bend" : "nway"},
          {"runners", junction.RunnerCount()},
          {"status", r.status},
          {"nodes_before_merging", r.meshed.nodesBeforeMerge},
          {"nodes", mesh.GetNodeCount()},
          {"elements", mesh.GetElementCount()},
          {"by_kind", ByKindJson(mesh)},
          {"quality", quality::QualityJson(r.report)},
          {"wall", WallJson(r.wall)},
          {"written", written}};
}

int RunJunction(const std::string& file, const std::vector<std::string>& outputs, const RunOptions& options,
                std::ostream& out, std::ostream& err) {
  std::string problem = ViewProblem(options.view);
  if (problem.empty()) problem = LimitsProblem(options.limits);
  if (problem.empty()) problem = OutputsProblem(outputs, options);
  if (!problem.empty()) {
    err << problem << "\n";
    return kBadInput;
  }
  io::JunctionFile junction;
  if (const int status = ReadJunction(file, junction, err); status != kDone) return status;
  const JunctionRun r = MeshAndWriteJunction(junction, outputs, options, out, err);
  // A script asking for JSON reads why the library refused from standard
  // output too, not only the line on standard error.
  if (options.summary == SummaryStyle::Json && !r.meshed.ok && r.meshed.refusal.reason != Refusal::None) {
    out << RefusalJson(junction, r.meshed.refusal, r.status).dump() << "\n";
    return r.status;
  }
  if (r.status == kBadInput || r.status == kWriteFailed) return r.status;
  if (options.summary == SummaryStyle::Json)
    out << JunctionSummaryJson(junction, r, outputs).dump() << "\n";
  else if (options.summary == SummaryStyle::Text)
    PrintJunctionSummary(junction, r, outputs, SummaryStream(outputs, out, err));
  return r.status;
}

int RunLength(const std::string& file, bool json, std::ostream& out, std::ostream& err) {
  io::JunctionFile junction;
  if (const int status = ReadJunction(file, junction, err); status != kDone) return status;
  if (junction.margin[1] == 0) {
    err << io::detail::Printable(file) << ": margin: the divisor (second number) must not be 0\n";
    return kBadInput;
  }
  const std::vector<double> lengths = host::RunnerLengths(junction);
  if (json) {
    std::string text = "{\"lengths\": [";
    for (size_t i = 0; i < lengths.size(); ++i) {
      if (i) text += ", ";
      if (std::isfinite(lengths[i])) io::detail::AppendDouble(text, lengths[i]);
      else text += "null";  // JSON has no infinity: a runner that is its own neighbour
    }
    out << text << "]}\n";
    return kDone;
  }
  out << std::left << std::setw(8) << "runner" << std::right << std::setw(12) << "far radius" << std::setw(14)
      << "length" << "\n";
  for (size_t i = 0; i < lengths.size(); ++i)
    out << std::left << std::setw(8) << i << std::right << std::setw(12) << junction.radii[2 * i] << std::setw(14)
        << std::setprecision(6) << lengths[i] << "\n";
  return kDone;
}

int RunCheck(const std::string& meshFile, std::optional<double> mergeTol, SummaryStyle summary, std::ostream& out,
             std::ostream& err, const quality::Limits& limits) {
  if (mergeTol && !(std::isfinite(*mergeTol) && *mergeTol >= 0.0)) {
    err << "--tol: expected a distance of 0 or more, got " << *mergeTol << "\n";
    return kBadInput;
  }
  if (const std::string problem = LimitsProblem(limits); !problem.empty()) {
    err << problem << "\n";
    return kBadInput;
  }
  io::MeshDocument document;
  try {
    document = io::ReadMesh(meshFile);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kBadInput;
  }
  const MemoryMesh& mesh = document.mesh;
  const quality::QualityReport report =
      quality::Assess(mesh, mergeTol ? *mergeTol : quality::DefaultTolerance(mesh), limits);
  if (summary == SummaryStyle::Json)
    out << nlohmann::ordered_json{{"file", meshFile}, {"kind", document.kind}, {"nodes", mesh.GetNodeCount()},
                                  {"elements", mesh.GetElementCount()}, {"quality", quality::QualityJson(report)}}
               .dump()
        << "\n";
  else if (summary == SummaryStyle::Text)
    out << io::detail::Printable(meshFile) << ": " << (document.kind.empty() ? "" : document.kind + " ")
        << "mesh, " << mesh.GetNodeCount() << " nodes, " << mesh.GetElementCount() << " elements\n\n"
        << quality::ReportTable(report);
  if (quality::HasFaults(report)) {
    err << io::detail::Printable(meshFile) << ": the mesh has faults:\n" << quality::DescribeFaults(report);
    return kFaults;
  }
  return kDone;
}

int RunDemo(const std::string& outDir, const std::string& examplesDir, const RunOptions& given, std::ostream& out,
            std::ostream& err) {
  std::string problem = ViewProblem(given.view);
  if (problem.empty()) problem = LimitsProblem(given.limits);
  if (!problem.empty()) {
    err << problem << "\n";
    return kBadInput;
  }
  // Each junction with the stem of its files: the example's or the file's
  // own name, never the "name" key, which could lead out of outDir.
  std::vector<std::pair<std::string, io::JunctionFile>> junctions;
  try {
    if (examplesDir.empty()) {
      for (const EmbeddedExample& example : EmbeddedExamples())
        junctions.emplace_back(example.name, io::ParseJunction(example.text, example.name));
    } else {
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(examplesDir))
        if (entry.path().extension() == ".json") files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const fs::path& file : files)
        junctions.emplace_back(file.stem().string(), io::ReadJunctionFile(file.string()));
    }
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kBadInput;
  }
  if (!MakeFolder(outDir, err)) return kWriteFailed;

  // Each row is flushed as its junction is done: the table is the progress.
  RunOptions options;
  options.view = given.view;
  options.progress = false;
  options.limits = given.limits;
  options.maxWall = given.maxWall;
  options.asConstructed = given.asConstructed;
  int status = kDone;
  out << JunctionTableHeader();
  for (const auto& [stem, junction] : junctions) {
    std::vector<std::string> outputs;
    for (const char* ext : {".mesh.json", ".vtu", ".msh", ".svg"})
      outputs.push_back((fs::path(outDir) / (stem + ext)).string());
    const JunctionRun r = MeshAndWriteJunction(junction, outputs, options, out, err);
    status = std::max(status, r.status);
    out << JunctionTableRow(junction.name, junction, r) << std::flush;
  }
  out << "files in " << outDir << "/: NAME.mesh.json, NAME.vtu, NAME.msh, NAME.svg\n";
  return std::max(status, RunSystemDemo(outDir, examplesDir, out, err, options));
}

}  // namespace vela::cli
