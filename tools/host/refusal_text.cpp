#include "refusal_text.h"

#include "file_text.h"

#include <cmath>
#include <vector>

namespace vela::host {

namespace {

using vela::Refusal;

// Which of a runner's entries in the junction file a reason is about.
enum RunnerEntries { kFarPoint = 1, kRadii = 2 };

// The file's keys behind each reason, and the runner entries to name instead
// when the library says which runner it was. nullptr: nothing in the file,
// the fault lies with vela-mesh or the library.
struct Subject {
  Refusal reason;
  const char* keys;
  int runnerEntries;
};

constexpr Subject kSubjects[] = {
    {Refusal::Shares, "inner_share, outer_share", 0},
    {Refusal::ShareRatio, "inner_share, outer_share", 0},
    {Refusal::TooFewRunners, "far_points", 0},
    {Refusal::RadiusList, "radii", 0},
    {Refusal::NonFinite, "center, far_points, radii, inner_layers, outer_layers", kFarPoint | kRadii},
    {Refusal::Magnitude, "center, far_points, radii", kFarPoint | kRadii},
    {Refusal::RadiusNotPositive, "radii", kRadii},
    {Refusal::FarPointDegenerate, "far_points", kFarPoint},
    {Refusal::NoPlane, "far_points", kFarPoint},
    // An empty inner list reaches the library as layers never set.
    {Refusal::LayersNotSet, "inner_layers", 0},
    {Refusal::LayerOrder, "inner_layers, outer_layers", 0},
    {Refusal::NoInnerRing, "inner_layers", 0},
    {Refusal::FirstRingTooSmall, "first_circle_nodes", 0},
    {Refusal::OddFirstRing, "first_circle_nodes", 0},
    {Refusal::BendOpening, "far_points", kFarPoint},
    {Refusal::NeighboursTooClose, "far_points, radii", kFarPoint | kRadii},
    {Refusal::Elevation, "far_points", kFarPoint},
    {Refusal::RadiusRatio, "radii", kRadii},
    {Refusal::SectionTooFine, "first_circle_nodes, inner_layers, outer_layers, radii", 0},
    {Refusal::TooLarge, "first_circle_nodes, inner_layers, outer_layers", 0},
    {Refusal::RunnerOrder, "far_points (in order around the centre)", 0},
};

const Subject* SubjectOf(Refusal reason) {
  for (const Subject& s : kSubjects)
    if (s.reason == reason) return &s;
  return nullptr;
}

bool RisesFromZeroToOne(const std::vector<double>& layers) {
  if (layers.empty() || layers.front() != 0.0 || layers.back() != 1.0) return false;
  for (size_t i = 1; i < layers.size(); ++i)
    if (!(layers[i] > layers[i - 1])) return false;
  return true;
}

// The library does not say which list is out of order; the inner one is
// checked first, so the first that does not rise is the one it stopped at.
std::string LayerListAtFault(const io::JunctionFile& j) {
  if (!RisesFromZeroToOne(j.innerLayers)) return "inner_layers";
  if (j.outerLayers.size() >= 2 && !RisesFromZeroToOne(j.outerLayers)) return "outer_layers";
  return "inner_layers, outer_layers";
}

std::string Entries(int runner, int entries) {
  std::string text;
  auto add = [&](const std::string& entry) { text += (text.empty() ? "" : ", ") + entry; };
  if (entries & kFarPoint) add("far_points[" + std::to_string(runner) + "]");
  if (entries & kRadii) {
    add("radii[" + std::to_string(2 * runner) + "]");
    add("radii[" + std::to_string(2 * runner + 1) + "]");
  }
  return text;
}

}  // namespace

std::string RefusalSubject(const io::JunctionFile& junction, const vela::JunctionRefusal& why) {
  if (why.reason == Refusal::None) return "the library named no reason";
  const Subject* subject = SubjectOf(why.reason);
  if (why.reason == Refusal::UnsoundResult)
    return "nothing in the junction file: a fault of the library, please report it with this file";
  if (subject == nullptr) return "nothing in the junction file: a fault of vela-mesh, please report it";
  if (why.reason == Refusal::LayerOrder) return "check " + LayerListAtFault(junction);
  auto known = [&](int runner) { return runner >= 0 && runner < junction.RunnerCount(); };
  if (subject->runnerEntries == 0 || !known(why.runner)) return std::string("check ") + subject->keys;
  if (known(why.otherRunner))
    return "check runners " + std::to_string(why.runner) + " and " + std::to_string(why.otherRunner) + " (" +
           Entries(why.runner, subject->runnerEntries) + ", " + Entries(why.otherRunner, subject->runnerEntries) +
           ")";
  return "check runner " + std::to_string(why.runner) + " (" + Entries(why.runner, subject->runnerEntries) + ")";
}

std::string RefusalLine(const io::JunctionFile& junction, const vela::JunctionRefusal& why) {
  if (why.reason == Refusal::None) return io::detail::Printable(junction.name) + ": refused: the library named no reason";
  // A guard that measured something says how far off the junction is, which
  // tells the user by how much to move a point or change a radius; the bare
  // description would only repeat what the reason's name already says.
  const bool measured = why.unit != vela::JunctionRefusal::Unit::None && std::isfinite(why.value);
  const std::string words = measured ? vela::RefusalMessage(why) : vela::RefusalDescription(why.reason);
  return io::detail::Printable(junction.name) + ": refused (" + vela::RefusalName(why.reason) + "): " + words + "; " +
         RefusalSubject(junction, why);
}

const char* UnitName(vela::JunctionRefusal::Unit unit) {
  using Unit = vela::JunctionRefusal::Unit;
  switch (unit) {
    case Unit::Degrees: return "degrees";
    case Unit::Length: return "length";
    case Unit::Ratio: return "ratio";
    case Unit::Count: return "count";
    case Unit::Bytes: return "bytes";
    case Unit::None: break;
  }
  return nullptr;
}

}  // namespace vela::host
