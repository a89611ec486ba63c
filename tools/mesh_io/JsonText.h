#pragma once

// JSON parsing with messages a user can act on: where in the document the
// problem sits ("radii[1]") and what it is. Internal to vela_mesh_io.

#include <nlohmann/json.hpp>

#include <string>

namespace vela::io::detail {

struct JsonProblem {
  std::string where;    // path of the offending value, e.g. "far_points[1][2]"; may be empty
  std::string problem;  // one line
};

// Parses text into out. On failure returns false and fills problem: a syntax
// error gives "not valid JSON: parse error at line L, column C: ..."; a number
// that overflows a double (1e400, which the parser refuses) gives the path of
// that number and "number ... is too large for a double (not finite)".
bool ParseJson(const std::string& text, nlohmann::json& out, JsonProblem& problem);

// A short description of a value for "expected ..., got ..." messages:
// numbers by value, everything else by kind, so a message never grows with
// the file.
std::string DescribeJson(const nlohmann::json& value);

// "key[index]".
std::string JsonIndexed(const std::string& key, size_t index);

}  // namespace vela::io::detail
