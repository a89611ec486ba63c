#include "mapper/refusal.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace vela {

namespace {

thread_local JunctionRefusal t_lastRefusal;

struct RefusalWords {
  const char* name;
  const char* description;
};

// Indexed by Refusal; one row per value, in the enumeration's order.
constexpr RefusalWords kWords[] = {
    {"none", "the junction was meshed"},
    {"shares", "the inner and outer shares of the radius do not add up to 1"},
    {"share-ratio", "the inner disc's share of the radius is outside (0, 1], or leaves boundary layers no thickness"},
    {"too-few-runners", "a junction needs three or more runners, a bend exactly two"},
    {"radius-list", "the radius list holds fewer than two radii per runner"},
    {"null-pointer", "a list, the mesh or the far-node output was not given"},
    {"non-finite", "a coordinate, radius or layer position is not a finite number"},
    {"magnitude", "coordinates or radii are too large, or radii too small against the junction's size"},
    {"radius-not-positive", "a radius is not above zero"},
    {"far-point-degenerate", "a far point lies at the centre or on the junction plane's normal through it"},
    {"no-plane", "no two neighbouring runners span a plane"},
    {"layers-not-set", "the layer lists were never set (SetIOBoundaryLayer)"},
    {"layer-order", "layer positions must rise strictly from 0 to 1"},
    {"no-inner-ring", "the inner layer list describes no ring"},
    {"first-ring-too-small", "the first ring needs at least 3 nodes"},
    {"odd-first-ring", "the first ring needs an even number of nodes, so that neighbouring sections meet node for node"},
    {"bend-opening", "the bend's opening angle is too narrow or too close to straight"},
    {"neighbours-too-close", "two neighbouring runners are too close in angle for their radii"},
    {"elevation", "a runner leaves the junction plane too steeply"},
    {"radius-ratio", "the radii of the junction differ too much"},
    {"section-too-fine", "the cross-section has twice as many inner rings as nodes on its first ring, or more"},
    {"too-large", "the junction would need more nodes or elements than can be numbered"},
    {"unsound-result", "the finished mesh failed the soundness check"},
    {"runner-order", "the far points do not go once round the junction in order"},
};
static_assert(sizeof(kWords) / sizeof(kWords[0]) == static_cast<int>(Refusal::Count),
              "one row of words per refusal reason");

const RefusalWords* WordsOf(Refusal reason) {
  const int i = static_cast<int>(reason);
  if (i < 0 || i >= static_cast<int>(Refusal::Count)) return nullptr;
  return &kWords[i];
}

// A number as a person reads it: four significant digits, no exponent for
// the sizes junctions have.
std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", v);
  return text;
}

std::string WithUnit(double v, JunctionRefusal::Unit unit) {
  switch (unit) {
    case JunctionRefusal::Unit::Degrees: return Number(v) + " degrees";
    case JunctionRefusal::Unit::Bytes: {
      char text[32];
      std::snprintf(text, sizeof text, "%.3g GB", v / 1e9);
      return text;
    }
    case JunctionRefusal::Unit::Count: {
      char text[32];
      std::snprintf(text, sizeof text, "%.0f", v);
      return text;
    }
    default: return Number(v);
  }
}

// Runner i by the host's name where it gave one, by its number otherwise.
std::string RunnerLabel(int i, const std::vector<std::string>* names) {
  if (names != nullptr && i < static_cast<int>(names->size()) && !(*names)[static_cast<size_t>(i)].empty())
    return (*names)[static_cast<size_t>(i)];
  return std::to_string(i);
}

std::string Runners(const JunctionRefusal& r, const std::vector<std::string>* names) {
  if (r.runner < 0) return "";
  if (r.otherRunner < 0) return "runner " + RunnerLabel(r.runner, names);
  return "runners " + RunnerLabel(r.runner, names) + " and " + RunnerLabel(r.otherRunner, names);
}

// The measured case of a reason in words, or empty where there is none.
std::string MeasuredWords(const JunctionRefusal& r, const std::vector<std::string>* names) {
  const auto Named = [names](const JunctionRefusal& of) { return Runners(of, names); };
  const std::string value = WithUnit(r.value, r.unit), limit = WithUnit(r.limit, r.unit);
  switch (r.reason) {
    case Refusal::Elevation:
      return Named(r) + " leaves the junction plane at " + value + ", limit " + limit;
    case Refusal::NeighboursTooClose:
      if (r.unit == JunctionRefusal::Unit::Degrees)
        return Named(r) + " are " + value + " apart, at least " + limit + " needed";
      return Named(r) + ": the shorter ends " + value + " from the centre, where their cylinders still cut into each other up to " + limit + ": move its far point out";
    case Refusal::RadiusRatio:
      return "the widest radius (" + Named(r) + ") is " + value + " times the narrowest, limit " + limit;
    case Refusal::BendOpening:
      return "the bend opens by " + value + ", limit " + limit;
    case Refusal::TooLarge:
      if (r.unit == JunctionRefusal::Unit::Bytes)
        return "the junction would take about " + value + " of memory, limit " + limit +
               ": fewer nodes on the first ring, or fewer layers";
      return "the junction needs " + value + " nodes or elements, limit " + limit;
    case Refusal::RadiusList:
      return "the radius list holds " + value + " radii, " + limit + " needed (two per runner)";
    case Refusal::FirstRingTooSmall:
      return "the first ring has " + value + " nodes, at least " + limit + " needed";
    case Refusal::SectionTooFine:
      return "the section has " + value + " inner rings, fewer than " + limit + " (twice the first ring) needed";
    default: return "";
  }
}

}  // namespace

void ClearRefusal() { t_lastRefusal = JunctionRefusal{}; }

bool Refuse(Refusal reason, int runner, int otherRunner) {
  t_lastRefusal = JunctionRefusal{};
  t_lastRefusal.reason = reason;
  t_lastRefusal.runner = runner;
  t_lastRefusal.otherRunner = otherRunner;
  return false;
}

bool Refuse(Refusal reason, int runner, int otherRunner, const Measured& measured) {
  Refuse(reason, runner, otherRunner);
  t_lastRefusal.value = measured.value;
  t_lastRefusal.limit = measured.limit;
  t_lastRefusal.unit = measured.unit;
  return false;
}

void RecordRefusal(const JunctionRefusal& refusal) { t_lastRefusal = refusal; }

JunctionRefusal LastJunctionRefusal() { return t_lastRefusal; }

const char* RefusalName(Refusal reason) {
  const RefusalWords* w = WordsOf(reason);
  return w != nullptr ? w->name : "unknown";
}

const char* RefusalDescription(Refusal reason) {
  const RefusalWords* w = WordsOf(reason);
  return w != nullptr ? w->description : "unknown reason";
}


namespace {

std::string MessageOf(const JunctionRefusal& refusal, const std::vector<std::string>* names) {
  if (refusal.unit != JunctionRefusal::Unit::None && std::isfinite(refusal.value)) {
    const std::string measured = MeasuredWords(refusal, names);
    if (!measured.empty()) return measured;
  }
  const std::string runners = Runners(refusal, names);
  return std::string(RefusalDescription(refusal.reason)) + (runners.empty() ? "" : " (" + runners + ")");
}

}  // namespace

std::string RefusalMessage(const JunctionRefusal& refusal) { return MessageOf(refusal, nullptr); }

std::string RefusalMessage(const JunctionRefusal& refusal, const std::vector<std::string>& runnerNames) {
  return MessageOf(refusal, &runnerNames);
}

}  // namespace vela
