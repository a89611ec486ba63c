#include "Commands.h"

#include "EmbeddedExamples.h"
#include "FileText.h"
#include "JunctionMesher.h"
#include "Picture.h"
#include "Quality.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iomanip>
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
    } catch (const std::exception& e) {
      return e.what();
    }
  }
  return "";
}

struct JunctionResult {
  int status = kDone;
  MeshedJunction meshed;
  quality::QualityReport report;
};

// Reads, meshes, checks and writes one junction; messages go to err.
JunctionResult MeshAndWrite(const io::JunctionFile& junction, const std::vector<std::string>& outputs,
                            const ViewDirection& view, std::ostream& err) {
  JunctionResult r;
  r.meshed = MeshJunction(junction);
  if (!r.meshed.ok) {
    err << junction.name << ": the library refused the junction (check the shares, radii, layer lists, "
        << "first-ring node count and the runners' directions)\n";
    r.status = kBadInput;
    return r;
  }
  r.report = quality::Assess(r.meshed.document.mesh, r.meshed.mergeTol);
  const std::string failure = WriteOutputs(r.meshed, r.report, outputs, PictureView(view, junction.name));
  if (!failure.empty()) {
    err << failure << "\n";
    r.status = kWriteFailed;
    return r;
  }
  if (quality::HasFaults(r.report)) {
    err << junction.name << ": the mesh has faults:\n" << quality::DescribeFaults(r.report);
    r.status = kFaults;
  }
  return r;
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

int RunJunction(const std::string& file, const std::vector<std::string>& outputs, const ViewDirection& view,
                std::ostream& out, std::ostream& err) {
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
  out << junction.name << ": " << (junction.IsBend() ? "bend" : "N-way junction") << " of "
      << junction.RunnerCount() << " runners\n"
      << "  nodes     " << r.meshed.nodesBeforeMerge << " before merging, " << mesh.GetNodeCount() << " after\n"
      << "  elements  " << mesh.GetElementCount() << ": " << KindCounts(mesh) << "\n"
      << "  " << quality::SummaryLine(r.report) << "\n";
  for (const std::string& path : outputs) out << "  wrote " << path << "\n";
  return r.status;
}

int RunLength(const std::string& file, bool json, std::ostream& out, std::ostream& err) {
  io::JunctionFile junction;
  if (const int status = ReadJunction(file, junction, err); status != kDone) return status;
  if (junction.margin[1] == 0) {
    err << file << ": margin: the divisor (second number) must not be 0\n";
    return kBadInput;
  }
  const std::vector<double> lengths = RunnerLengths(junction);
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

int RunCheck(const std::string& meshFile, double mergeTol, std::ostream& out, std::ostream& err) {
  io::MeshDocument document;
  try {
    document = io::ReadMesh(meshFile);
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kBadInput;
  }
  const MemoryMesh& mesh = document.mesh;
  if (!(mergeTol > 0.0)) {
    // Without the junction at hand, a millionth of the mesh's size stands
    // for "the same point".
    std::array<double, 3> lo{}, hi{};
    for (size_t i = 0; i < mesh.nodes.size(); ++i)
      for (size_t k = 0; k < 3; ++k) {
        lo[k] = i ? std::min(lo[k], mesh.nodes[i][k]) : mesh.nodes[i][k];
        hi[k] = i ? std::max(hi[k], mesh.nodes[i][k]) : mesh.nodes[i][k];
      }
    mergeTol = 1e-6 * std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                                (hi[2] - lo[2]) * (hi[2] - lo[2]));
  }
  const quality::QualityReport report = quality::Assess(mesh, mergeTol);
  out << meshFile << ": " << document.kind << " mesh, " << mesh.GetNodeCount() << " nodes, "
      << mesh.GetElementCount() << " elements\n\n"
      << quality::ReportTable(report);
  if (quality::HasFaults(report)) {
    err << meshFile << ": the mesh has faults:\n" << quality::DescribeFaults(report);
    return kFaults;
  }
  return kDone;
}

int RunDemo(const std::string& outDir, const std::string& examplesDir, const ViewDirection& view,
            std::ostream& out, std::ostream& err) {
  std::vector<io::JunctionFile> junctions;
  try {
    if (examplesDir.empty()) {
      for (const EmbeddedExample& example : EmbeddedExamples())
        junctions.push_back(io::ParseJunction(example.text, example.name));
    } else {
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(examplesDir))
        if (entry.path().extension() == ".json") files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const fs::path& file : files) junctions.push_back(io::ReadJunctionFile(file.string()));
    }
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kBadInput;
  }
  std::error_code made;
  fs::create_directories(outDir, made);
  if (made) {
    err << outDir << ": cannot create the folder (" << made.message() << ")\n";
    return kWriteFailed;
  }

  int status = kDone;
  out << std::left << std::setw(18) << "junction" << std::setw(6) << "kind" << std::right << std::setw(8)
      << "runners" << std::setw(9) << "nodes" << std::setw(10) << "elements" << std::setw(7) << "tetra"
      << std::setw(8) << "pyramid" << std::setw(7) << "prism" << std::setw(7) << "hexa" << std::setw(9)
      << "min SJ" << "  faults\n";
  for (const io::JunctionFile& junction : junctions) {
    std::vector<std::string> outputs;
    for (const char* ext : {".mesh.json", ".vtu", ".msh", ".svg"})
      outputs.push_back((fs::path(outDir) / (junction.name + ext)).string());
    const JunctionResult r = MeshAndWrite(junction, outputs, view, err);
    status = std::max(status, r.status);
    out << std::left << std::setw(18) << junction.name << std::setw(6)
        << (junction.IsBend() ? "bend" : "nway") << std::right << std::setw(8) << junction.RunnerCount();
    if (r.status == kBadInput || r.status == kWriteFailed) {
      out << "  not meshed\n";
      continue;
    }
    const MemoryMesh& mesh = r.meshed.document.mesh;
    double minSj = 1.0;
    for (double v : r.report.scaledJacobian) minSj = std::min(minSj, v);
    out << std::setw(9) << mesh.GetNodeCount() << std::setw(10) << mesh.GetElementCount() << std::setw(7)
        << mesh.CountOf(ElementKind::Tetra) << std::setw(8) << mesh.CountOf(ElementKind::Pyramid) << std::setw(7)
        << mesh.CountOf(ElementKind::Prism) << std::setw(7) << mesh.CountOf(ElementKind::Hexa) << std::setw(9)
        << std::fixed << std::setprecision(3) << minSj << std::defaultfloat << "  "
        << (quality::HasFaults(r.report) ? "yes" : "none") << "\n";
  }
  out << "files in " << outDir << "/: NAME.mesh.json, NAME.vtu, NAME.msh, NAME.svg\n";
  return status;
}

}  // namespace vela::cli
