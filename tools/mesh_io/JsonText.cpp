#include "JsonText.h"

#include "FileText.h"

#include <vector>

namespace vela::io::detail {

namespace {

using nlohmann::json;

// Follows the parser through the document so that, when it stops, the path
// of the value it stopped at is known. Only run after a failed parse: the
// plain parser reports a number overflow without saying where it was.
class PathTracker : public nlohmann::json_sax<json> {
public:
  bool null() override { return Value(); }
  bool boolean(bool) override { return Value(); }
  bool number_integer(number_integer_t) override { return Value(); }
  bool number_unsigned(number_unsigned_t) override { return Value(); }
  bool number_float(number_float_t, const string_t&) override { return Value(); }
  bool string(string_t&) override { return Value(); }
  bool binary(binary_t&) override { return Value(); }
  bool start_object(std::size_t) override {
    Value();
    m_levels.push_back({false, {}, 0});
    return true;
  }
  bool key(string_t& name) override {
    m_levels.back().key = name;
    return true;
  }
  bool end_object() override {
    m_levels.pop_back();
    return true;
  }
  bool start_array(std::size_t) override {
    Value();
    m_levels.push_back({true, {}, 0});
    return true;
  }
  bool end_array() override {
    m_levels.pop_back();
    return true;
  }
  bool parse_error(std::size_t, const std::string& lastToken,
                   const nlohmann::detail::exception& error) override {
    // A value that failed never reached Value(), so the open array's counter
    // still points at the previous entry.
    if (!m_levels.empty() && m_levels.back().isArray) ++m_levels.back().count;
    m_problem.where = Path();
    if (error.id == 406) {
      m_problem.problem = "number " + Quote(lastToken) + " is too large for a double (not finite)";
    } else {
      std::string reason = error.what();
      const size_t start = reason.find("] ");
      if (start != std::string::npos) reason.erase(0, start + 2);
      for (char& c : reason)
        if (c == '\n' || c == '\r') c = ' ';
      m_problem.where.clear();  // a syntax error's position is its line and column
      m_problem.problem = "not valid JSON: " + reason;
    }
    return false;
  }

  const JsonProblem& Problem() const { return m_problem; }

private:
  struct Level {
    bool isArray;
    std::string key;
    size_t count;  // values seen so far in an array
  };

  bool Value() {
    if (!m_levels.empty() && m_levels.back().isArray) ++m_levels.back().count;
    return true;
  }

  std::string Path() const {
    std::string path;
    for (const Level& level : m_levels) {
      if (level.isArray) {
        if (level.count > 0) path += "[" + std::to_string(level.count - 1) + "]";
      } else {
        if (!path.empty()) path += ".";
        path += level.key;
      }
    }
    return path;
  }

  std::vector<Level> m_levels;
  JsonProblem m_problem{"", "not valid JSON"};
};

}  // namespace

bool ParseJson(const std::string& text, json& out, JsonProblem& problem) {
  try {
    out = json::parse(text);
    return true;
  } catch (const json::exception&) {
    // Parse again, this time following the path, to say where it failed.
  }
  PathTracker tracker;
  if (json::sax_parse(text, &tracker))
    problem = {"", "not valid JSON"};  // the two parsers disagree; never seen
  else
    problem = tracker.Problem();
  return false;
}

std::string DescribeJson(const json& value) {
  switch (value.type()) {
    case json::value_t::null: return "null";
    case json::value_t::boolean: return value.get<bool>() ? "true" : "false";
    case json::value_t::string: return "a string";
    case json::value_t::object: return "an object";
    case json::value_t::array: {
      const size_t n = value.size();
      return "an array of " + std::to_string(n) + (n == 1 ? " entry" : " entries");
    }
    default: return value.dump();
  }
}

std::string JsonIndexed(const std::string& key, size_t index) {
  return key + "[" + std::to_string(index) + "]";
}

}  // namespace vela::io::detail
