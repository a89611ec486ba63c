#pragma once

// Just enough XML to read back the .vtu files vela-mesh writes (and plain
// ASCII files from other VTK writers): elements, attributes, character data,
// comments, declarations, CDATA and the five predefined entities. No
// namespaces, no DTDs. Internal to vela_mesh_io.

#include <string>
#include <utility>
#include <vector>

namespace vela::io::detail {

struct XmlElement {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::string text;  // all character data directly inside this element
  int textLine = 1;  // line where that character data starts
  int line = 1;      // line of the start tag
  std::vector<XmlElement> children;

  // The attribute's value, or nullptr when absent.
  const std::string* Attribute(const std::string& key) const;
  // The first child of that name, or nullptr.
  const XmlElement* Child(const std::string& childName) const;
};

// Parses a whole document and returns its root element. Throws MeshFileError
// ("XML line N: problem") on malformed input or nesting deeper than 64 levels,
// which no mesh file needs and which would otherwise make destruction recurse
// without bound.
XmlElement ParseXml(const std::string& text);

}  // namespace vela::io::detail
