#include "system_file.h"

#include "file_text.h"
#include "json_text.h"
#include "length_unit.h"
#include "system_mesh_formats.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>

namespace vela::io {

namespace {

using detail::DescribeJson;
using detail::FailJson;
using detail::JsonIndexed;
using detail::JsonInteger;
using detail::JsonNumber;
using detail::JsonNumbers;
using detail::ReadOptional;
using detail::RejectUnknownKeys;
using nlohmann::json;
using system::RunnerNetwork;
using system::SystemRunner;

const char* const kTopKeys[] = {"name",         "points",       "runners",     "ends",
                                "first_circle_nodes", "inner_layers", "outer_layers",
                                "inner_share",  "outer_share",  "margin",      "axial_size",
                                "units"};
const char* const kRunnerKeys[] = {"from", "to", "radius"};

// The wall takes patch 0 under this name; an open end may not take it too.
const char* const kWallPatch = "wall";

std::string Member(const std::string& parent, const std::string& key) {
  return parent + "." + detail::PrintableKey(key);
}

std::string Quoted(const std::string& name) { return "\"" + detail::PrintableKey(name) + "\""; }

// What the parsed object forgets: the order of the names in "points" and
// "ends" (the points' order is the network's input order), and a key given
// twice in one object, of which it keeps one silently. Runs on text that has
// already parsed.
struct TextOrder {
  std::vector<std::string> points;
  std::vector<std::string> ends;
  std::string twice;  // the path of the first key given twice, or ""
};

// One open array or object while the parser runs.
struct Level {
  bool isArray = false;
  std::string key;             // in an object: the key of the current value
  size_t count = 0;            // in an array: values started so far
  std::set<std::string> keys;  // in an object: the keys so far
};

std::string PathOf(const std::vector<Level>& levels) {
  std::string path;
  for (const Level& level : levels)
    path += level.isArray ? "[" + std::to_string(level.count - 1) + "]"
                          : (path.empty() ? "" : ".") + detail::PrintableKey(level.key);
  return path;
}

void NoteKey(std::vector<Level>& levels, const std::string& key, TextOrder& order) {
  Level& level = levels.back();
  level.key = key;
  if (!level.keys.insert(key).second && order.twice.empty()) order.twice = PathOf(levels);
  if (levels.size() != 2 || levels[1].isArray) return;
  if (levels[0].key == "points") order.points.push_back(key);
  if (levels[0].key == "ends") order.ends.push_back(key);
}

TextOrder ReadTextOrder(const std::string& text) {
  TextOrder order;
  std::vector<Level> levels;
  const json::parser_callback_t follow = [&](int, json::parse_event_t event, json& parsed) {
    using Event = json::parse_event_t;
    if (event == Event::key) {
      NoteKey(levels, parsed.get<std::string>(), order);
    } else if (event == Event::object_end || event == Event::array_end) {
      levels.pop_back();
    } else {
      if (!levels.empty() && levels.back().isArray) ++levels.back().count;
      if (event != Event::value) levels.push_back({event == Event::array_start, {}, 0, {}});
    }
    return true;
  };
  // Only the order is wanted here: the values come from detail::ParseJson,
  // with its messages.
  [[maybe_unused]] const json again = json::parse(text, follow);
  return order;
}

int PositiveInteger(const json& value, const std::string& where) {
  if (!value.is_number_integer()) FailJson(where, "expected an integer, got " + DescribeJson(value));
  const double approximate = value.get<double>();
  if (approximate > INT_MAX) FailJson(where, "integer " + value.dump() + " is out of range");
  if (approximate < 1) FailJson(where, "expected an integer above 0, got " + value.dump());
  return value.get<int>();
}

double Radius(const json& value, const std::string& where) {
  const double radius = JsonNumber(value, where);
  if (!(radius > 0)) FailJson(where, "expected a radius above 0, got " + value.dump());
  return radius;
}

// Point names go into region names and patch names into patches, in every
// mesh format: a name the formats cannot carry is refused before meshing.
void CheckName(const std::string& name, const std::string& where) {
  if (const std::string problem = detail::NameProblem(name); !problem.empty())
    FailJson(where, problem + ", which the mesh files cannot carry");
}

const json& ObjectAt(const json& root, const char* key) {
  const json& value = detail::RequiredKey(root, key);
  if (!value.is_object()) FailJson(key, "expected an object, got " + DescribeJson(value));
  return value;
}

void ReadPoints(const json& root, const std::vector<std::string>& order, RunnerNetwork& network) {
  const json& points = ObjectAt(root, "points");
  for (const std::string& name : order) {
    const std::string where = Member("points", name);
    CheckName(name, name.empty() ? "points" : where);
    network.points.emplace_back(name, detail::JsonPoint(points.at(name), where));
  }
}

using PointNames = std::set<std::string>;

PointNames NamesOf(const RunnerNetwork& network) {
  PointNames names;
  for (const auto& point : network.points) names.insert(point.first);
  return names;
}

std::string PointName(const json& runner, const char* key, const std::string& parent, const PointNames& points) {
  const json& value = detail::RequiredKey(runner, key, parent);
  const std::string where = Member(parent, key);
  if (!value.is_string()) FailJson(where, "expected a point name, got " + DescribeJson(value));
  const std::string name = value.get<std::string>();
  if (points.count(name) == 0) FailJson(where, "no point named " + Quoted(name) + " in points");
  return name;
}

// "radius": r, or [at from, at to] for a tapered runner.
void ReadRadius(const json& value, const std::string& where, SystemRunner& runner) {
  if (value.is_number()) {
    runner.radiusFrom = runner.radiusTo = Radius(value, where);
    return;
  }
  if (!value.is_array() || value.size() != 2)
    FailJson(where, "expected a radius or two [at from, at to], got " + DescribeJson(value));
  runner.radiusFrom = Radius(value[0], JsonIndexed(where, 0));
  runner.radiusTo = Radius(value[1], JsonIndexed(where, 1));
}

void ReadRunners(const json& root, const PointNames& points, RunnerNetwork& network) {
  const json& runners = detail::RequiredKey(root, "runners");
  if (!runners.is_array()) FailJson("runners", "expected an array of runners, got " + DescribeJson(runners));
  for (size_t i = 0; i < runners.size(); ++i) {
    const std::string where = JsonIndexed("runners", i);
    const json& value = runners[i];
    if (!value.is_object())
      FailJson(where, "expected a runner {\"from\", \"to\", \"radius\"}, got " + DescribeJson(value));
    RejectUnknownKeys(value, kRunnerKeys, where);
    SystemRunner runner;
    runner.from = PointName(value, "from", where, points);
    runner.to = PointName(value, "to", where, points);
    ReadRadius(detail::RequiredKey(value, "radius", where), Member(where, "radius"), runner);
    network.runners.push_back(runner);
  }
}

// Patch names: one per open end, never the wall's, never one taken twice
// (each would be a patch of its own under the same name in every output).
void ReadEnds(const json& root, const std::vector<std::string>& order, const PointNames& points,
              RunnerNetwork& network) {
  const auto found = root.find("ends");
  if (found == root.end()) return;
  if (!found->is_object()) FailJson("ends", "expected an object of patch names, got " + DescribeJson(*found));
  std::map<std::string, std::string> owners;  // point by patch name
  for (const std::string& point : order) {
    const std::string where = Member("ends", point);
    if (points.count(point) == 0) FailJson(where, "no point named " + Quoted(point) + " in points");
    const json& value = found->at(point);
    if (!value.is_string()) FailJson(where, "expected a patch name, got " + DescribeJson(value));
    const std::string patch = value.get<std::string>();
    CheckName(patch, where);
    if (patch == kWallPatch) FailJson(where, "\"wall\" is the patch of the runner walls");
    if (const auto [it, isNew] = owners.emplace(patch, point); !isNew)
      FailJson(where, "patch name " + Quoted(patch) + " is already the end " + Quoted(it->second) + "'s");
    network.endNames.emplace_back(point, patch);
  }
}

std::array<int, 2> Margin(const json& value, const std::string& where) {
  if (!value.is_array() || value.size() != 2)
    FailJson(where, "expected two integers [a, b], got " + DescribeJson(value));
  return {PositiveInteger(value[0], JsonIndexed(where, 0)), PositiveInteger(value[1], JsonIndexed(where, 1))};
}

void ReadSettings(const json& root, RunnerNetwork& network) {
  system::SectionSettings& section = network.section;
  ReadOptional(root, "first_circle_nodes", JsonInteger, section.firstCircleNodes);
  ReadOptional(root, "inner_layers", JsonNumbers, section.innerLayers);
  ReadOptional(root, "outer_layers", JsonNumbers, section.outerLayers);
  ReadOptional(root, "inner_share", JsonNumber, section.innerShare);
  ReadOptional(root, "outer_share", JsonNumber, section.outerShare);
  ReadOptional(root, "axial_size", JsonNumber, network.axialSize);
  std::array<int, 2> margin{network.marginA, network.marginB};
  ReadOptional(root, "margin", Margin, margin);
  network.marginA = margin[0];
  network.marginB = margin[1];
}

RunnerNetwork Network(const json& root, const TextOrder& order) {
  if (!order.twice.empty()) FailJson(order.twice, "given twice (every name once in an object)");
  if (!root.is_object()) FailJson("", "expected a JSON object at the top, got " + DescribeJson(root));
  RejectUnknownKeys(root, kTopKeys, "");
  RunnerNetwork network;
  if (const auto it = root.find("name"); it != root.end()) {
    if (!it->is_string()) FailJson("name", "expected a string, got " + DescribeJson(*it));
    if (it->get<std::string>().empty()) FailJson("name", "must not be empty");
    network.name = it->get<std::string>();
  }
  ReadPoints(root, order.points, network);
  const PointNames points = NamesOf(network);
  ReadRunners(root, points, network);
  ReadEnds(root, order.ends, points, network);
  ReadSettings(root, network);
  return network;
}

}  // namespace

RunnerNetwork ParseSystemFile(const std::string& text, std::string& units) {
  try {
    const json root = detail::ParseJson(text);
    RunnerNetwork network = Network(root, ReadTextOrder(text));
    units = kDefaultUnit;
    ReadOptional(root, "units", detail::JsonUnits, units);
    return network;
  } catch (const detail::JsonError& e) {
    throw SystemFileError(e.what());
  }
}

RunnerNetwork ParseSystemFile(const std::string& text) {
  std::string units;
  return ParseSystemFile(text, units);
}

RunnerNetwork ReadSystemFile(const std::string& path) {
  std::string units;
  return ReadSystemFile(path, units);
}

RunnerNetwork ReadSystemFile(const std::string& path, std::string& units) {
  try {
    RunnerNetwork network = ParseSystemFile(detail::ReadWholeFile(path), units);
    if (network.name.empty()) network.name = std::filesystem::path(path).stem().string();
    return network;
  } catch (const std::runtime_error& e) {
    throw SystemFileError(detail::Printable(path) + ": " + e.what());
  }
}

}  // namespace vela::io
