#pragma once

// JSON reading shared by junction files and .json meshes, with messages a user
// can act on: where in the document the problem sits ("radii[1]") and what it
// is. Internal to vela_mesh_io.

#include <nlohmann/json.hpp>

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace vela::io::detail {

// One line "where: problem", or only the problem when it has no path (a syntax
// error names its line and column instead). Callers turn it into their own
// error type.
class JsonError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Throws JsonError "where: problem" ("problem" when where is empty).
[[noreturn]] void FailJson(const std::string& where, const std::string& problem);

// The parsed text. Throws JsonError "not valid JSON: parse error at line L,
// column C: ..." for a syntax error; a number that overflows a double (1e400,
// which the parser refuses) gives the path of that number, e.g.
// "radii[1]: number overflow parsing '1e400' (not finite)".
nlohmann::json ParseJson(const std::string& text);

// object[key]; parent is the path of object ("" at the top). Throws JsonError
// "parent.key: missing (the key is required)".
const nlohmann::json& RequiredKey(const nlohmann::json& object, const std::string& key,
                                  const std::string& parent = "");

// value as a number, a point [x, y, z] or an array of points; where is its
// path for messages. Throws JsonError for anything else. Numbers are finite
// because ParseJson refuses the ones that are not.
double JsonNumber(const nlohmann::json& value, const std::string& where);
std::array<double, 3> JsonPoint(const nlohmann::json& value, const std::string& where);
std::vector<std::array<double, 3>> JsonPoints(const nlohmann::json& value,
                                              const std::string& where);

// value as an int (a JSON integer within int's range) or as a flat array of
// numbers; where is its path for messages. Throws JsonError for anything else.
int JsonInteger(const nlohmann::json& value, const std::string& where);
std::vector<double> JsonNumbers(const nlohmann::json& value, const std::string& where);

// value as a length unit a file may name (length_unit.h); where is its path
// for messages. Throws JsonError for anything else.
std::string JsonUnits(const nlohmann::json& value, const std::string& where);

// Reads object[key] into field when the key is there, with read(value, key);
// field keeps its default otherwise.
template <typename T, typename Read>
void ReadOptional(const nlohmann::json& object, const char* key, Read read, T& field) {
  if (const auto it = object.find(key); it != object.end()) field = read(*it, key);
}

// Throws JsonError "parent.key: unknown key (expected a, b, ...)" for the
// first key of object that is not among the count names of known; parent is
// the path of object ("" at the top).
void RejectUnknownKeys(const nlohmann::json& object, const char* const* known, size_t count,
                       const std::string& parent = "");
template <size_t N>
void RejectUnknownKeys(const nlohmann::json& object, const char* const (&known)[N],
                       const std::string& parent = "") {
  RejectUnknownKeys(object, known, N, parent);
}

// A short description of a value for "expected ..., got ..." messages:
// numbers by value, everything else by kind, so a message never grows with
// the file.
std::string DescribeJson(const nlohmann::json& value);

// "key[index]".
std::string JsonIndexed(const std::string& key, size_t index);

// A key from the document as it may appear in a message: control characters
// escaped and long keys shortened, so that a message stays one short line
// whatever the file's keys hold.
std::string PrintableKey(const std::string& key);

}  // namespace vela::io::detail
