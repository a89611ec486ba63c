#include "MeshFile.h"

#include "FileText.h"
#include "MeshFormats.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>

namespace vela::io {

namespace detail {

CornerOrder VtkCornerOrder(ElementKind kind) {
  switch (kind) {
    case ElementKind::Tetra: return {4, {0, 1, 2, 3, -1, -1, -1, -1}};
    case ElementKind::Pyramid: return {5, {0, 1, 2, 3, 4, -1, -1, -1}};
    case ElementKind::Prism: return {6, {0, 2, 1, 3, 5, 4, -1, -1}};
    case ElementKind::Hexa: return {8, {0, 1, 2, 3, 4, 5, 6, 7}};
  }
  return {};
}

int VtkCellType(ElementKind kind) {
  switch (kind) {
    case ElementKind::Tetra: return 10;
    case ElementKind::Pyramid: return 14;
    case ElementKind::Prism: return 13;
    case ElementKind::Hexa: return 12;
  }
  return 0;
}

bool KindFromVtkCellType(long long type, ElementKind& kind) {
  for (ElementKind k :
       {ElementKind::Tetra, ElementKind::Pyramid, ElementKind::Prism, ElementKind::Hexa}) {
    if (VtkCellType(k) == type) {
      kind = k;
      return true;
    }
  }
  return false;
}

int GmshElementType(ElementKind kind) {
  switch (kind) {
    case ElementKind::Tetra: return 4;
    case ElementKind::Pyramid: return 7;
    case ElementKind::Prism: return 6;
    case ElementKind::Hexa: return 5;
  }
  return 0;
}

bool KindFromGmshElementType(long long type, ElementKind& kind) {
  for (ElementKind k :
       {ElementKind::Tetra, ElementKind::Pyramid, ElementKind::Prism, ElementKind::Hexa}) {
    if (GmshElementType(k) == type) {
      kind = k;
      return true;
    }
  }
  return false;
}

std::array<int, 8> ToFileOrder(const MeshElement& element, const CornerOrder& order) {
  std::array<int, 8> corners;
  corners.fill(-1);
  for (int i = 0; i < order.count; ++i) corners[i] = element.nodes[order.order[i]];
  return corners;
}

MeshElement FromFileOrder(ElementKind kind, const std::array<int, 8>& fileCorners,
                          const CornerOrder& order) {
  MeshElement element;
  element.kind = kind;
  element.nodes.fill(-1);
  for (int i = 0; i < order.count; ++i) element.nodes[order.order[i]] = fileCorners[i];
  return element;
}

void CheckReadKind(const MeshDocument& document) {
  if (document.kind != "nway" && document.kind != "bend")
    throw MeshFileError("junction kind must be \"nway\" or \"bend\", got " + Quote(document.kind));
  if (document.kind == "bend" && !document.farNodes.empty())
    throw MeshFileError("a bend has no far nodes, but the file lists " +
                        std::to_string(document.farNodes.size()));
}

}  // namespace detail

namespace {

bool IsFinite(const std::array<double, 3>& p) {
  return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

bool IsKnownKind(ElementKind kind) {
  return kind == ElementKind::Tetra || kind == ElementKind::Pyramid || kind == ElementKind::Prism ||
         kind == ElementKind::Hexa;
}

// Everything a writer relies on. A file that silently differed from the mesh
// in memory would defeat the point of writing it, so every doubt is an error.
void CheckWritable(const MeshDocument& document, const std::vector<double>& scaledJacobian) {
  if (document.kind != "nway" && document.kind != "bend")
    throw std::invalid_argument("mesh kind must be \"nway\" or \"bend\", got \"" + document.kind +
                                "\"");
  if (document.kind == "bend" && !document.farNodes.empty())
    throw std::invalid_argument("a bend has no far nodes, but the document holds " +
                                std::to_string(document.farNodes.size()));
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
  const std::string shown = extension.empty() ? "no extension" : "extension '" + extension + "'";
  throw std::invalid_argument("mesh file '" + path + "': " + shown +
                              " is not a mesh format (use .json, .vtu or .msh)");
}

std::string FormatMesh(const MeshDocument& document, MeshFormat format,
                       const std::vector<double>& scaledJacobian) {
  CheckWritable(document, scaledJacobian);
  switch (format) {
    case MeshFormat::Json: return detail::FormatJsonMesh(document);
    case MeshFormat::Vtu: return detail::FormatVtuMesh(document, scaledJacobian);
    case MeshFormat::Msh: return detail::FormatMshMesh(document, scaledJacobian);
  }
  throw std::invalid_argument("unknown mesh format");
}

MeshDocument ParseMesh(const std::string& text, MeshFormat format) {
  MeshDocument document;
  switch (format) {
    case MeshFormat::Json: document = detail::ParseJsonMesh(text); break;
    case MeshFormat::Vtu: document = detail::ParseVtuMesh(text); break;
    case MeshFormat::Msh: document = detail::ParseMshMesh(text); break;
  }
  detail::CheckReadKind(document);
  return document;
}

void WriteMesh(const std::string& path, const MeshDocument& document,
               const std::vector<double>& scaledJacobian) {
  const MeshFormat format = MeshFormatFromPath(path);
  detail::WriteFileAtomically(path, FormatMesh(document, format, scaledJacobian));
}

MeshDocument ReadMesh(const std::string& path) {
  const MeshFormat format = MeshFormatFromPath(path);
  try {
    return ParseMesh(detail::ReadWholeFile(path), format);
  } catch (const std::runtime_error& e) {
    throw MeshFileError(path + ": " + e.what());
  }
}

}  // namespace vela::io
