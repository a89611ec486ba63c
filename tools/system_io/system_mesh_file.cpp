#include "system_mesh_file.h"

#include "file_text.h"
#include "length_unit.h"
#include "picture.h"
#include "system_mesh_formats.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <utility>

namespace vela::io {

namespace detail {

using vela::system::RegionKind;
using vela::system::SystemMesh;

namespace {

std::string Indexed(const char* what, size_t index) { return what + (" " + std::to_string(index)); }

// "refers to node 99, outside 0..22": one wording for every corner check.
// The place is named only when the check fails: the checks run over every
// corner of a mesh of millions, and most meshes pass.
template <class Where>
void CheckNode(int node, size_t nodeCount, const Where& where) {
  if (node < 0 || static_cast<size_t>(node) >= nodeCount)
    throw std::invalid_argument(where() + " refers to node " + std::to_string(node) +
                                ", outside 0.." + std::to_string(nodeCount) + "-1");
}

template <class Where>
void CheckIndex(int index, size_t count, const Where& where, const char* list) {
  if (index < 0 || static_cast<size_t>(index) >= count)
    throw std::invalid_argument(where() + " is " + std::to_string(index) + ", outside the " +
                                std::to_string(count) + " " + list);
}

void CheckNames(const std::vector<std::string>& names, const char* what) {
  std::set<std::string> seen;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string where = Indexed(what, i) + " \"" + Printable(names[i]) + "\"";
    if (const std::string problem = NameProblem(names[i]); !problem.empty())
      throw std::invalid_argument(where + ": " + problem);
    if (!seen.insert(names[i]).second) throw std::invalid_argument(where + ": named twice");
  }
}

void CheckRegionKinds(const SystemMesh& mesh) {
  for (size_t r = 0; r < mesh.regions.size(); ++r) {
    RegionKind kind = RegionKind::Runner;
    if (!RegionKindFromName(mesh.regions[r].name, kind) || kind != mesh.regions[r].kind)
      throw std::invalid_argument(Indexed("region", r) + " \"" + Printable(mesh.regions[r].name) +
                                  "\": the name does not start as its kind's names do "
                                  "(\"junction at \", \"bend at \", \"runner \")");
  }
}

void CheckElements(const SystemMesh& mesh) {
  for (size_t e = 0; e < mesh.elements.size(); ++e) {
    const vela::system::SystemElement& element = mesh.elements[e];
    const auto where = [e] { return Indexed("element", e); };
    if (element.corners != 4 && element.corners != 5 && element.corners != 6 &&
        element.corners != 8)
      throw std::invalid_argument(where() + " has " + std::to_string(element.corners) +
                                  " corners; a solid has 4, 5, 6 or 8");
    for (int c = 0; c < element.corners; ++c)
      CheckNode(element.nodes[static_cast<size_t>(c)], mesh.nodes.size(),
                [&] { return where() + " corner " + std::to_string(c); });
    CheckIndex(element.region, mesh.regions.size(), [&] { return where() + "'s region"; }, "regions");
  }
}

void CheckFaces(const SystemMesh& mesh) {
  for (size_t f = 0; f < mesh.faces.size(); ++f) {
    const vela::system::BoundaryFace& face = mesh.faces[f];
    const auto where = [f] { return Indexed("face", f); };
    if (face.corners != 3 && face.corners != 4)
      throw std::invalid_argument(where() + " has " + std::to_string(face.corners) +
                                  " corners; a boundary face has 3 or 4");
    for (int c = 0; c < face.corners; ++c)
      CheckNode(face.nodes[static_cast<size_t>(c)], mesh.nodes.size(),
                [&] { return where() + " corner " + std::to_string(c); });
    CheckIndex(face.patch, mesh.patches.size(), [&] { return where() + "'s patch"; }, "patches");
  }
}

}  // namespace

void CheckSystemShape(const SystemMesh& mesh) {
  for (size_t i = 0; i < mesh.nodes.size(); ++i)
    for (const double x : mesh.nodes[i])
      if (!std::isfinite(x))
        throw std::invalid_argument(Indexed("node", i) + " has a coordinate that is not finite");
  std::vector<std::string> regions;
  for (const vela::system::Region& region : mesh.regions) regions.push_back(region.name);
  CheckNames(regions, "region");
  CheckNames(mesh.patches, "patch");
  CheckElements(mesh);
  CheckFaces(mesh);
}

void CheckSystemMesh(const SystemMesh& mesh) {
  CheckSystemShape(mesh);
  CheckRegionKinds(mesh);
}

std::vector<PatchFace> PatchFaces(const SystemMesh& mesh) {
  std::vector<PatchFace> faces;
  faces.reserve(mesh.faces.size());
  for (const vela::system::BoundaryFace& face : mesh.faces) faces.push_back({face.corners, face.nodes, face.patch});
  return faces;
}

MeshElement AsMeshElement(const vela::system::SystemElement& element) {
  MeshElement out;
  out.kind = static_cast<ElementKind>(element.corners);  // the kinds are numbered by corner count
  out.nodes = element.nodes;
  return out;
}

bool RegionKindFromName(const std::string& name, RegionKind& kind) {
  const std::pair<const char*, RegionKind> prefixes[] = {{"junction at ", RegionKind::Junction},
                                                         {"bend at ", RegionKind::Bend},
                                                         {"runner ", RegionKind::Runner}};
  for (const auto& [prefix, prefixKind] : prefixes) {
    if (name.rfind(prefix, 0) == 0) {
      kind = prefixKind;
      return true;
    }
  }
  return false;
}

}  // namespace detail

