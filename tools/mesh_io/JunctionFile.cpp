#include "JunctionFile.h"

#include "FileText.h"
#include "JsonText.h"

#include <nlohmann/json.hpp>

#include <climits>
#include <cstdint>
#include <filesystem>

namespace vela::io {

namespace {

using detail::DescribeJson;
using detail::JsonIndexed;
using nlohmann::json;

const char* const kKnownKeys[] = {
    "name",         "center",      "far_points",         "radii",
    "inner_share",  "outer_share", "first_circle_nodes", "inner_layers",
    "outer_layers", "margin"};

[[noreturn]] void Fail(const std::string& where, const std::string& problem) {
  throw JunctionFileError(where + ": " + problem);
}

double Number(const json& value, const std::string& where) {
  // Every number is finite here: ParseJson refuses literals like 1e400 that overflow.
  if (!value.is_number()) Fail(where, "expected a number, got " + DescribeJson(value));
  return value.get<double>();
}

int Integer(const json& value, const std::string& where) {
  if (!value.is_number_integer()) Fail(where, "expected an integer, got " + DescribeJson(value));
  if (value.is_number_unsigned()) {
    const std::uint64_t u = value.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(INT_MAX))
      Fail(where, "integer " + value.dump() + " is out of range");
    return static_cast<int>(u);
  }
  const std::int64_t s = value.get<std::int64_t>();
  if (s < INT_MIN || s > INT_MAX) Fail(where, "integer " + value.dump() + " is out of range");
  return static_cast<int>(s);
}

const json& Array(const json& value, const std::string& where, const std::string& expected) {
  if (!value.is_array()) Fail(where, "expected " + expected + ", got " + DescribeJson(value));
  return value;
}

std::vector<double> Numbers(const json& value, const std::string& key) {
  const json& array = Array(value, key, "an array of numbers");
  std::vector<double> numbers;
  numbers.reserve(array.size());
  for (size_t i = 0; i < array.size(); ++i)
    numbers.push_back(Number(array[i], JsonIndexed(key, i)));
  return numbers;
}

std::array<double, 3> Point(const json& value, const std::string& where) {
  if (!value.is_array() || value.size() != 3)
    Fail(where, "expected 3 numbers [x, y, z], got " + DescribeJson(value));
  return {Number(value[0], JsonIndexed(where, 0)), Number(value[1], JsonIndexed(where, 1)),
          Number(value[2], JsonIndexed(where, 2))};
}

std::vector<std::array<double, 3>> FarPoints(const json& value) {
  const json& array = Array(value, "far_points", "an array of points");
  if (array.size() < 2)
    Fail("far_points", "expected at least 2 points, got " + std::to_string(array.size()));
  std::vector<std::array<double, 3>> points;
  for (size_t i = 0; i < array.size(); ++i)
    points.push_back(Point(array[i], JsonIndexed("far_points", i)));
  return points;
}

std::array<int, 2> Margin(const json& value) {
  if (!value.is_array() || value.size() != 2)
    Fail("margin", "expected two integers [a, b], got " + DescribeJson(value));
  return {Integer(value[0], "margin[0]"), Integer(value[1], "margin[1]")};
}

void RejectUnknownKeys(const json& object) {
  for (const auto& item : object.items()) {
    bool known = false;
    std::string expected;
    for (const char* key : kKnownKeys) {
      known = known || item.key() == key;
      expected += (expected.empty() ? "" : ", ") + std::string(key);
    }
    if (!known) Fail(item.key(), "unknown key (expected " + expected + ")");
  }
}

const json& Required(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end()) Fail(key, "missing (the key is required)");
  return *it;
}

json ParseText(const std::string& text) {
  json root;
  detail::JsonProblem problem;
  if (!detail::ParseJson(text, root, problem))
    throw JunctionFileError(problem.where.empty() ? problem.problem
                                                  : problem.where + ": " + problem.problem);
  return root;
}

}  // namespace

JunctionFile ParseJunction(const std::string& text, const std::string& nameHint) {
  const json root = ParseText(text);
  if (!root.is_object())
    throw JunctionFileError("expected a JSON object at the top, got " + DescribeJson(root));
  RejectUnknownKeys(root);

  JunctionFile junction;
  junction.name = nameHint;
  if (const auto it = root.find("name"); it != root.end()) {
    if (!it->is_string()) Fail("name", "expected a string, got " + DescribeJson(*it));
    if (it->get<std::string>().empty()) Fail("name", "must not be empty");
    junction.name = it->get<std::string>();
  }
  junction.center = Point(Required(root, "center"), "center");
  junction.farPoints = FarPoints(Required(root, "far_points"));
  junction.radii = Numbers(Required(root, "radii"), "radii");
  const size_t radiusCount = 2 * junction.farPoints.size();
  if (junction.radii.size() != radiusCount)
    Fail("radii", "expected " + std::to_string(radiusCount) + " numbers (two per runner), got " +
                      std::to_string(junction.radii.size()));

  if (const auto it = root.find("inner_share"); it != root.end())
    junction.innerShare = Number(*it, "inner_share");
  if (const auto it = root.find("outer_share"); it != root.end())
    junction.outerShare = Number(*it, "outer_share");
  if (const auto it = root.find("first_circle_nodes"); it != root.end())
    junction.firstCircleNodes = Integer(*it, "first_circle_nodes");
  if (const auto it = root.find("inner_layers"); it != root.end())
    junction.innerLayers = Numbers(*it, "inner_layers");
  if (const auto it = root.find("outer_layers"); it != root.end())
    junction.outerLayers = Numbers(*it, "outer_layers");
  if (const auto it = root.find("margin"); it != root.end()) junction.margin = Margin(*it);
  return junction;
}

JunctionFile ReadJunctionFile(const std::string& path) {
  try {
    return ParseJunction(detail::ReadWholeFile(path), std::filesystem::path(path).stem().string());
  } catch (const std::runtime_error& e) {
    throw JunctionFileError(path + ": " + e.what());
  }
}

std::string WriteJunctionJson(const JunctionFile& junction) {
  nlohmann::ordered_json root;
  root["name"] = junction.name;
  root["center"] = junction.center;
  root["far_points"] = junction.farPoints;
  root["radii"] = junction.radii;
  root["inner_share"] = junction.innerShare;
  root["outer_share"] = junction.outerShare;
  root["first_circle_nodes"] = junction.firstCircleNodes;
  root["inner_layers"] = junction.innerLayers;
  root["outer_layers"] = junction.outerLayers;
  root["margin"] = junction.margin;
  // A name that is not UTF-8 must not make the whole file unwritable.
  return root.dump(1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace vela::io
