#include "mesh_file.h"

#include "file_text.h"
#include "length_unit.h"
#include "mesh_formats.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <set>

namespace vela::io {

bool detail::KindFromType(long long type, int (*typeOf)(ElementKind), ElementKind& kind) {
  for (ElementKind k :
       {ElementKind::Tetra, ElementKind::Pyramid, ElementKind::Prism, ElementKind::Hexa}) {
    if (typeOf(k) == type) {
      kind = k;
      return true;
    }
  }
  return false;
}

namespace {

bool IsFinite(const std::array<double, 3>& p) {
  return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

bool IsKnownKind(ElementKind kind) {
  return kind == ElementKind::Tetra || kind == ElementKind::Pyramid || kind == ElementKind::Prism ||
         kind == ElementKind::Hexa;
}

// What is wrong with the junction kind and far nodes, or "" when nothing is.
// A system's volume .vtu reads as kind "system", so that check can say what
// it holds; the junction writers cannot write a system (its regions and
// patches are the system writers' to keep), so writing refuses it.
enum class KindUse { Reading, Writing };
std::string KindProblem(const MeshDocument& document, KindUse use) {
  if (use == KindUse::Reading && document.kind == "system") {
    if (document.farNodes.empty()) return "";
    return "a runner system has no far nodes, but there are " + std::to_string(document.farNodes.size());
  }
  if (document.kind != "nway" && document.kind != "bend" && !document.kind.empty())
    return "junction kind must be \"nway\", \"bend\" or empty, got " +
           detail::Quote(document.kind);
  // Far nodes belong to an N-way junction; a mesh of unknown kind (read from
  // another program's file) has none to keep.
  if (document.kind != "nway" && !document.farNodes.empty())
    return (document.kind.empty() ? std::string("a mesh of unknown kind") : "a bend") +
           " has no far nodes, but there are " + std::to_string(document.farNodes.size());
  return "";
}

void CheckPatches(const MeshDocument& document) {
  std::set<std::string> seen;
  for (size_t p = 0; p < document.patches.size(); ++p) {
    const std::string where = "patch " + std::to_string(p) + " \"" + detail::Printable(document.patches[p]) + "\"";
    if (const std::string problem = detail::NameProblem(document.patches[p]); !problem.empty())
      throw std::invalid_argument(where + ": " + problem);
    if (!seen.insert(document.patches[p]).second) throw std::invalid_argument(where + ": named twice");
  }
  const size_t nodeCount = document.mesh.nodes.size();
  for (size_t f = 0; f < document.faces.size(); ++f) {
    const PatchFace& face = document.faces[f];
    const std::string where = "face " + std::to_string(f);
    if (face.corners != 3 && face.corners != 4)
      throw std::invalid_argument(where + " has " + std::to_string(face.corners) + " corners; a boundary face has 3 or 4");
    for (int c = 0; c < face.corners; ++c) {
      const int node = face.nodes[static_cast<size_t>(c)];
      if (node < 0 || static_cast<size_t>(node) >= nodeCount)
        throw std::invalid_argument(where + " corner " + std::to_string(c) + " refers to node " +
                                    std::to_string(node) + ", outside 0.." + std::to_string(nodeCount) + "-1");
    }
    if (face.patch < 0 || static_cast<size_t>(face.patch) >= document.patches.size())
      throw std::invalid_argument(where + "'s patch is " + std::to_string(face.patch) + ", outside the " +
                                  std::to_string(document.patches.size()) + " patches");
  }
}

// Everything a writer relies on. A file that silently differed from the mesh
// in memory would defeat the point of writing it, so every doubt is an error.
void CheckWritable(const MeshDocument& document, const std::vector<double>& scaledJacobian,
                   const WriteOptions& options) {
  if (!options.units.empty() && MetresPerUnit(options.units) == 0.0)
    throw std::invalid_argument("unknown length unit \"" + detail::Printable(options.units) + "\" (use " +
                                kUnitNames + ")");
  if (const std::string problem = KindProblem(document, KindUse::Writing); !problem.empty())
    throw std::invalid_argument(problem);
  for (size_t i = 0; i < document.farNodes.size(); ++i)
    if (!IsFinite(document.farNodes[i]))
      throw std::invalid_argument("far node " + std::to_string(i) + " is not finite");

  const std::vector<std::array<double, 3>>& nodes = document.mesh.nodes;
  for (size_t i = 0; i < nodes.size(); ++i)
    if (!IsFinite(nodes[i]))
      throw std::invalid_argument("node " + std::to_string(i) +
                                  " has a coordinate that is not finite");

  const std::vector<MeshElement>& elements = document.mesh.elements;
  for (size_t e = 0; e < elements.size(); ++e) {
    if (!IsKnownKind(elements[e].kind))
      throw std::invalid_argument("element " + std::to_string(e) + " has no known kind");
    for (int c = 0; c < elements[e].CornerCount(); ++c) {
      const int node = elements[e].nodes[static_cast<size_t>(c)];
      if (node < 0 || static_cast<size_t>(node) >= nodes.size())
        throw std::invalid_argument("element " + std::to_string(e) + " corner " +
                                    std::to_string(c) + " refers to node " + std::to_string(node) +
                                    ", outside 0.." + std::to_string(nodes.size()) + "-1");
    }
  }

  CheckPatches(document);

  if (!scaledJacobian.empty() && scaledJacobian.size() != elements.size())
    throw std::invalid_argument("scaled Jacobian list holds " +
                                std::to_string(scaledJacobian.size()) + " values for " +
                                std::to_string(elements.size()) + " elements");
  for (size_t e = 0; e < scaledJacobian.size(); ++e)
    if (!std::isfinite(scaledJacobian[e]))
      throw std::invalid_argument("scaled Jacobian of element " + std::to_string(e) +
                                  " is not finite");
}

}  // namespace

MeshFormat MeshFormatFromPath(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".json") return MeshFormat::Json;
  if (extension == ".vtu") return MeshFormat::Vtu;
  if (extension == ".msh") return MeshFormat::Msh;
  const std::string shown = extension.empty() ? "no extension" : "extension '" + detail::Printable(extension) + "'";
  throw std::invalid_argument("mesh file '" + detail::Printable(path) + "': " + shown +
                              " is not a mesh format (use .json, .vtu or .msh)");
}

std::string FormatMesh(const MeshDocument& document, MeshFormat format,
                       const std::vector<double>& scaledJacobian, const WriteOptions& options) {
  CheckWritable(document, scaledJacobian, options);
  const Encoding encoding = options.encoding;
  switch (format) {
    case MeshFormat::Json: return detail::FormatJsonMesh(document, options.units);
    case MeshFormat::Vtu:
      return detail::FormatVtuMesh(document, scaledJacobian, encoding != Encoding::Ascii, options.units);
    case MeshFormat::Msh:
      return detail::FormatMshMesh(document, scaledJacobian, encoding == Encoding::Binary, options.units);
  }
  throw std::invalid_argument("unknown mesh format");
}

std::string FormatMesh(const MeshDocument& document, MeshFormat format,
                       const std::vector<double>& scaledJacobian) {
  return FormatMesh(document, format, scaledJacobian, WriteOptions{});
}

MeshDocument ParseMesh(const std::string& text, MeshFormat format) {
  MeshDocument document;
  switch (format) {
    case MeshFormat::Json: document = detail::ParseJsonMesh(text); break;
    case MeshFormat::Vtu: document = detail::ParseVtuMesh(text); break;
    case MeshFormat::Msh: document = detail::ParseMshMesh(text); break;
  }
  if (const std::string problem = KindProblem(document, KindUse::Reading); !problem.empty())
    throw MeshFileError(problem);
  return document;
}

void WriteMesh(const std::string& path, const MeshDocument& document,
               const std::vector<double>& scaledJacobian, const WriteOptions& options) {
  const MeshFormat format = MeshFormatFromPath(path);
  detail::WriteFileAtomically(path, FormatMesh(document, format, scaledJacobian, options));
}

void WriteMesh(const std::string& path, const MeshDocument& document,
               const std::vector<double>& scaledJacobian) {
  WriteMesh(path, document, scaledJacobian, WriteOptions{});
}

MeshDocument ReadMesh(const std::string& path) {
  const MeshFormat format = MeshFormatFromPath(path);
  try {
    return ParseMesh(detail::ReadWholeFile(path), format);
  } catch (const std::runtime_error& e) {
    throw MeshFileError(detail::Printable(path) + ": " + e.what());
  }
}

}  // namespace vela::io
