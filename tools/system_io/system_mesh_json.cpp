// The .json dump of a meshed system, and its reader.

#include "json_text.h"
#include "system_mesh_file.h"
#include "system_mesh_formats.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>

namespace vela::io {

namespace {

using detail::DescribeJson;
using detail::FailJson;
using detail::JsonIndexed;
using nlohmann::json;
using vela::system::SystemMesh;

const json& JsonArray(const json& value, const std::string& where, const std::string& of) {
  if (!value.is_array())
    FailJson(where, "expected an array of " + of + ", got " + DescribeJson(value));
  return value;
}

// Corner indices of an element or a face; the allowed counts are listed in
// sizes, and a count outside them, or an index that is not a node, fails.
template <size_t N>
std::array<int, N> Corners(const json& value, const std::string& where, size_t nodeCount,
                           std::initializer_list<size_t> sizes, const char* sizesText, int& count) {
  if (!value.is_array() || std::find(sizes.begin(), sizes.end(), value.size()) == sizes.end())
    FailJson(where,
             std::string("expected ") + sizesText + " node indices, got " + DescribeJson(value));
  std::array<int, N> nodes;
  nodes.fill(-1);
  for (size_t c = 0; c < value.size(); ++c) {
    // The parser stores every non-negative integer as unsigned.
    if (!value[c].is_number_unsigned() || value[c].get<std::uint64_t>() >= nodeCount)
      FailJson(JsonIndexed(where, c), "expected the index of one of the " +
                                          std::to_string(nodeCount) + " nodes, got " +
                                          DescribeJson(value[c]));
    nodes[c] = static_cast<int>(value[c].get<std::uint64_t>());
  }
  count = static_cast<int>(value.size());
  return nodes;
}

int Index(const json& value, const std::string& where, size_t count, const char* of) {
  if (!value.is_number_unsigned() || value.get<std::uint64_t>() >= count)
    FailJson(where, "expected the index of one of the " + std::to_string(count) + " " + of +
                        ", got " + DescribeJson(value));
  return static_cast<int>(value.get<std::uint64_t>());
}

std::string Name(const json& value, const std::string& where) {
  if (!value.is_string()) FailJson(where, "expected a name, got " + DescribeJson(value));
  const std::string name = value.get<std::string>();
  if (const std::string problem = detail::NameProblem(name); !problem.empty())
    FailJson(where, problem);
  return name;
}

void ReadRegions(const json& root, SystemMesh& mesh) {
  const json& regions = JsonArray(detail::RequiredKey(root, "regions"), "regions", "names");
  for (size_t r = 0; r < regions.size(); ++r) {
    const std::string where = JsonIndexed("regions", r);
    vela::system::Region region;
    region.name = Name(regions[r], where);
    if (!detail::RegionKindFromName(region.name, region.kind))
      FailJson(where, "expected a name starting \"junction at \", \"bend at \" or \"runner \"");
    mesh.regions.push_back(region);
  }
}

void ReadElements(const json& root, SystemMesh& mesh) {
  const json& elements = JsonArray(detail::RequiredKey(root, "elements"), "elements", "elements");
  const json& owners =
      JsonArray(detail::RequiredKey(root, "element_regions"), "element_regions", "region indices");
  if (owners.size() != elements.size())
    FailJson("element_regions", "expected one region index per element (" +
                                    std::to_string(elements.size()) + "), got " +
                                    DescribeJson(owners));
  for (size_t e = 0; e < elements.size(); ++e) {
    vela::system::SystemElement element;
    element.nodes = Corners<8>(elements[e], JsonIndexed("elements", e), mesh.nodes.size(),
                               {4, 5, 6, 8}, "4, 5, 6 or 8", element.corners);
    element.region =
        Index(owners[e], JsonIndexed("element_regions", e), mesh.regions.size(), "regions");
    mesh.elements.push_back(element);
  }
}

// Patches keep the order of the file's keys, which the parser's sorted objects
// lose: a second, order-keeping parse gives the names in order.
void ReadPatches(const json& root, const std::string& text, SystemMesh& mesh) {
  const json& patches = detail::RequiredKey(root, "patches");
  if (!patches.is_object())
    FailJson("patches", "expected an object {name: [faces]}, got " + DescribeJson(patches));
  const nlohmann::ordered_json ordered = nlohmann::ordered_json::parse(text);
  for (const auto& item : ordered.at("patches").items()) {
    const std::string where = "patches." + detail::PrintableKey(item.key());
    const std::string name = Name(json(item.key()), where);
    const json& faces = JsonArray(patches.at(name), where, "faces");
    for (size_t f = 0; f < faces.size(); ++f) {
      vela::system::BoundaryFace face;
      face.nodes = Corners<4>(faces[f], JsonIndexed(where, f), mesh.nodes.size(), {3, 4}, "3 or 4",
                              face.corners);
      face.patch = static_cast<int>(mesh.patches.size());
      mesh.faces.push_back(face);
    }
    mesh.patches.push_back(name);
  }
}

SystemMesh Mesh(const json& root, const std::string& text) {
  if (!root.is_object())
    FailJson("", "expected a JSON object at the top, got " + DescribeJson(root));
  const json& kind = detail::RequiredKey(root, "kind");
  if (kind != "system")
    FailJson("kind",
             "expected \"system\" (a meshed runner system), got " +
                 (kind.is_string() ? "\"" + detail::PrintableKey(kind.get<std::string>()) + "\""
                                   : DescribeJson(kind)));
  if (!detail::RequiredKey(root, "name").is_string())
    FailJson("name", "expected a string, got " + DescribeJson(root.at("name")));

  SystemMesh mesh;
  mesh.nodes = detail::JsonPoints(detail::RequiredKey(root, "nodes"), "nodes");
  if (mesh.nodes.size() > static_cast<size_t>(INT_MAX))  // corner indices are ints
    FailJson("nodes", "too many nodes");
  ReadRegions(root, mesh);
  ReadElements(root, mesh);
  ReadPatches(root, text, mesh);
  // What the writer would refuse (a name used twice, say) is refused here too:
  // every mesh read can be written again.
  try {
    detail::CheckSystemMesh(mesh);
  } catch (const std::invalid_argument& e) {
    FailJson("", e.what());
  }
  return mesh;
}

}  // namespace

std::string detail::FormatSystemJson(const SystemMesh& mesh, const std::string& title,
                                     const std::string& units) {
  // ordered_json keeps the keys, and the patches, in the order written here.
  nlohmann::ordered_json root;
  root["kind"] = "system";
  root["name"] = title;
  if (!units.empty()) root["units"] = units;
  root["nodes"] = mesh.nodes;
  nlohmann::ordered_json elements = nlohmann::ordered_json::array();
  nlohmann::ordered_json owners = nlohmann::ordered_json::array();
  for (const vela::system::SystemElement& element : mesh.elements) {
    elements.push_back(
        std::vector<int>(element.nodes.begin(), element.nodes.begin() + element.corners));
    owners.push_back(element.region);
  }
  root["elements"] = std::move(elements);
  nlohmann::ordered_json regions = nlohmann::ordered_json::array();
  for (const vela::system::Region& region : mesh.regions) regions.push_back(region.name);
  root["regions"] = std::move(regions);
  root["element_regions"] = std::move(owners);
  nlohmann::ordered_json patches = nlohmann::ordered_json::object();
  for (const std::string& name : mesh.patches) patches[name] = nlohmann::ordered_json::array();
  for (const vela::system::BoundaryFace& face : mesh.faces)
    patches[mesh.patches[static_cast<size_t>(face.patch)]].push_back(
        std::vector<int>(face.nodes.begin(), face.nodes.begin() + face.corners));
  root["patches"] = std::move(patches);
  // nlohmann prints every double in its shortest form that reads back exactly.
  return root.dump() + "\n";
}

SystemMesh ParseSystemJson(const std::string& text) { return Mesh(detail::ParseJson(text), text); }

}  // namespace vela::io
