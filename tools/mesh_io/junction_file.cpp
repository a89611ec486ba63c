#include "junction_file.h"

#include "file_text.h"
#include "json_text.h"
#include "length_unit.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <iterator>

namespace vela::io {

namespace {

using detail::DescribeJson;
using detail::FailJson;
using detail::JsonIndexed;
using detail::JsonInteger;
using detail::JsonNumber;
using detail::JsonNumbers;
using detail::ReadOptional;
using nlohmann::json;

const char* const kKnownKeys[] = {
    "name",         "center",      "far_points",         "radii",
    "inner_share",  "outer_share", "first_circle_nodes", "inner_layers",
    "outer_layers", "margin",      "extent",             "units"};

std::array<int, 2> Margin(const json& value, const std::string& key) {
  if (!value.is_array() || value.size() != 2)
    FailJson(key, "expected two integers [a, b], got " + DescribeJson(value));
  return {JsonInteger(value[0], JsonIndexed(key, 0)), JsonInteger(value[1], JsonIndexed(key, 1))};
}

JunctionFile::Extent Extent(const json& value, const std::string& key) {
  if (value != "runner-length")
    FailJson(key, "expected \"runner-length\" (or no key: far points as given), got " +
                      (value.is_string() ? "\"" + detail::PrintableKey(value.get<std::string>()) + "\""
                                         : DescribeJson(value)));
  return JunctionFile::Extent::RunnerLength;
}

// Far points placed at the runner lengths need finite lengths that keep the
// runners' margin: a / b of 0 makes them infinite, below 0 eats the margin.
// (Compared, not divided: INT_MIN / -1 has no int value.)
void CheckMarginPlaces(const std::array<int, 2>& margin) {
  if (margin[1] > 0 && margin[0] >= margin[1]) return;
  FailJson("margin", "with \"extent\": \"runner-length\" expected a >= b > 0 (a / b at least 1), got [" +
                         std::to_string(margin[0]) + ", " + std::to_string(margin[1]) + "]");
}

JunctionFile Junction(const json& root, const std::string& nameHint) {
  if (!root.is_object())
    FailJson("", "expected a JSON object at the top, got " + DescribeJson(root));
  detail::RejectUnknownKeys(root, kKnownKeys);

  JunctionFile junction;
  junction.name = nameHint;
  if (const auto it = root.find("name"); it != root.end()) {
    if (!it->is_string()) FailJson("name", "expected a string, got " + DescribeJson(*it));
    if (it->get<std::string>().empty()) FailJson("name", "must not be empty");
    junction.name = it->get<std::string>();
  }
  junction.center = detail::JsonPoint(detail::RequiredKey(root, "center"), "center");
  junction.farPoints = detail::JsonPoints(detail::RequiredKey(root, "far_points"), "far_points");
  if (junction.farPoints.size() < 2)
    FailJson("far_points",
             "expected at least 2 points, got " + std::to_string(junction.farPoints.size()));
  junction.radii = JsonNumbers(detail::RequiredKey(root, "radii"), "radii");
  const size_t expected = 2 * junction.farPoints.size();
  if (junction.radii.size() != expected)
    FailJson("radii", "expected " + std::to_string(expected) + " numbers (two per runner), got " +
                          std::to_string(junction.radii.size()));

  ReadOptional(root, "inner_share", JsonNumber, junction.innerShare);
  ReadOptional(root, "outer_share", JsonNumber, junction.outerShare);
  ReadOptional(root, "first_circle_nodes", JsonInteger, junction.firstCircleNodes);
  ReadOptional(root, "inner_layers", JsonNumbers, junction.innerLayers);
  ReadOptional(root, "outer_layers", JsonNumbers, junction.outerLayers);
  ReadOptional(root, "margin", Margin, junction.margin);
  ReadOptional(root, "extent", Extent, junction.extent);
  ReadOptional(root, "units", detail::JsonUnits, junction.units);
  if (junction.extent == JunctionFile::Extent::RunnerLength) CheckMarginPlaces(junction.margin);
  return junction;
}

}  // namespace

JunctionFile ParseJunction(const std::string& text, const std::string& nameHint) {
  try {
    return Junction(detail::ParseJson(text), nameHint);
  } catch (const detail::JsonError& e) {
    throw JunctionFileError(e.what());
  }
}

JunctionFile ReadJunctionFile(const std::string& path) {
  try {
    return ParseJunction(detail::ReadWholeFile(path), std::filesystem::path(path).stem().string());
  } catch (const std::runtime_error& e) {
    throw JunctionFileError(detail::Printable(path) + ": " + e.what());
  }
}

}  // namespace vela::io
