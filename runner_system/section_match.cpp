// The network's section pattern, and which node of one section a node of
// another joins across a runner.
//
// Both ends of a runner carry the same pattern in the same ring order, but
// each junction places and numbers its own: the angle-0 node of one need not
// face the angle-0 node of the other, and seen along the runner one may turn
// clockwise and the other counter-clockwise. The pattern meets itself under
// every turn by a step of 1/F of a turn and under the mirror through its
// angle-0 nodes, so the join is a matter of counting: which way each
// section's rings turn, and by how many steps their angle-0 nodes lie apart.

#include "system_detail.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace vela::system::detail {
namespace {

std::array<int, 4> FaceKey(const SectionFace& face, const std::vector<int>& through) {
  std::array<int, 4> key{-1, -1, -1, -1};
  for (int k = 0; k < face.corners; ++k) {
    const int node = face.at[static_cast<std::size_t>(k)];
    key[static_cast<std::size_t>(k)] = through.empty() ? node : through[static_cast<std::size_t>(node)];
  }
  // Insertion sort of the used corners: the unused stay -1 at the end.
  for (std::size_t i = 1; i < static_cast<std::size_t>(face.corners); ++i)
    for (std::size_t j = i; j > 0 && key[j - 1] > key[j]; --j) std::swap(key[j - 1], key[j]);
  return key;
}

bool FacesLandOnFaces(const Section& from, const Section& to, const std::vector<int>& landing) {
  std::set<std::array<int, 4>> faces;
  for (const SectionFace& face : to.faces) faces.insert(FaceKey(face, {}));
  return std::all_of(from.faces.begin(), from.faces.end(), [&](const SectionFace& face) {
    return faces.count(FaceKey(face, landing)) > 0;
  });
}

// Which way the rings of a section turn about the unit vector d: +1 with it,
// -1 against it, 0 when the faces do not tell. The pattern's first face runs
// from the centre to ring 1's first node and on to its second, the way the
// rings turn, and a section's faces turn positively about its axis.
int RingTurn(const Section& section, const Vec3& d) {
  const double along = Dot(section.axis, d);
  if (along == 0) return 0;
  for (const SectionFace& face : section.faces) {
    if (face.corners != 3) continue;
    for (std::size_t k = 0; k < 3; ++k) {
      if (face.at[k] != 1) continue;
      const int next = face.at[(k + 1) % 3], previous = face.at[(k + 2) % 3];
      int turn = 0;
      if (previous == 0 && next == 2) turn = 1;
      if (previous == 2 && next == 0) turn = -1;
      if (turn != 0) return along > 0 ? turn : -turn;
    }
  }
  return 0;
}

// The angle about d of a node's offset from the section's origin, measured
// from e1 towards e2.
double AngleAbout(const Section& section, std::size_t node, const Vec3& e1, const Vec3& e2) {
  const Vec3 offset = Sub(section.places[node], section.origin);
  return std::atan2(Dot(offset, e2), Dot(offset, e1));
}

}  // namespace

CrossSection ToCrossSection(const SectionSettings& settings) {
  CrossSection cross;
  cross.firstRing = settings.firstCircleNodes;
  cross.innerLayers = settings.innerLayers;
  cross.outerLayers = settings.outerLayers;
  cross.innerShare = settings.innerShare;
  cross.outerShare = settings.outerShare;
  return cross;
}

int SectionRings::NodeCount() const {
  int count = 0;
  for (const int size : sizes) count += size;
  return count;
}

namespace {

// The settings to change for a refused cross-section, as the system file
// names them.
const char* SettingsToCheck(Refusal reason) {
  switch (reason) {
    case Refusal::Shares:
    case Refusal::ShareRatio: return "inner_share, outer_share";
    case Refusal::FirstRingTooSmall:
    case Refusal::OddFirstRing: return "first_circle_nodes";
    case Refusal::SectionTooFine: return "first_circle_nodes, inner_layers";
    default: return "inner_layers, outer_layers";
  }
}

}  // namespace

