// Which node of one section a node of another joins across a runner.
//
// Both sections carry the same pattern, but each junction numbers and turns
// its own: the angle-0 node of one need not face the angle-0 node of the
// other, and seen along the runner one may run clockwise and the other
// counter-clockwise. The pattern repeats every 1/F of a turn, so the join is
// found by trying the turns that bring one outermost node of `from` onto an
// outermost node of `to`, and keeping the smallest under which every node
// lands on a node and every face on a face.

#include "system_detail.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace vela::system::detail {
namespace {

using Flat = std::array<double, 2>;

// The nodes of a section in the plane square to the runner, in units of the
// section's radius.
std::vector<Flat> Flatten(const Section& section, const Vec3& e1, const Vec3& e2) {
  std::vector<Flat> flat;
  flat.reserve(section.places.size());
  for (const Vec3& p : section.places) {
    const Vec3 offset = Sub(p, section.origin);
    flat.push_back({Dot(offset, e1) / section.radius, Dot(offset, e2) / section.radius});
  }
  return flat;
}

double SquaredDistance(const Flat& a, const Flat& b) {
  const double x = a[0] - b[0], y = a[1] - b[1];
  return x * x + y * y;
}

// A quarter of the smallest distance between two nodes of the section.
double MatchTolerance(const std::vector<Flat>& flat) {
  double nearest = 1.0;
  for (std::size_t i = 0; i < flat.size(); ++i)
    for (std::size_t j = i + 1; j < flat.size(); ++j) nearest = std::min(nearest, SquaredDistance(flat[i], flat[j]));
  return 0.25 * std::sqrt(nearest);
}

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

// The node of `to` each node of `from` lands on when turned by angle, or
// empty when one lands on none or two land on the same.
std::vector<int> LandingNodes(const std::vector<Flat>& from, const std::vector<Flat>& to, double angle,
                              double tolerance) {
  const double c = std::cos(angle), s = std::sin(angle);
  const double reach = tolerance * tolerance;
  std::vector<int> landing(from.size(), -1);
  std::vector<char> taken(to.size(), 0);
  for (std::size_t i = 0; i < from.size(); ++i) {
    const Flat turned{c * from[i][0] - s * from[i][1], s * from[i][0] + c * from[i][1]};
    for (std::size_t j = 0; j < to.size(); ++j)
      if (SquaredDistance(turned, to[j]) <= reach) {
        landing[i] = static_cast<int>(j);
        break;
      }
    if (landing[i] < 0 || taken[static_cast<std::size_t>(landing[i])]) return {};
    taken[static_cast<std::size_t>(landing[i])] = 1;
  }
  return landing;
}

bool FacesLandOnFaces(const Section& from, const Section& to, const std::vector<int>& landing) {
  std::set<std::array<int, 4>> faces;
  for (const SectionFace& face : to.faces) faces.insert(FaceKey(face, {}));
  return std::all_of(from.faces.begin(), from.faces.end(), [&](const SectionFace& face) {
    return faces.count(FaceKey(face, landing)) > 0;
  });
}

}  // namespace

SectionJoin MatchSection(const Section& from, const Section& to) {
  if (from.places.size() != to.places.size() || from.faces.size() != to.faces.size()) return {};
  const Vec3 axis = Unit(Sub(to.origin, from.origin));
  const Vec3 e1 = AnySquareTo(axis);
  const Vec3 e2 = Cross(axis, e1);
  const std::vector<Flat> a = Flatten(from, e1, e2);
  const std::vector<Flat> b = Flatten(to, e1, e2);
  const double tolerance = MatchTolerance(a);
  std::size_t outer = 0;
  for (std::size_t i = 1; i < a.size(); ++i)
    if (std::hypot(a[i][0], a[i][1]) > std::hypot(a[outer][0], a[outer][1])) outer = i;
  const double outerRadius = std::hypot(a[outer][0], a[outer][1]);
  // Two turns can tie (half a pattern step either way): the one turning
  // positively about the runner wins, which does not depend on how the
  // network lies in space.
  constexpr double kTie = 1e-6;
  auto better = [&](double turn, const SectionJoin& best) {
    if (best.to.empty()) return true;
    if (std::fabs(turn) < std::fabs(best.twist) - kTie) return true;
    return std::fabs(turn) <= std::fabs(best.twist) + kTie && turn > best.twist;
  };
  SectionJoin best;
  for (const Flat& candidate : b) {
    if (std::fabs(std::hypot(candidate[0], candidate[1]) - outerRadius) > tolerance) continue;
    const double turn = std::remainder(
        std::atan2(candidate[1], candidate[0]) - std::atan2(a[outer][1], a[outer][0]), 2 * kPi);
    if (!better(turn, best)) continue;
    std::vector<int> landing = LandingNodes(a, b, turn, tolerance);
    if (landing.empty() || !FacesLandOnFaces(from, to, landing)) continue;
    best.to = std::move(landing);
    best.twist = turn;
  }
  return best;
}

}  // namespace vela::system::detail
