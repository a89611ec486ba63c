#include "vtu_arrays.h"

#include "binary_data.h"
#include "file_text.h"
#include "mesh_file.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>

namespace vela::io::detail {

namespace {

// Takes the next count bytes of an array's data; false when there are fewer.
using Take = std::function<bool(size_t, std::string&)>;

std::string NameOf(pugi::xml_node array) {
  return "DataArray \"" + Printable(array.attribute("Name").value()) + "\"";
}

[[noreturn]] void Fail(pugi::xml_node array, const std::string& problem) {
  throw MeshFileError(NameOf(array) + ": " + problem);
}

// The value size of a VTK type name, 0 for a name it does not know;
// real tells whether it is Float32 or Float64.
size_t SizeOfType(const std::string& type, bool& real, bool& isSigned) {
  real = type == "Float32" || type == "Float64";
  isSigned = type.rfind("Int", 0) == 0;
  if (type == "Int8" || type == "UInt8") return 1;
  if (type == "Int16" || type == "UInt16") return 2;
  if (type == "Int32" || type == "UInt32" || type == "Float32") return 4;
  if (type == "Int64" || type == "UInt64" || type == "Float64") return 8;
  return 0;
}

// Exactly count values of an ASCII array, each taken by read from a scanner
// that names the array and counts lines in the file. pugixml splits character
// data around comments and CDATA sections; XML means the pieces as one.
template <typename Read>
auto ReadAscii(const std::string& text, pugi::xml_node array, size_t count, Read read) {
  std::string data;
  int line = LineAt(text, array.offset_debug());
  for (pugi::xml_node child : array.children()) {
    if (child.type() != pugi::node_pcdata && child.type() != pugi::node_cdata) continue;
    if (data.empty()) line = LineAt(text, child.offset_debug());
    data += child.value();
  }
  TokenScanner scanner(data, NameOf(array), line);
  std::vector<decltype(read(scanner))> values;
  values.reserve(std::min(count, data.size() / 2 + 1));  // a bad count cannot ask for more
  while (values.size() < count) values.push_back(read(scanner));
  if (!scanner.AtEnd()) scanner.Fail("more than the expected " + std::to_string(count) + " values");
  return values;
}

std::uint64_t TakeHeaderNumber(const Take& take, size_t size, bool littleEndian,
                               pugi::xml_node array) {
  std::string bytes;
  if (!take(size, bytes)) Fail(array, "the data ends inside its header");
  return LoadUnsigned(bytes.data(), size, littleEndian);
}

// The uncompressed bytes of a zlib-compressed array of expected bytes.
std::string Inflate(const Take& take, size_t headerSize, bool littleEndian, size_t expected,
                    pugi::xml_node array) {
  const auto number = [&] { return TakeHeaderNumber(take, headerSize, littleEndian, array); };
  const std::uint64_t blockCount = number(), blockSize = number(), lastSize = number();
  // The blocks must add up to the expected bytes: checked before anything is
  // allocated for them, so that a bad header cannot ask for a huge buffer.
  const bool fits = blockSize > 0 && blockSize <= (1u << 30) && lastSize <= blockSize &&
                    blockCount <= expected / blockSize + 1;
  const std::uint64_t total =
      !fits || blockCount == 0 ? 0 : (blockCount - 1) * blockSize + (lastSize ? lastSize : blockSize);
  if (!fits || total != expected)
    Fail(array, "its compressed blocks do not hold the expected " + std::to_string(expected) +
                    " bytes");
  std::vector<std::uint64_t> sizes(static_cast<size_t>(blockCount));
  for (std::uint64_t& size : sizes) size = number();
  std::string out, block;
  out.reserve(expected);
  for (size_t b = 0; b < sizes.size(); ++b) {
    block.clear();
    const size_t length = b + 1 == sizes.size() && lastSize ? lastSize : blockSize;
    if (sizes[b] > (1u << 31) || !take(static_cast<size_t>(sizes[b]), block) ||
        !InflateExactly(block, length, out))
      Fail(array, "compressed block " + std::to_string(b) + " does not inflate");
  }
  return out;
}

std::string Decode(const Take& take, bool compressed, size_t headerSize, bool littleEndian,
                   size_t expected, pugi::xml_node array) {
  if (compressed) return Inflate(take, headerSize, littleEndian, expected, array);
  const std::uint64_t size = TakeHeaderNumber(take, headerSize, littleEndian, array);
  if (size != expected)
    Fail(array, "holds " + std::to_string(size) + " bytes, " + std::to_string(expected) +
                    " were expected");
  std::string out;
  if (!take(expected, out)) Fail(array, "the data ends early");
  return out;
}

}  // namespace

int LineAt(const std::string& text, std::ptrdiff_t offset) {
  const std::ptrdiff_t end =
      std::clamp<std::ptrdiff_t>(offset, 0, static_cast<std::ptrdiff_t>(text.size()));
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + end, '\n'));
}