namespace {

enum class SystemFormat { Json, Vtu, Msh, Svg };

SystemFormat SystemFormatFromPath(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".json") return SystemFormat::Json;
  if (extension == ".vtu") return SystemFormat::Vtu;
  if (extension == ".msh") return SystemFormat::Msh;
  if (extension == ".svg") return SystemFormat::Svg;
  const std::string shown =
      extension.empty() ? "no extension" : "extension '" + detail::Printable(extension) + "'";
  throw std::invalid_argument("system mesh file '" + detail::Printable(path) + "': " + shown +
                              " is not a system mesh format (use .json, .vtu, .msh or .svg)");
}

void CheckUnits(const std::string& units) {
  if (!units.empty() && MetresPerUnit(units) == 0.0)
    throw std::invalid_argument("unknown length unit \"" + detail::Printable(units) + "\" (use " + kUnitNames + ")");
}

// NAME.vtu -> NAME.patches.vtu, keeping the extension's case.
std::string PatchesPath(const std::string& path) {
  std::filesystem::path patches(path);
  const std::filesystem::path extension = patches.extension();
  patches.replace_extension(".patches");
  patches += extension;
  return patches.string();
}

std::string SystemSvg(const vela::system::SystemMesh& mesh, const std::string& title) {
  MemoryMesh volume;
  vela::system::WriteSolidMesh(mesh, volume);
  picture::ViewOptions view;
  view.title = title;
  return picture::RenderSvg(volume, view);
}

}  // namespace

std::vector<std::string> WriteSystemMesh(const std::string& path,
                                         const vela::system::SystemMesh& mesh,
                                         const std::string& title, const WriteOptions& options) {
  const SystemFormat format = SystemFormatFromPath(path);
  CheckUnits(options.units);
  const bool binaryVtu = options.encoding != Encoding::Ascii;
  const bool binaryMsh = options.encoding == Encoding::Binary;
  detail::CheckSystemMesh(mesh);
  // Every text is made before the first file is written, so that a fault in
  // any leaves every file as it was; only the writing itself can then fail
  // between the two files of a .vtu.
  std::vector<std::pair<std::string, std::string>> files;
  switch (format) {
    case SystemFormat::Json: files = {{path, detail::FormatSystemJson(mesh, title, options.units)}}; break;
    case SystemFormat::Msh: files = {{path, detail::FormatSystemMsh(mesh, binaryMsh, options.units)}}; break;
    case SystemFormat::Svg: files = {{path, SystemSvg(mesh, title)}}; break;
    case SystemFormat::Vtu:
      // The file asked for first: where the folder cannot take it, the
      // error names the file the user gave, not the one beside it.
      files = {{path, detail::FormatSystemVolumeVtu(mesh, binaryVtu, options.units)},
               {PatchesPath(path), detail::FormatSystemPatchesVtu(mesh, binaryVtu, options.units)}};
      break;
  }
  std::vector<std::string> written{path};  // the file asked for, then the one beside it
  for (const auto& [name, text] : files) {
    detail::WriteFileAtomically(name, text);
    if (name != path) written.push_back(name);
  }
  return written;
}

std::vector<std::string> WriteSystemMesh(const std::string& path,
                                         const vela::system::SystemMesh& mesh,
                                         const std::string& title) {
  return WriteSystemMesh(path, mesh, title, WriteOptions{});
}

std::vector<std::string> WriteFoamCase(const std::string& dir, const vela::system::SystemMesh& mesh,
                                       const std::string& title, const WriteOptions& options) {
  CheckUnits(options.units);
  detail::CheckSystemShape(mesh);
  const detail::FoamText text{title, options.units, options.encoding != Encoding::Ascii};
  const std::vector<std::pair<std::string, std::string>> files = detail::FormatFoamCase(mesh, text);
  const std::filesystem::path folder(dir);
  for (const char* sub : {"constant/polyMesh", "system"}) {
    std::error_code made;
    std::filesystem::create_directories(folder / sub, made);
    if (made)
      throw std::runtime_error("cannot make the folder '" + detail::Printable((folder / sub).string()) + "' (" +
                               made.message() + ")");
  }
  std::vector<std::string> written;
  for (const auto& [name, content] : files) {
    const std::string path = (folder / name).string();
    // A case's own dictionaries, with the solver's settings, stay as they are.
    if (name.rfind("system/", 0) == 0 && std::filesystem::exists(path)) continue;
    detail::WriteFileAtomically(path, content);
    written.push_back(path);
  }
  return written;
}

}  // namespace vela::io
