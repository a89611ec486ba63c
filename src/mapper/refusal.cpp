#include "mapper/refusal.h"

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

}  // namespace

void ClearRefusal() { t_lastRefusal = JunctionRefusal{}; }

bool Refuse(Refusal reason, int runner, int otherRunner) {
  t_lastRefusal = JunctionRefusal{reason, runner, otherRunner};
  return false;
}

JunctionRefusal LastJunctionRefusal() { return t_lastRefusal; }

const char* RefusalName(Refusal reason) {
  const RefusalWords* w = WordsOf(reason);
  return w != nullptr ? w->name : "unknown";
}

const char* RefusalDescription(Refusal reason) {
  const RefusalWords* w = WordsOf(reason);
  return w != nullptr ? w->description : "unknown reason";
}

}  // namespace vela
