#include "json_text.h"

#include "length_unit.h"

#include "file_text.h"

#include <algorithm>
#include <climits>

namespace vela::io::detail {

namespace {

using nlohmann::json;

// One open array or object while the parser runs.
struct Level {
  bool isArray = false;
  std::string key;   // in an object: the key of the current value
  size_t count = 0;  // in an array: values started so far
};

std::string PathOf(const std::vector<Level>& levels) {
  std::string path;
  for (const Level& level : levels) {
    if (level.isArray)
      path += "[" + std::to_string(level.count - 1) + "]";
    else
      path += (path.empty() ? "" : ".") + PrintableKey(level.key);
  }
  return path;
}

// nlohmann's message without its "[json.exception.parse_error.101] " prefix, on one line.
std::string Reason(const json::exception& error) {
  std::string reason = error.what();
  const size_t start = reason.find("] ");
  if (start != std::string::npos) reason.erase(0, start + 2);
  std::replace(reason.begin(), reason.end(), '\n', ' ');
  return reason;
}

}  // namespace

void FailJson(const std::string& where, const std::string& problem) {
  throw JsonError(where.empty() ? problem : where + ": " + problem);
}

json ParseJson(const std::string& text) {
  // The parser reports a number overflow without saying where it was, so the
  // callback follows it through the document.
  std::vector<Level> levels;
  const json::parser_callback_t follow = [&levels](int, json::parse_event_t event, json& parsed) {
    using Event = json::parse_event_t;
    if (event == Event::key) {
      levels.back().key = parsed.get<std::string>();
    } else if (event == Event::object_end || event == Event::array_end) {
      levels.pop_back();
    } else {
      if (!levels.empty() && levels.back().isArray) ++levels.back().count;
      if (event != Event::value) levels.push_back({event == Event::array_start, {}, 0});
    }
    return true;
  };
  try {
    return json::parse(text, follow);
  } catch (const json::out_of_range& error) {
    // The number that failed never reached the callback.
    if (!levels.empty() && levels.back().isArray) ++levels.back().count;
    FailJson(PathOf(levels), Reason(error) + " (not finite)");
  } catch (const json::exception& error) {
    FailJson("", "not valid JSON: " + Reason(error));
  }
}

const json& RequiredKey(const json& object, const std::string& key, const std::string& parent) {
  const auto it = object.find(key);
  if (it == object.end())
    FailJson(parent.empty() ? key : parent + "." + key, "missing (the key is required)");
  return *it;
}

double JsonNumber(const json& value, const std::string& where) {
  if (!value.is_number()) FailJson(where, "expected a number, got " + DescribeJson(value));
  return value.get<double>();
}

std::array<double, 3> JsonPoint(const json& value, const std::string& where) {
  if (!value.is_array() || value.size() != 3)
    FailJson(where, "expected 3 numbers [x, y, z], got " + DescribeJson(value));
  return {JsonNumber(value[0], JsonIndexed(where, 0)), JsonNumber(value[1], JsonIndexed(where, 1)),
          JsonNumber(value[2], JsonIndexed(where, 2))};
}

std::vector<std::array<double, 3>> JsonPoints(const json& value, const std::string& where) {
  if (!value.is_array()) FailJson(where, "expected an array of points, got " + DescribeJson(value));
  std::vector<std::array<double, 3>> points;
  points.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i)
    points.push_back(JsonPoint(value[i], JsonIndexed(where, i)));
  return points;
}

std::string JsonUnits(const json& value, const std::string& where) {
  if (value.is_string() && MetresPerUnit(value.get<std::string>()) > 0.0) return value.get<std::string>();
  FailJson(where, std::string("expected one of ") + kUnitNames + ", got " +
                      (value.is_string() ? "\"" + PrintableKey(value.get<std::string>()) + "\"" : DescribeJson(value)));
}

int JsonInteger(const json& value, const std::string& where) {
  if (!value.is_number_integer()) FailJson(where, "expected an integer, got " + DescribeJson(value));
  const double approximate = value.get<double>();
  if (approximate < INT_MIN || approximate > INT_MAX)
    FailJson(where, "integer " + value.dump() + " is out of range");
  return value.get<int>();
}

std::vector<double> JsonNumbers(const json& value, const std::string& where) {
  if (!value.is_array()) FailJson(where, "expected an array of numbers, got " + DescribeJson(value));
  std::vector<double> numbers;
  for (size_t i = 0; i < value.size(); ++i) numbers.push_back(JsonNumber(value[i], JsonIndexed(where, i)));
  return numbers;
}

void RejectUnknownKeys(const json& object, const char* const* known, size_t count, const std::string& parent) {
  const char* const* end = known + count;
  for (const auto& item : object.items()) {
    if (std::find(known, end, item.key()) != end) continue;
    std::string expected;
    for (const char* const* key = known; key != end; ++key)
      expected += std::string(expected.empty() ? "" : ", ") + *key;
    const std::string name = PrintableKey(item.key());
    FailJson(parent.empty() ? name : parent + "." + name, "unknown key (expected " + expected + ")");
  }
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

std::string PrintableKey(const std::string& key) {
  constexpr size_t kShown = 40;
  if (key.size() <= kShown) return Printable(key);
  return Printable(std::string_view(key).substr(0, kShown)) + "...";
}

}  // namespace vela::io::detail
