#pragma once

// Reading the DataArrays of a VTK XML file, whoever wrote it: ASCII, inline
// base64 ("binary") and appended data (raw or base64), each with or without
// zlib compression, headers of UInt32 or UInt64, either byte order. Internal
// to the host-side file formats.

#include <pugixml.hpp>

#include <memory>
#include <string>
#include <vector>

namespace vela::io::detail {

class VtuFile {
public:
  // Parses the XML around the appended data; throws MeshFileError when the
  // text is not well-formed XML or the file's header attributes are unknown.
  explicit VtuFile(const std::string& text);

  pugi::xml_node Root() const { return m_xml.child("VTKFile"); }

  // Exactly count values of the array. Throws MeshFileError naming the array
  // when it holds another number of values, a value that is not a finite
  // number (Reals) or an integer in [min, max] (Integers), or data that does
  // not decode.
  std::vector<double> Reals(pugi::xml_node array, size_t count) const;
  std::vector<long long> Integers(pugi::xml_node array, size_t count, long long min,
                                  long long max) const;

private:
  std::string Bytes(pugi::xml_node array, size_t valueSize, size_t count) const;

  const std::string& m_text;
  std::string m_xmlText;     // the text with the raw appended bytes cut out
  size_t m_appendedAt = 0;   // where the appended bytes start in m_text
  size_t m_appendedEnd = 0;  // and end
  bool m_base64Appended = false;
  bool m_compressed = false;
  bool m_littleEndian = true;
  size_t m_headerSize = 4;
  pugi::xml_document m_xml;
};

// pugixml reports places as byte offsets (-1 when it has none); messages speak in lines.
int LineAt(const std::string& text, std::ptrdiff_t offset);

}  // namespace vela::io::detail
