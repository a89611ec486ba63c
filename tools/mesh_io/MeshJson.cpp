// The .json mesh dump, the form of tests/golden/*.mesh.json.

#include "FileText.h"
#include "JsonText.h"
#include "MeshFormats.h"

#include <nlohmann/json.hpp>

#include <climits>
#include <cmath>
#include <cstdint>

namespace vela::io::detail {

namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& where, const std::string& problem) {
  throw MeshFileError(where + ": " + problem);
}

// object[key]; parent is the path of object, for the message when the key is missing.
const json& Field(const json& object, const char* key, const std::string& parent = "") {
  const auto it = object.find(key);
  if (it == object.end())
    Fail(parent.empty() ? std::string(key) : parent + "." + key, "missing (the key is required)");
  return *it;
}

std::array<double, 3> Point(const json& value, const std::string& where) {
  if (!value.is_array() || value.size() != 3)
    Fail(where, "expected 3 numbers [x, y, z], got " + DescribeJson(value));
  std::array<double, 3> point{};
  for (size_t i = 0; i < 3; ++i) {
    if (!value[i].is_number())
      Fail(JsonIndexed(where, i), "expected a number, got " + DescribeJson(value[i]));
    point[i] = value[i].get<double>();
  }
  return point;
}

std::vector<std::array<double, 3>> Points(const json& value, const std::string& key) {
  if (!value.is_array()) Fail(key, "expected an array of points, got " + DescribeJson(value));
  std::vector<std::array<double, 3>> points;
  points.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) points.push_back(Point(value[i], JsonIndexed(key, i)));
  return points;
}

bool KindFromName(const std::string& name, ElementKind& kind) {
  for (ElementKind k :
       {ElementKind::Tetra, ElementKind::Pyramid, ElementKind::Prism, ElementKind::Hexa}) {
    if (name == ElementKindName(k)) {
      kind = k;
      return true;
    }
  }
  return false;
}

MeshElement Element(const json& value, const std::string& where, size_t nodeCount) {
  if (!value.is_object())
    Fail(where, "expected an object {\"type\", \"nodes\"}, got " + DescribeJson(value));
  const json& type = Field(value, "type", where);
  ElementKind kind = ElementKind::Tetra;
  if (!type.is_string() || !KindFromName(type.get<std::string>(), kind))
    Fail(where + ".type",
         "expected \"tetra\", \"pyramid\", \"prism\" or \"hexa\", got " +
             (type.is_string() ? Quote(type.get<std::string>()) : DescribeJson(type)));
  const json& corners = Field(value, "nodes", where);
  const size_t count = static_cast<size_t>(CornerCount(kind));
  if (!corners.is_array() || corners.size() != count)
    Fail(where + ".nodes", "expected " + std::to_string(count) + " node indices for a " +
                               ElementKindName(kind) + ", got " + DescribeJson(corners));
  MeshElement element;
  element.kind = kind;
  element.nodes.fill(-1);
  for (size_t c = 0; c < count; ++c) {
    const json& corner = corners[c];
    const std::string cornerWhere = JsonIndexed(where + ".nodes", c);
    if (!corner.is_number_integer())
      Fail(cornerWhere, "expected a node index, got " + DescribeJson(corner));
    // The parser stores every non-negative integer as unsigned, so a signed one is negative.
    if (!corner.is_number_unsigned())
      Fail(cornerWhere, "node " + corner.dump() + " does not exist (indices start at 0)");
    if (corner.get<std::uint64_t>() >= nodeCount)
      Fail(cornerWhere, "node " + corner.dump() + " does not exist (the mesh has " +
                            std::to_string(nodeCount) + " nodes)");
    element.nodes[c] = static_cast<int>(corner.get<std::uint64_t>());
  }
  return element;
}

}  // namespace

std::string FormatJsonMesh(const MeshDocument& document) {
  // ordered_json keeps the keys in the order of the golden dumps.
  nlohmann::ordered_json root;
  root["ok"] = true;
  root["kind"] = document.kind;
  root["nodes"] = document.mesh.nodes;
  nlohmann::ordered_json elements = nlohmann::ordered_json::array();
  for (const MeshElement& element : document.mesh.elements) {
    nlohmann::ordered_json corners = nlohmann::ordered_json::array();
    for (int c = 0; c < element.CornerCount(); ++c)
      corners.push_back(element.nodes[static_cast<size_t>(c)]);
    elements.push_back({{"type", ElementKindName(element.kind)}, {"nodes", std::move(corners)}});
  }
  root["elements"] = std::move(elements);
  if (document.kind == "nway") root["far_nodes"] = document.farNodes;
  // nlohmann prints every double in its shortest form that reads back exactly.
  return root.dump() + "\n";
}

MeshDocument ParseJsonMesh(const std::string& text) {
  json root;
  JsonProblem problem;
  if (!ParseJson(text, root, problem))
    throw MeshFileError(problem.where.empty() ? problem.problem
                                              : problem.where + ": " + problem.problem);
  if (!root.is_object())
    throw MeshFileError("expected a JSON object at the top, got " + DescribeJson(root));

  const json& ok = Field(root, "ok");
  if (ok != true)
    Fail("ok", "expected true (a dump of a junction that was meshed), got " + DescribeJson(ok));
  const json& kind = Field(root, "kind");
  if (!kind.is_string()) Fail("kind", "expected \"nway\" or \"bend\", got " + DescribeJson(kind));

  MeshDocument document;
  document.kind = kind.get<std::string>();
  document.mesh.nodes = Points(Field(root, "nodes"), "nodes");
  if (document.mesh.nodes.size() > static_cast<size_t>(INT_MAX)) Fail("nodes", "too many nodes");

  const json& elements = Field(root, "elements");
  if (!elements.is_array())
    Fail("elements", "expected an array of elements, got " + DescribeJson(elements));
  document.mesh.elements.reserve(elements.size());
  for (size_t e = 0; e < elements.size(); ++e)
    document.mesh.elements.push_back(
        Element(elements[e], JsonIndexed("elements", e), document.mesh.nodes.size()));

  if (const auto it = root.find("far_nodes"); it != root.end())
    document.farNodes = Points(*it, "far_nodes");
  return document;
}

}  // namespace vela::io::detail
