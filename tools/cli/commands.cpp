#include "commands.h"

#include "embedded_examples.h"
#include "file_text.h"
#include "junction_mesher.h"
#include "junction_call.h"
#include "picture.h"
#include "quality.h"
#include "refusal_line.h"
#include "system_command.h"

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

constexpr int kDone = 0;
constexpr int kWriteFailed = 1;
constexpr int kBadInput = 2;
constexpr int kFaults = 3;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool IsPicture(const std::string& path) { return Lower(fs::path(path).extension().string()) == ".svg"; }

// The output's format is known (a mesh format or a picture); otherwise a
// message naming it.
std::string CheckOutputName(const std::string& path) {
  if (IsPicture(path)) return "";
  try {
    io::MeshFormatFromPath(path);
    return "";
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
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

// Writes the mesh to every output; returns the first failure's message.
std::string WriteOutputs(const MeshedJunction& meshed, const quality::QualityReport& report,
                         const std::vector<std::string>& outputs, const picture::ViewOptions& view) {
  for (const std::string& path : outputs) {
    try {
      if (IsPicture(path))
        io::detail::WriteFileAtomically(path, picture::RenderSvg(meshed.document.mesh, view));
      else
        io::WriteMesh(path, meshed.document, report.scaledJacobian);
    } catch (const std::bad_alloc&) {
      throw;  // not the file's fault
    } catch (const std::exception& e) {
      return e.what();
    }
  }
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

struct JunctionResult {
  int status = kDone;
  MeshedJunction meshed;
  quality::QualityReport report;
};

// Meshes, checks and writes one junction; messages go to err. A junction too
// large for the memory is bad input, not a crash.
JunctionResult MeshAndWrite(const io::JunctionFile& junction, const std::vector<std::string>& outputs,
                            const ViewDirection& view, std::ostream& err) {
  JunctionResult r;
  const std::string name = io::detail::Printable(junction.name);
  try {
    r.meshed = MeshJunction(junction);
    r.status = WriteMeshed(junction, r.meshed, outputs, view, r.report, err);
  } catch (const std::bad_alloc&) {
    err << name << ": out of memory: the junction needs more memory than there is (first_circle_nodes "
        << junction.firstCircleNodes << ", " << junction.innerLayers.size() << " inner_layers, "
        << junction.outerLayers.size() << " outer_layers)\n";
    r.status = kBadInput;
  } catch (const std::exception& e) {
    err << name << ": cannot mesh the junction: " << e.what() << "\n";
    r.status = kBadInput;
  }
  return r;
}

// Whether the files were written: always, unless the library's coordinates
// were not finite.
bool Written(const JunctionResult& r) {
  return r.report.Count(quality::Fault::NonFiniteNode) == 0 && NonFiniteFarNodes(r.meshed.document).empty();
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

}  // namespace

int WriteMeshed(const io::JunctionFile& junction, const MeshedJunction& meshed,
                const std::vector<std::string>& outputs, const ViewDirection& view,
                quality::QualityReport& report, std::ostream& err) {
  if (!meshed.ok) {
    err << RefusalLine(junction, meshed.refusal) << "\n";
    return kBadInput;
  }
  const std::string name = io::detail::Printable(junction.name);
  report = quality::Assess(meshed.document.mesh, quality::DefaultTolerance(meshed.document.mesh));
  const std::string farNodes = NonFiniteFarNodes(meshed.document);
  if (!farNodes.empty() || report.Count(quality::Fault::NonFiniteNode) > 0) {
    // A fault of the library, not of the disk: no format can hold these.
    err << name << ": the library's mesh holds coordinates that are not finite; nothing was written:\n"
        << (farNodes.empty() ? "" : farNodes + "\n") << quality::DescribeFaults(report);
    return kFaults;
  }
  const std::string failure = WriteOutputs(meshed, report, outputs, PictureView(view, junction.name));
  if (!failure.empty()) {
    err << failure << "\n";
    return kWriteFailed;
  }
  if (quality::HasFaults(report)) {
    err << name << ": the mesh has faults:\n" << quality::DescribeFaults(report);
    return kFaults;
  }
  return kDone;
}

int RunJunction(const std::string& file, const std::vector<std::string>& outputs, const ViewDirection& view,
                std::ostream& out, std::ostream& err) {
  if (const std::string problem = ViewProblem(view); !problem.empty()) {
    err << problem << "\n";
    return kBadInput;
  }
  for (const std::string& path : outputs) {
    const std::string problem = CheckOutputName(path);
    if (!problem.empty()) {
      err << problem << "\n";
      return kBadInput;
    }
  }
  io::JunctionFile junction;
  if (const int status = ReadJunction(file, junction, err); status != kDone) return status;
  const JunctionResult r = MeshAndWrite(junction, outputs, view, err);
  if (r.status == kBadInput || r.status == kWriteFailed) return r.status;

  const MemoryMesh& mesh = r.meshed.document.mesh;
  out << io::detail::Printable(junction.name) << ": " << (junction.IsBend() ? "bend" : "N-way junction") << " of "
      << junction.RunnerCount() << " runners\n"
      << "  nodes     " << r.meshed.nodesBeforeMerge << " before merging, " << mesh.GetNodeCount() << " after\n"
      << "  elements  " << mesh.GetElementCount() << ": " << KindCounts(mesh) << "\n"
      << "  " << quality::SummaryLine(r.report) << "\n";
  if (Written(r)) for (const std::string& path : outputs) out << "  wrote " << path << "\n";
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

int RunCheck(const std::string& meshFile, std::optional<double> mergeTol, std::ostream& out, std::ostream& err) {
  if (mergeTol && !(std::isfinite(*mergeTol) && *mergeTol >= 0.0)) {
    err << "--tol: expected a distance of 0 or more, got " << *mergeTol << "\n";
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
  const quality::QualityReport report = quality::Assess(mesh, mergeTol ? *mergeTol : quality::DefaultTolerance(mesh));
  out << io::detail::Printable(meshFile) << ": " << document.kind << " mesh, " << mesh.GetNodeCount() << " nodes, "
      << mesh.GetElementCount() << " elements\n\n"
      << quality::ReportTable(report);
  if (quality::HasFaults(report)) {
    err << io::detail::Printable(meshFile) << ": the mesh has faults:\n" << quality::DescribeFaults(report);
    return kFaults;
  }
  return kDone;
}

int RunDemo(const std::string& outDir, const std::string& examplesDir, const ViewDirection& view,
            std::ostream& out, std::ostream& err) {
  if (const std::string problem = ViewProblem(view); !problem.empty()) {
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
  std::error_code made;
  fs::create_directories(outDir, made);
  if (made) {
    err << io::detail::Printable(outDir) << ": cannot create the folder (" << made.message() << ")\n";
    return kWriteFailed;
  }

  int status = kDone;
  out << std::left << std::setw(18) << "junction" << std::setw(6) << "kind" << std::right << std::setw(8)
      << "runners" << std::setw(9) << "nodes" << std::setw(10) << "elements" << std::setw(7) << "tetra"
      << std::setw(8) << "pyramid" << std::setw(7) << "prism" << std::setw(7) << "hexa" << std::setw(9)
      << "min SJ" << "  faults\n";
  for (const auto& [stem, junction] : junctions) {
    std::vector<std::string> outputs;
    for (const char* ext : {".mesh.json", ".vtu", ".msh", ".svg"})
      outputs.push_back((fs::path(outDir) / (stem + ext)).string());
    const JunctionResult r = MeshAndWrite(junction, outputs, view, err);
    status = std::max(status, r.status);
    out << std::left << std::setw(18) << io::detail::Printable(junction.name) << std::setw(6)
        << (junction.IsBend() ? "bend" : "nway") << std::right << std::setw(8) << junction.RunnerCount();
    if (r.status == kBadInput || r.status == kWriteFailed || !Written(r)) {
      out << (r.status == kFaults ? "  not written\n" : "  not meshed\n");
      continue;
    }
    const MemoryMesh& mesh = r.meshed.document.mesh;
    double minSj = 1.0;
    for (double v : r.report.scaledJacobian) minSj = std::min(minSj, v);  // all finite: Written(r)
    out << std::setw(9) << mesh.GetNodeCount() << std::setw(10) << mesh.GetElementCount() << std::setw(7)
        << mesh.CountOf(ElementKind::Tetra) << std::setw(8) << mesh.CountOf(ElementKind::Pyramid) << std::setw(7)
        << mesh.CountOf(ElementKind::Prism) << std::setw(7) << mesh.CountOf(ElementKind::Hexa) << std::setw(9)
        << std::fixed << std::setprecision(3) << minSj << std::defaultfloat << "  "
        << (quality::HasFaults(r.report) ? "yes" : "none") << "\n";
  }
  out << "files in " << outDir << "/: NAME.mesh.json, NAME.vtu, NAME.msh, NAME.svg\n";
  return std::max(status, RunSystemDemo(outDir, examplesDir, out, err));
}

}  // namespace vela::cli