std::optional<SystemRefusal> ReferenceSection(const SectionSettings& settings, Section& out,
                                              SectionRings& rings) {
  const CrossSection cross = ToCrossSection(settings);
  const JunctionRefusal why = CheckCrossSection(cross);
  if (why.reason != Refusal::None) {
    SystemRefusal refusal;
    refusal.reason = "settings";
    refusal.message = std::string("the section settings are refused: ") + RefusalName(why.reason) + " (" +
                      RefusalMessage(why) + "); check " + SettingsToCheck(why.reason);
    refusal.junctionReason = why.reason;
    refusal.value = why.value;
    refusal.limit = why.limit;
    refusal.unit = why.unit;
    return refusal;
  }
  const SectionPattern pattern = MakeSectionPattern(cross);
  out = Section{};
  out.axis = {0, 0, 1};
  out.radius = 1.0;
  for (const std::array<double, 2>& place : pattern.places) {
    out.places.push_back({place[0], place[1], 0.0});
    out.nodes.push_back(-1);
  }
  for (const std::array<int, 4>& face : pattern.faces) {
    SectionFace row;
    row.corners = face[3] < 0 ? 3 : 4;
    row.at = face;
    out.faces.push_back(row);
  }
  // The inner rings grow by a first ring each; the boundary layers repeat
  // the last of them.
  rings = SectionRings{};
  rings.steps = cross.firstRing;
  rings.sizes.push_back(1);
  const int innerRings = static_cast<int>(cross.innerLayers.size()) - 1;
  for (int k = 1; k <= innerRings; ++k) rings.sizes.push_back(k * cross.firstRing);
  const int layerNodes = innerRings * cross.firstRing;
  while (layerNodes > 0 && rings.NodeCount() < static_cast<int>(out.places.size()))
    rings.sizes.push_back(layerNodes);
  if (out.faces.empty() || rings.NodeCount() != static_cast<int>(out.places.size()))
    return SystemRefusal{"section-mismatch",
                         "the library's section pattern of " + std::to_string(out.places.size()) +
                             " nodes does not fall into the rings of the settings",
                         {}, {}, Refusal::None};
  return std::nullopt;
}

SectionJoin JoinSections(const Section& from, const Section& to, const SectionRings& rings) {
  const auto count = static_cast<std::size_t>(rings.NodeCount());
  if (rings.steps <= 0 || from.nodes.size() != count || to.nodes.size() != count ||
      from.faces.size() != to.faces.size())
    return {};
  const Vec3 axis = Unit(Sub(to.origin, from.origin));
  const int turnFrom = RingTurn(from, axis), turnTo = RingTurn(to, axis);
  if (turnFrom == 0 || turnTo == 0) return {};

  // Every ring starts at angle 0, so the outermost ring's first node, the
  // farthest from the centre, tells each section's turn about the runner
  // best. The pattern meets itself every step: of the turns that bring the
  // two together, the smallest, and of two equal (half a step either way)
  // the positive one, which does not depend on how the network lies in space.
  const Vec3 e1 = AnySquareTo(axis);
  const Vec3 e2 = Cross(axis, e1);
  const std::size_t first = count - static_cast<std::size_t>(rings.sizes.back());
  const double step = 2 * kPi / rings.steps;
  const double apart = std::remainder(AngleAbout(to, first, e1, e2) - AngleAbout(from, first, e1, e2), 2 * kPi);
  constexpr double kTie = 1e-6;
  SectionJoin join;
  join.twist = std::remainder(apart, step);
  if (join.twist < -0.5 * step + kTie) join.twist += step;
  // The twist is `apart` and a whole number of steps. Turned by it, node a
  // of a ring of n nodes of `from`, at turnFrom * a of the ring's n parts of
  // a turn from its angle-0 node, meets node b of `to` at turnTo * b parts
  // from its own: turnTo * b = turnFrom * a + steps * n / F.
  const long steps = std::lround((join.twist - apart) / step) % rings.steps;
  join.to.resize(count);
  int base = 0;
  for (const int n : rings.sizes) {
    const long shift = steps * (n / rings.steps);
    for (int a = 0; a < n; ++a) {
      const long b = ((turnTo * (turnFrom * a + shift)) % n + n) % n;
      join.to[static_cast<std::size_t>(base + a)] = base + static_cast<int>(b);
    }
    base += n;
  }
  if (!FacesLandOnFaces(from, to, join.to)) return {};
  return join;
}

}  // namespace vela::system::detail