VtuFile::VtuFile(const std::string& text) : m_text(text) {
  // Raw appended bytes are not XML: they are cut out before parsing, from
  // the '_' that opens them to the last </AppendedData>.
  const size_t tag = text.find("<AppendedData");
  const size_t close = text.rfind("</AppendedData>");
  if (tag != std::string::npos && close != std::string::npos && close > tag) {
    const size_t underscore = text.find('_', tag);
    if (underscore == std::string::npos || underscore > close)
      throw MeshFileError("<AppendedData> has no '_' before its data");
    m_appendedAt = underscore + 1;
    m_appendedEnd = close;
    m_xmlText = text.substr(0, m_appendedAt) + text.substr(close);
  } else {
    m_xmlText = text;
  }
  const pugi::xml_parse_result result = m_xml.load_buffer(
      m_xmlText.data(), m_xmlText.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!result)
    throw MeshFileError("XML line " + std::to_string(LineAt(m_xmlText, result.offset)) + ": " +
                        result.description());
  const pugi::xml_node root = Root();
  const std::string order = root.attribute("byte_order").as_string("LittleEndian");
  const std::string header = root.attribute("header_type").as_string("UInt32");
  const std::string compressor = root.attribute("compressor").as_string("");
  if (order != "LittleEndian" && order != "BigEndian")
    throw MeshFileError("byte_order " + Quote(order) + " is neither LittleEndian nor BigEndian");
  if (header != "UInt32" && header != "UInt64")
    throw MeshFileError("header_type " + Quote(header) + " is neither UInt32 nor UInt64");
  if (!compressor.empty() && compressor != "vtkZLibDataCompressor")
    throw MeshFileError("compressor " + Quote(compressor) +
                        " cannot be read, only vtkZLibDataCompressor");
  m_littleEndian = order == "LittleEndian";
  m_headerSize = header == "UInt64" ? 8 : 4;
  m_compressed = !compressor.empty();
  const pugi::xml_node appended = root.child("AppendedData");
  m_base64Appended = std::string(appended.attribute("encoding").as_string("raw")) == "base64";
}

std::string VtuFile::Bytes(pugi::xml_node array, size_t valueSize, size_t count) const {
  const std::string format = array.attribute("format").as_string("ascii");
  std::string inlineText;
  std::string_view data;
  if (format == "binary") {
    for (pugi::xml_node child : array.children())
      if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
        inlineText += child.value();
    data = inlineText;
  } else if (format == "appended") {
    long long offset = 0;
    if (!ParseInteger(array.attribute("offset").value(), offset) || offset < 0 ||
        static_cast<size_t>(offset) > m_appendedEnd - m_appendedAt)
      Fail(array, "its offset is not a place in the appended data");
    data = std::string_view(m_text).substr(m_appendedAt + static_cast<size_t>(offset),
                                           m_appendedEnd - m_appendedAt - static_cast<size_t>(offset));
  } else {
    Fail(array, "format " + Quote(format) + " is none of ascii, binary and appended");
  }
  Take take;
  auto base64 = std::make_shared<Base64Reader>(data);
  size_t next = 0;
  if (format == "binary" || m_base64Appended) {
    take = [base64](size_t n, std::string& out) { return base64->Take(n, out); };
  } else {
    take = [data, &next](size_t n, std::string& out) {
      if (n > data.size() - next) return false;
      out.append(data.substr(next, n));
      next += n;
      return true;
    };
  }
  return Decode(take, m_compressed, m_headerSize, m_littleEndian, valueSize * count, array);
}

std::vector<double> VtuFile::Reals(pugi::xml_node array, size_t count) const {
  const std::string type = array.attribute("type").value();
  bool real = false, isSigned = false;
  const size_t size = SizeOfType(type, real, isSigned);
  if (!real) Fail(array, "type " + Quote(type) + " is not Float32 or Float64");
  if (std::string(array.attribute("format").as_string("ascii")) == "ascii")
    return ReadAscii(m_xmlText, array, count,
                     [](TokenScanner& in) { return in.NextFiniteDouble("a value"); });
  const std::string bytes = Bytes(array, size, count);
  std::vector<double> values(count);
  for (size_t i = 0; i < count; ++i) {
    const std::uint64_t bits = LoadUnsigned(bytes.data() + i * size, size, m_littleEndian);
    if (size == 4) {
      float narrow = 0.0f;
      const auto bits32 = static_cast<std::uint32_t>(bits);
      std::memcpy(&narrow, &bits32, 4);
      values[i] = static_cast<double>(narrow);
    } else {
      std::memcpy(&values[i], &bits, 8);
    }
    if (!std::isfinite(values[i])) Fail(array, "value " + std::to_string(i) + " is not finite");
  }
  return values;
}

std::vector<long long> VtuFile::Integers(pugi::xml_node array, size_t count, long long min,
                                         long long max) const {
  const std::string type = array.attribute("type").value();
  bool real = false, isSigned = false;
  const size_t size = SizeOfType(type, real, isSigned);
  if (size == 0 || real) Fail(array, "type " + Quote(type) + " is not an integer type");
  if (std::string(array.attribute("format").as_string("ascii")) == "ascii")
    return ReadAscii(m_xmlText, array, count, [min, max](TokenScanner& in) {
      return in.NextInteger("a value", min, max);
    });
  const std::string bytes = Bytes(array, size, count);
  std::vector<long long> values(count);
  for (size_t i = 0; i < count; ++i) {
    const std::uint64_t bits = LoadUnsigned(bytes.data() + i * size, size, m_littleEndian);
    const std::uint64_t sign = size == 8 ? 0 : std::uint64_t{1} << (8 * size - 1);
    const bool negative = isSigned && (size == 8 ? bits >> 63 != 0 : (bits & sign) != 0);
    if (!isSigned && bits > static_cast<std::uint64_t>(LLONG_MAX))
      Fail(array, "value " + std::to_string(i) + " is outside " + std::to_string(min) + ".." +
                      std::to_string(max));
    // Sign-extend narrower values; two's complement is what the format stores.
    const std::uint64_t extended = negative && size < 8 ? bits | ~((sign << 1) - 1) : bits;
    long long value = 0;
    std::memcpy(&value, &extended, 8);
    if (value < min || value > max)
      Fail(array, "value " + std::to_string(i) + " (" + std::to_string(value) + ") is outside " +
                      std::to_string(min) + ".." + std::to_string(max));
    values[i] = value;
  }
  return values;
}

}  // namespace vela::io::detail
