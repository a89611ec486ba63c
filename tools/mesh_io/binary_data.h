#pragma once

// Bytes inside mesh files: little-endian numbers, base64 text and the block
// compression of VTK's XML files. Internal to the host-side file formats.

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vela::io::detail {

// Stores the value's bytes at bytes, least significant first, whatever the
// machine's own byte order: the files say "LittleEndian" and must be so
// everywhere.
template <typename T>
void StoreLittleEndian(T value, char* bytes) {
  static_assert(sizeof(T) <= 8, "at most 64-bit values");
  std::uint64_t bits = 0;
  if constexpr (sizeof(T) == 8) {
    std::memcpy(&bits, &value, 8);
  } else {
    using Unsigned = std::conditional_t<sizeof(T) == 4, std::uint32_t,
                                        std::conditional_t<sizeof(T) == 2, std::uint16_t, std::uint8_t>>;
    Unsigned narrow = 0;
    std::memcpy(&narrow, &value, sizeof(T));
    bits = narrow;
  }
  for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<char>((bits >> (8 * i)) & 0xffu);
}

template <typename T>
void AppendLittleEndian(std::string& out, T value) {
  char bytes[sizeof(T)];
  StoreLittleEndian(value, bytes);
  out.append(bytes, sizeof(T));
}

// The size-byte unsigned number at bytes, stored least (littleEndian) or most
// significant byte first. size is 1, 2, 4 or 8.
std::uint64_t LoadUnsigned(const char* bytes, size_t size, bool littleEndian);

// Appends bytes as base64 (RFC 4648, padded, no line breaks).
void AppendBase64(std::string& out, std::string_view bytes);

// Reads base64 text one group of four characters at a time, so that several
// padded streams written one after the other (as VTK writes a compressed
// array's header and its data) read as one run of bytes. Whitespace is skipped.
class Base64Reader {
public:
  explicit Base64Reader(std::string_view text) : m_text(text) {}
  // Appends the next count bytes to out; false when the text ends first or
  // holds a character outside base64.
  bool Take(size_t count, std::string& out);

private:
  bool DecodeGroup();

  std::string_view m_text;
  size_t m_pos = 0;
  std::string m_pending;  // decoded but not yet taken
  size_t m_pendingPos = 0;
};

// Writes the bytes [offset, offset + length) of an array into buffer.
using ByteSource = std::function<void(size_t offset, size_t length, char* buffer)>;

// VTK's zlib layout of one array: a header of headerSize-byte numbers (block
// count, uncompressed block size, size of the last block or 0 when it is
// full, then every block's compressed size) followed by the blocks. Kept in
// pieces, so that a file's text is put together with a single copy of each.
struct VtkBlocks {
  std::string header;
  std::vector<std::string> blocks;

  size_t Size() const;
  void AppendTo(std::string& out) const;
};

// Compresses an array of size bytes, taken from source one block at a time
// (so that the whole array never exists uncompressed). headerSize is 4
// (UInt32) or 8 (UInt64); level is libdeflate's 1..12. Blocks are 1 MiB, a multiple
// of every value size, and are compressed on as many threads as the machine
// has cores (at most 8): source is called from those threads at once and
// must only read shared data.
VtkBlocks CompressVtkBlocks(size_t size, const ByteSource& source, size_t headerSize, int level);

// Inflates one zlib stream into exactly size bytes; false when the data is
// not such a stream.
bool InflateExactly(std::string_view compressed, size_t size, std::string& out);

}  // namespace vela::io::detail
