#pragma once

// Text plumbing shared by the file formats: whole-file reads, all-or-nothing
// writes, locale-independent number text, and a whitespace token scanner that
// knows its line for error messages. Internal to vela_mesh_io.

#include <array>
#include <string>
#include <string_view>

namespace vela::io::detail {

// The file's bytes. Throws std::runtime_error "cannot read the file (reason)"
// (without the path: callers put it in front).
std::string ReadWholeFile(const std::string& path);

// Writes text to a new file next to path and renames it over path, so that
// readers see either the old file or the whole new one, never a half-written
// file. Throws std::runtime_error naming path (never the temporary name, which
// the user did not ask for) on any failure, after removing the temporary file.
void WriteFileAtomically(const std::string& path, const std::string& text);

// From now on SIGINT, SIGTERM and SIGHUP first remove every temporary file
// that a write has not yet renamed into place, then end the process as the
// signal would have. Signals the process ignores stay ignored. Call once,
// early in main.
void RemoveTemporaryFilesOnInterrupt();

// A temporary file name, removed when the object goes out of scope unless
// Release() was called, and by the handler above when the process is
// interrupted meanwhile. A name too long for the handler's table
// (4095 bytes) is only removed at scope exit.
class TemporaryFile {
public:
  explicit TemporaryFile(std::string path);
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();
  const std::string& Path() const { return m_path; }
  // The file was renamed into place: keep whatever now bears the name.
  void Release();

private:
  std::string m_path;
  int m_slot = -1;  // in the interrupt handler's table, or -1
  bool m_released = false;
};

// Appends value with 17 significant digits, the fewest that bring every double
// back unchanged, independent of the C locale. value must be finite.
void AppendDouble(std::string& out, double value);

// Appends "x y z\n", each coordinate as AppendDouble writes it.
void AppendPoint(std::string& out, const std::array<double, 3>& point);

// The whole token as an integer; false when it is not entirely one or is out of range.
bool ParseInteger(std::string_view token, long long& value);

// Splits text at whitespace. Every failure throws MeshFileError as
// "<context> line N: <problem>", N counted from firstLine.
class TokenScanner {
public:
  TokenScanner(std::string_view text, std::string context, int firstLine = 1);

  // True when only whitespace is left.
  bool AtEnd();
  // The next token; throws when the text ends first. what names the expected item.
  std::string_view Next(std::string_view what);
  // The next token as an integer in [min, max]; throws otherwise.
  long long NextInteger(std::string_view what, long long min, long long max);
  // The next token as a finite double; throws otherwise.
  double NextFiniteDouble(std::string_view what);
  // Throws unless the next token is exactly expected.
  void Expect(std::string_view expected);

  // The byte after the last token read, and a jump forward to another byte,
  // for binary data between tokens (a binary .msh section).
  size_t Offset() const { return m_pos; }
  void MoveTo(size_t offset);
  std::string_view Text() const { return m_text; }

  [[noreturn]] void Fail(const std::string& problem) const;

private:
  void SkipSpace();

  std::string_view m_text;
  std::string m_context;
  size_t m_pos = 0;
  int m_line = 1;
};

// What keeps name from naming a region or patch in every format, or "": an
// empty name, a control character, or a double quote (Gmsh's physical names
// are quoted and cannot hold one).
std::string NameProblem(const std::string& name);

// Shortens a token for an error message so that a garbage file cannot make a
// message huge, and quotes it as Printable does.
std::string Quote(std::string_view token);

// text with every control character written as an escape (\n, \t, \r, \xHH),
// so that a key or value echoed from a file keeps a message on one line.
std::string Printable(std::string_view text);

}  // namespace vela::io::detail
