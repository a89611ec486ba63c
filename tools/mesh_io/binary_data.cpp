#include "binary_data.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <exception>
#include <stdexcept>
#include <thread>
#include <vector>

namespace vela::io::detail {

namespace {

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Blocks of 1 MiB: each block is a zlib stream of its own, and at VTK's usual
// 32 KiB starting a stream costs as much as compressing it. Readers take any
// block size from the header.
constexpr size_t kVtkBlockSize = 1 << 20;

}  // namespace

std::uint64_t LoadUnsigned(const char* bytes, size_t size, bool littleEndian) {
  std::uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) {
    const size_t at = littleEndian ? size - 1 - i : i;
    value = (value << 8) | static_cast<unsigned char>(bytes[at]);
  }
  return value;
}

void AppendBase64(std::string& out, std::string_view bytes) {
  out.reserve(out.size() + (bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += {kBase64[v >> 18], kBase64[(v >> 12) & 63], kBase64[(v >> 6) & 63], kBase64[v & 63]};
  }
  if (i == bytes.size()) return;
  const bool two = i + 2 == bytes.size();
  const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                     (two ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0u);
  out += {kBase64[v >> 18], kBase64[(v >> 12) & 63], two ? kBase64[(v >> 6) & 63] : '=', '='};
}

bool Base64Reader::DecodeGroup() {
  char group[4];
  size_t n = 0;
  while (n < 4 && m_pos < m_text.size()) {
    const char c = m_text[m_pos++];
    if (!IsXmlSpace(c)) group[n++] = c;
  }
  if (n < 4) return false;
  unsigned v = 0;
  int kept = 3;
  for (size_t k = 0; k < 4; ++k) {
    int value = Base64Value(group[k]);
    if (group[k] == '=' && k >= 2) {
      // "xx==" holds one byte, "xxx=" two; nothing may follow a pad in a group
      if (k == 2 && group[3] != '=') return false;
      kept = std::min(kept, static_cast<int>(k) - 1);
      value = 0;
    }
    if (value < 0) return false;
    v = v << 6 | static_cast<unsigned>(value);
  }
  const char bytes[3] = {static_cast<char>(v >> 16), static_cast<char>((v >> 8) & 0xff),
                         static_cast<char>(v & 0xff)};
  m_pending.append(bytes, static_cast<size_t>(kept));
  return true;
}

bool Base64Reader::Take(size_t count, std::string& out) {
  while (m_pending.size() - m_pendingPos < count) {
    if (m_pendingPos > 0) {
      m_pending.erase(0, m_pendingPos);
      m_pendingPos = 0;
    }
    if (!DecodeGroup()) return false;
  }
  out.append(m_pending, m_pendingPos, count);
  m_pendingPos += count;
  return true;
}

namespace {

// One compressor per thread, used for every block that thread takes.
// libdeflate writes the same zlib streams as zlib, which every reader
// inflates, at twice zlib's speed at its fastest level on mesh arrays: the
// compression is most of the time a binary file takes to write.
class BlockDeflater {
public:
  explicit BlockDeflater(int level) : m_compressor(libdeflate_alloc_compressor(level)) {
    if (!m_compressor) throw std::runtime_error("could not start compressing");
    m_buffer.resize(libdeflate_zlib_compress_bound(m_compressor, kVtkBlockSize));
  }
  BlockDeflater(const BlockDeflater&) = delete;
  BlockDeflater& operator=(const BlockDeflater&) = delete;
  ~BlockDeflater() { libdeflate_free_compressor(m_compressor); }

  // The block (at most kVtkBlockSize bytes) as one whole zlib stream.
  // Compressing into the one warm buffer and copying out the bytes that
  // result is cheaper than giving each block a fresh buffer of the bound.
  std::string Compress(std::string_view block) {
    const size_t size = libdeflate_zlib_compress(m_compressor, block.data(), block.size(),
                                                 m_buffer.data(), m_buffer.size());
    if (size == 0) throw std::runtime_error("could not compress a block");
    return std::string(m_buffer.data(), size);
  }

private:
  libdeflate_compressor* m_compressor;
  std::vector<char> m_buffer;
};

}  // namespace

namespace {

// Compresses blocks first, first + step, ... of the array into compressed;
// one call per thread, each with its own compressor and block buffer.
void CompressBlocks(size_t size, const ByteSource& source, int level, size_t first, size_t step,
                    std::vector<std::string>& compressed) {
  BlockDeflater deflater(level);
  std::vector<char> block(std::min(size, kVtkBlockSize));
  for (size_t b = first; b < compressed.size(); b += step) {
    const size_t length = std::min(kVtkBlockSize, size - b * kVtkBlockSize);
    source(b * kVtkBlockSize, length, block.data());
    compressed[b] = deflater.Compress(std::string_view(block.data(), length));
  }
}

// Blocks are independent zlib streams, so they compress on every core at
// once; each block's bytes depend on its input alone, so the file is the
// same whatever the number of threads.
std::vector<std::string> CompressAllBlocks(size_t size, const ByteSource& source, int level) {
  std::vector<std::string> compressed((size + kVtkBlockSize - 1) / kVtkBlockSize);
  const size_t threads = std::min<size_t>(
      {compressed.size(), std::max(1u, std::thread::hardware_concurrency()), 8});
  std::vector<std::exception_ptr> failures(threads);
  std::vector<std::thread> workers;
  const auto work = [&](size_t t) {
    try {
      CompressBlocks(size, source, level, t, threads, compressed);
    } catch (...) {
      failures[t] = std::current_exception();
    }
  };
  for (size_t t = 1; t < threads; ++t) workers.emplace_back(work, t);
  if (threads > 0) work(0);
  for (std::thread& worker : workers) worker.join();
  for (const std::exception_ptr& failure : failures)
    if (failure) std::rethrow_exception(failure);
  return compressed;
}

}  // namespace

VtkBlocks CompressVtkBlocks(size_t size, const ByteSource& source, size_t headerSize, int level) {
  VtkBlocks array;
  array.blocks = CompressAllBlocks(size, source, level);
  std::vector<std::uint64_t> header{array.blocks.size(), kVtkBlockSize, size % kVtkBlockSize};
  for (const std::string& block : array.blocks) header.push_back(block.size());
  for (const std::uint64_t value : header) {
    if (headerSize == 4)
      AppendLittleEndian(array.header, static_cast<std::uint32_t>(value));
    else
      AppendLittleEndian(array.header, value);
  }
  return array;
}

size_t VtkBlocks::Size() const {
  size_t size = header.size();
  for (const std::string& block : blocks) size += block.size();
  return size;
}

void VtkBlocks::AppendTo(std::string& out) const {
  out += header;
  for (const std::string& block : blocks) out += block;
}

bool InflateExactly(std::string_view compressed, size_t size, std::string& out) {
  if (compressed.size() > UINT_MAX || size > UINT_MAX) return false;
  const size_t start = out.size();
  out.resize(start + size);
  uLongf length = static_cast<uLongf>(size);
  // An empty output buffer must still be a valid pointer for zlib.
  Bytef spare = 0;
  Bytef* target = size == 0 ? &spare : reinterpret_cast<Bytef*>(&out[start]);
  const int status = uncompress(target, &length, reinterpret_cast<const Bytef*>(compressed.data()),
                                static_cast<uLong>(compressed.size()));
  return status == Z_OK && length == size;
}

}  // namespace vela::io::detail
