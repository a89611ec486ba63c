// The .json mesh dump, the form of tests/golden/*.mesh.json.

#include "file_text.h"
#include "json_text.h"
#include "mesh_formats.h"

#include <nlohmann/json.hpp>

#include <climits>
#include <cstdint>

namespace vela::io::detail {

namespace {

using nlohmann::json;

MeshElement Element(const json& value, const std::string& where, size_t nodeCount) {
  if (!value.is_object())
    FailJson(where, "expected an object {\"type\", \"nodes\"}, got " + DescribeJson(value));
  const json& type = RequiredKey(value, "type", where);
  MeshElement element;
  bool known = false;
  for (ElementKind kind :
       {ElementKind::Tetra, ElementKind::Pyramid, ElementKind::Prism, ElementKind::Hexa}) {
    if (type == ElementKindName(kind)) {
      element.kind = kind;
      known = true;
    }
  }
  if (!known)
    FailJson(where + ".type",
             "expected \"tetra\", \"pyramid\", \"prism\" or \"hexa\", got " +
                 (type.is_string() ? Quote(type.get<std::string>()) : DescribeJson(type)));

  const json& corners = RequiredKey(value, "nodes", where);
  const size_t count = static_cast<size_t>(element.CornerCount());
  if (!corners.is_array() || corners.size() != count)
    FailJson(where + ".nodes", "expected " + std::to_string(count) + " node indices for a " +
                                   ElementKindName(element.kind) + ", got " +
                                   DescribeJson(corners));
  element.nodes.fill(-1);
  for (size_t c = 0; c < count; ++c) {
    // The parser stores every non-negative integer as unsigned.
    if (!corners[c].is_number_unsigned() || corners[c].get<std::uint64_t>() >= nodeCount)
      FailJson(JsonIndexed(where + ".nodes", c),
               "expected the index of one of the " + std::to_string(nodeCount) + " nodes, got " +
                   DescribeJson(corners[c]));
    element.nodes[c] = static_cast<int>(corners[c].get<std::uint64_t>());
  }
  return element;
}

MeshDocument Document(const json& root) {
  if (!root.is_object())
    FailJson("", "expected a JSON object at the top, got " + DescribeJson(root));
  const json& ok = RequiredKey(root, "ok");
  if (ok != true)
    FailJson("ok", "expected true (a dump of a junction that was meshed), got " + DescribeJson(ok));
  const json& kind = RequiredKey(root, "kind");
  if (!kind.is_string())
    FailJson("kind", "expected \"nway\" or \"bend\", got " + DescribeJson(kind));

  MeshDocument document;
  document.kind = kind.get<std::string>();
  document.mesh.nodes = JsonPoints(RequiredKey(root, "nodes"), "nodes");
  if (document.mesh.nodes.size() > static_cast<size_t>(INT_MAX))  // corner indices become ints
    FailJson("nodes", "too many nodes");

  const json& elements = RequiredKey(root, "elements");
  if (!elements.is_array())
    FailJson("elements", "expected an array of elements, got " + DescribeJson(elements));
  for (size_t e = 0; e < elements.size(); ++e)
    document.mesh.elements.push_back(
        Element(elements[e], JsonIndexed("elements", e), document.mesh.nodes.size()));

  if (const auto it = root.find("far_nodes"); it != root.end())
    document.farNodes = JsonPoints(*it, "far_nodes");
  return document;
}

}  // namespace

std::string FormatJsonMesh(const MeshDocument& document, const std::string& units) {
  // ordered_json keeps the keys in the order of the golden dumps, which
  // name no unit.
  nlohmann::ordered_json root;
  root["ok"] = true;
  root["kind"] = document.kind;
  if (!units.empty()) root["units"] = units;
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
  try {
    return Document(ParseJson(text));
  } catch (const JsonError& e) {
    throw MeshFileError(e.what());
  }
}

}  // namespace vela::io::detail
