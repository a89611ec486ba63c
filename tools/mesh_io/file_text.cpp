#include "file_text.h"

#include "mesh_file.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include <unistd.h>

namespace vela::io::detail {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// A name no other writer in this or another process picks at the same time.
std::string TemporaryNameFor(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + ".partial-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

// The whole token as a number of T's kind. from_chars refuses a leading '+', which other
// writers do produce; it accepts "inf" and "nan", which callers refuse where they must.
template <typename T>
bool ParseWhole(std::string_view token, T& value) {
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  const char* const end = token.data() + token.size();
  const auto result = std::from_chars(token.data(), end, value);
  return !token.empty() && result.ec == std::errc() && result.ptr == end;
}

// The temporary files an interrupt must remove. The handler may only read
// lock-free atomics and fixed buffers, so the paths live in a fixed table
// rather than in strings that a write may be reallocating at that moment.
constexpr int kInterruptSlots = 16;
constexpr size_t kInterruptPathBytes = 4096;

struct InterruptSlot {
  std::atomic<bool> taken{false};
  std::atomic<bool> armed{false};
  char path[kInterruptPathBytes];
};

InterruptSlot g_interruptSlots[kInterruptSlots];

extern "C" void RemoveTemporaryFilesAndStop(int signal) {
  for (InterruptSlot& slot : g_interruptSlots)
    if (slot.armed.load()) ::unlink(slot.path);
  // The handler was installed with SA_RESETHAND: the signal's own default
  // action ends the process once this handler returns, with the status a
  // parent expects from it.
  ::raise(signal);
}

int ArmInterruptSlot(const std::string& path) {
  if (path.size() >= kInterruptPathBytes) return -1;
  for (int i = 0; i < kInterruptSlots; ++i) {
    InterruptSlot& slot = g_interruptSlots[i];
    if (slot.taken.exchange(true)) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.armed.store(true);
    return i;
  }
  return -1;
}

void DisarmInterruptSlot(int i) {
  if (i < 0) return;
  g_interruptSlots[i].armed.store(false);
  g_interruptSlots[i].taken.store(false);
}

std::string ErrnoText() { return std::strerror(errno); }

}  // namespace

TemporaryFile::TemporaryFile(std::string path) : m_path(std::move(path)), m_slot(ArmInterruptSlot(m_path)) {}

TemporaryFile::~TemporaryFile() {
  if (!m_released) {
    std::error_code ignored;
    std::filesystem::remove(m_path, ignored);
  }
  DisarmInterruptSlot(m_slot);
}

void TemporaryFile::Release() {
  m_released = true;
  DisarmInterruptSlot(m_slot);
  m_slot = -1;
}

void RemoveTemporaryFilesOnInterrupt() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction handler {};
    handler.sa_handler = RemoveTemporaryFilesAndStop;
    sigemptyset(&handler.sa_mask);
    handler.sa_flags = SA_RESETHAND;
    ::sigaction(signal, &handler, nullptr);
  }
}

std::string ReadWholeFile(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error))
    throw std::runtime_error("cannot read the file (it is a folder)");
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::runtime_error(std::string("cannot read the file (") + std::strerror(errno) + ")");
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) throw std::runtime_error("cannot read the file (read error)");
  return text;
}

void WriteFileAtomically(const std::string& path, const std::string& text) {
  TemporaryFile temporary(TemporaryNameFor(path));
  {
    std::ofstream out(temporary.Path(), std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write '" + Printable(path) + "' (" + ErrnoText() + ")");
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write '" + Printable(path) + "' (" + ErrnoText() + ")");
  }
  std::error_code error;
  std::filesystem::rename(temporary.Path(), path, error);
  if (error) throw std::runtime_error("cannot replace '" + Printable(path) + "' (" + error.message() + ")");
  temporary.Release();
}

void AppendDouble(std::string& out, double value) {
  char buffer[32];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 17);
  out.append(buffer, result.ptr);
}

void AppendPoint(std::string& out, const std::array<double, 3>& point) {
  for (size_t k = 0; k < 3; ++k) {
    AppendDouble(out, point[k]);
    out += k < 2 ? ' ' : '\n';
  }
}

bool ParseInteger(std::string_view token, long long& value) { return ParseWhole(token, value); }

std::string NameProblem(const std::string& name) {
  if (name.empty()) return "the name is empty";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return "the name holds a control character";
    if (c == '"') return "the name holds a double quote";
  }
  return "";
}

std::string Quote(std::string_view token) {
  constexpr size_t kShown = 40;
  if (token.size() <= kShown) return "'" + Printable(token) + "'";
  return "'" + Printable(token.substr(0, kShown)) + "...'";
}

std::string Printable(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      out += c;
      continue;
    }
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    }
  }
  return out;
}

TokenScanner::TokenScanner(std::string_view text, std::string context, int firstLine)
    : m_text(text), m_context(std::move(context)), m_line(firstLine) {}

void TokenScanner::SkipSpace() {
  while (m_pos < m_text.size() && IsSpace(m_text[m_pos])) {
    if (m_text[m_pos] == '\n') ++m_line;
    ++m_pos;
  }
}

bool TokenScanner::AtEnd() {
  SkipSpace();
  return m_pos == m_text.size();
}

std::string_view TokenScanner::Next(std::string_view what) {
  if (AtEnd()) Fail("expected " + std::string(what) + ", got the end of the data");
  const size_t start = m_pos;
  while (m_pos < m_text.size() && !IsSpace(m_text[m_pos])) ++m_pos;
  return m_text.substr(start, m_pos - start);
}

long long TokenScanner::NextInteger(std::string_view what, long long min, long long max) {
  const std::string_view token = Next(what);
  long long value = 0;
  if (!ParseInteger(token, value))
    Fail("expected " + std::string(what) + " (an integer), got " + Quote(token));
  if (value < min || value > max)
    Fail(std::string(what) + " " + std::string(token) + " is outside " + std::to_string(min) +
         ".." + std::to_string(max));
  return value;
}

double TokenScanner::NextFiniteDouble(std::string_view what) {
  const std::string_view token = Next(what);
  double value = 0.0;
  if (!ParseWhole(token, value))
    Fail("expected " + std::string(what) + " (a number), got " + Quote(token));
  if (!std::isfinite(value)) Fail(std::string(what) + " is not finite: " + Quote(token));
  return value;
}

void TokenScanner::Expect(std::string_view expected) {
  const std::string_view token = Next(expected);
  if (token != expected) Fail("expected '" + std::string(expected) + "', got " + Quote(token));
}

void TokenScanner::MoveTo(size_t offset) {
  if (offset < m_pos || offset > m_text.size()) Fail("a jump outside the data");
  m_line += static_cast<int>(std::count(m_text.begin() + static_cast<std::ptrdiff_t>(m_pos),
                                        m_text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
  m_pos = offset;
}

void TokenScanner::Fail(const std::string& problem) const {
  throw MeshFileError(m_context + (m_context.empty() ? "" : " ") + "line " +
                      std::to_string(m_line) + ": " + problem);
}

}  // namespace vela::io::detail
