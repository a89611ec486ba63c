// A plain runner swept between two sections, and the sections placed at open
// ends and where a runner carries straight on through a point.

#include "system_detail.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace vela::system::detail {
namespace {

// v turned by the smallest rotation that takes unit vector a onto unit b.
Vec3 TurnOnto(const Vec3& v, const Vec3& a, const Vec3& b) {
  const double c = Dot(a, b);
  if (c < -1.0 + 1e-12) {  // half a turn, about any axis square to a
    const Vec3 k = AnySquareTo(a);
    return Sub(Scale(k, 2 * Dot(k, v)), v);
  }
  const Vec3 k = Cross(a, b);
  return Add(Add(Scale(v, c), Cross(k, v)), Scale(k, Dot(k, v) / (1.0 + c)));
}

// v turned about unit axis by the angle of the given cosine and sine.
Vec3 TurnAbout(const Vec3& v, const Vec3& axis, double c, double s) {
  return Add(Add(Scale(v, c), Scale(Cross(axis, v), s)), Scale(axis, Dot(axis, v) * (1.0 - c)));
}

// The face wound the other way round.
SectionFace Reversed(SectionFace face) {
  std::reverse(face.at.begin() + 1, face.at.begin() + face.corners);
  return face;
}

// For each face, which of its edges (edge k from corner k to the next) lie
// on the rim of the section: those no other face shares.
std::vector<std::array<bool, 4>> RimEdges(const std::vector<SectionFace>& faces) {
  // Every edge with its face and place, sorted by its two nodes: an edge
  // that meets no twin is on the rim.
  struct EdgeUse {
    int low, high;
    std::size_t face;
    int k;
  };
  std::vector<EdgeUse> uses;
  uses.reserve(faces.size() * 4);
  for (std::size_t f = 0; f < faces.size(); ++f)
    for (int k = 0; k < faces[f].corners; ++k) {
      const int a = faces[f].at[static_cast<std::size_t>(k)];
      const int b = faces[f].at[static_cast<std::size_t>((k + 1) % faces[f].corners)];
      uses.push_back({std::min(a, b), std::max(a, b), f, k});
    }
  std::sort(uses.begin(), uses.end(), [](const EdgeUse& x, const EdgeUse& y) {
    return x.low != y.low ? x.low < y.low : x.high < y.high;
  });
  std::vector<std::array<bool, 4>> rim(faces.size(), {false, false, false, false});
  for (std::size_t i = 0; i < uses.size();) {
    std::size_t j = i + 1;
    while (j < uses.size() && uses[j].low == uses[i].low && uses[j].high == uses[i].high) ++j;
    if (j == i + 1) rim[uses[i].face][static_cast<std::size_t>(uses[i].k)] = true;
    i = j;
  }
  return rim;
}

// The faces of a section's nodes, wound about the runner (reversed: against it).
BoundaryFace* AddSectionFaces(const std::vector<SectionFace>& faces, const int* nodes, bool reversed,
                              BoundaryFace* out) {
  for (const SectionFace& face : faces) {
    const SectionFace wound = reversed ? Reversed(face) : face;
    BoundaryFace row;
    row.corners = wound.corners;
    row.nodes.fill(-1);
    for (int k = 0; k < wound.corners; ++k)
      row.nodes[static_cast<std::size_t>(k)] = nodes[static_cast<std::size_t>(wound.at[static_cast<std::size_t>(k)])];
    *out++ = row;
  }
  return out;
}

// For each corner of a prism and a hexahedron, its three neighbours in the
// order that makes the corner's edge determinant positive (as AllPositive
// reads them).
constexpr int kPrismCorners[6][4] = {{0, 1, 2, 3}, {1, 2, 0, 4}, {2, 0, 1, 5},
                                     {3, 5, 4, 0}, {4, 3, 5, 1}, {5, 4, 3, 2}};
constexpr int kHexaCorners[8][4] = {{0, 1, 3, 4}, {1, 2, 0, 5}, {2, 3, 1, 6}, {3, 0, 2, 7},
                                    {4, 7, 5, 0}, {5, 4, 6, 1}, {6, 5, 7, 2}, {7, 6, 4, 3}};

// AllPositive's judgement of one swept element from its corners' places.
// Most corners are far from the bound: a bound a few times it, taken on the
// squares, accepts them without the three roots; the rest are judged exactly
// as AllPositive judges them, so that both always agree.
bool PositiveElement(const Vec3* at, int corners) {
  const int count = corners == 6 ? 6 : 8;
  for (int c = 0; c < count; ++c) {
    const int* corner = corners == 6 ? kPrismCorners[c] : kHexaCorners[c];
    const Vec3 a = Sub(at[corner[1]], at[corner[0]]);
    const Vec3 b = Sub(at[corner[2]], at[corner[0]]);
    const Vec3 d = Sub(at[corner[3]], at[corner[0]]);
    const double det = Dot(a, Cross(b, d));
    if (det > 0.0 && det * det > 4e-18 * Dot(a, a) * Dot(b, b) * Dot(d, d)) continue;
    if (!(det > 1e-9 * Norm(a) * Norm(b) * Norm(d))) return false;
  }
  return true;
}

}  // namespace

Section PlaceSection(const Section& like, const Vec3& origin, const Vec3& axis, double radius,
                     const Vec3* mitre, int& nextNode) {
  Section placed;
  placed.origin = origin;
  placed.axis = axis;
  placed.radius = radius;
  placed.faces = like.faces;
  const double scale = radius / like.radius;
  placed.places.reserve(like.places.size());
  placed.nodes.reserve(like.places.size());
  for (const Vec3& p : like.places) {
    Vec3 offset = TurnOnto(Scale(Sub(p, like.origin), scale), like.axis, axis);
    if (mitre) offset = Sub(offset, Scale(axis, Dot(offset, *mitre) / Dot(axis, *mitre)));
    placed.places.push_back(Add(origin, offset));
    placed.nodes.push_back(nextNode++);
  }
  return placed;
}

std::size_t RimEdgeCount(const std::vector<SectionFace>& faces) {
  std::size_t count = 0;
  for (const std::array<bool, 4>& rim : RimEdges(faces))
    for (const bool edge : rim) count += edge ? 1 : 0;
  return count;
}

SweepSize SizeOfSweep(const Section& from, std::size_t rimEdges, int layers) {
  const auto count = static_cast<std::size_t>(layers);
  return {(count - 1) * from.nodes.size(), count * from.faces.size(), 2 * from.faces.size() + count * rimEdges};
}

std::vector<double> LayerShares(double length, int layers, double fromCell, double toCell) {
  // A face's weight is the nearer centre's distance over both: 16 times
  // nearer on one side gives 1/17.
  constexpr double kCentreRatio = 16.0;
  constexpr double kGrowth = 1.25;
  const double even = length / layers;
  const double first = 2.0 * kCentreRatio * fromCell, last = 2.0 * kCentreRatio * toCell;
  if (!(even > first || even > last) || layers < 2 || !std::isfinite(length)) return {};
  // Layer i is as thick as the growth from either end allows, at most
  // `core`; the core thickness that fills the length is found by halving.
  std::vector<double> thickness(static_cast<std::size_t>(layers));
  const auto fill = [&](double core) {
    double total = 0.0, fromStart = first, fromEnd = last;
    for (int i = 0; i < layers; ++i) {
      thickness[static_cast<std::size_t>(i)] = std::min(core, fromStart);
      fromStart = std::min(fromStart * kGrowth, length);
    }
    for (int i = layers - 1; i >= 0; --i) {
      double& t = thickness[static_cast<std::size_t>(i)];
      t = std::min(t, fromEnd);
      fromEnd = std::min(fromEnd * kGrowth, length);
      total += t;
    }
    return total;
  };
  if (fill(length) < length) return {};
  double lo = even, hi = length;
  for (int step = 0; step < 64; ++step) {
    const double mid = 0.5 * (lo + hi);
    (fill(mid) < length ? lo : hi) = mid;
  }
  const double total = fill(hi);
  std::vector<double> shares(static_cast<std::size_t>(layers) + 1, 0.0);
  double reached = 0.0;
  for (int i = 0; i + 1 < layers; ++i) {
    reached += thickness[static_cast<std::size_t>(i)];
    shares[static_cast<std::size_t>(i) + 1] = reached / total;
  }
  shares.back() = 1.0;
  return shares;
}

bool SweepRunnerInto(const Section& from, const Section& to, const SectionJoin& join, int layers, int region,
                     int firstNode, Vec3* nodes, SystemElement* elements, BoundaryFace* faces) {
  const Vec3 along = Sub(to.origin, from.origin);
  const Vec3 axis = Unit(along);
  std::vector<SectionFace> wound = from.faces;
  if (Dot(from.axis, axis) < 0)
    for (SectionFace& face : wound) face = Reversed(face);
  const std::vector<std::array<bool, 4>> rim = RimEdges(wound);
  faces = AddSectionFaces(wound, from.nodes.data(), true, faces);

  // Each node of `from` keeps its offset square to the runner, turned by its
  // share of the twist and scaled with the radius; the offset along the
  // runner (where an end is mitred) fades from one end's to the other's.
  // The places of the layer below and above go with their numbers, so that
  // each layer's elements are judged while their corners are at hand.
  const std::size_t count = from.nodes.size();
  std::vector<int> lower = from.nodes, upper(count);
  std::vector<Vec3> lowerAt = from.places, upperAt(count);
  // What of each node's offset is the same on every layer.
  std::vector<Vec3> square(count);
  std::vector<double> alongA(count), alongB(count);
  for (std::size_t k = 0; k < count; ++k) {
    const Vec3 offsetA = Sub(from.places[k], from.origin);
    const Vec3 offsetB = Sub(to.places[static_cast<std::size_t>(join.to[k])], to.origin);
    alongA[k] = Dot(offsetA, axis);
    alongB[k] = Dot(offsetB, axis);
    square[k] = Sub(offsetA, Scale(axis, alongA[k]));
  }
  const std::vector<double> shares = LayerShares(Norm(along), layers, from.regionCell, to.regionCell);
  bool positive = true;
  for (int layer = 1; layer <= layers; ++layer) {
    const double t = shares.empty() ? static_cast<double>(layer) / layers : shares[static_cast<std::size_t>(layer)];
    const double radius = from.radius + t * (to.radius - from.radius);
    const double angle = t * join.twist;
    const double cosine = std::cos(angle), sine = std::sin(angle);
    const Vec3 centre = Add(from.origin, Scale(along, t));
    for (std::size_t k = 0; k < count; ++k) {
      const auto joined = static_cast<std::size_t>(join.to[k]);
      if (layer == layers) {
        upper[k] = to.nodes[joined];
        upperAt[k] = to.places[joined];
        continue;
      }
      const Vec3 turned = Scale(TurnAbout(square[k], axis, cosine, sine), radius / from.radius);
      const Vec3 p = Add(Add(centre, turned), Scale(axis, alongA[k] + t * (alongB[k] - alongA[k])));
      *nodes++ = p;
      upperAt[k] = p;
      upper[k] = firstNode++;
    }
    // One layer of elements between the two sections, a prism per triangle
    // and a hexahedron per quadrilateral, the faces turning about the runner;
    // and the layer's share of the runner's side.
    for (std::size_t f = 0; f < wound.size(); ++f) {
      const SectionFace& face = wound[f];
      for (int k = 0; k < face.corners; ++k) {
        if (!rim[f][static_cast<std::size_t>(k)]) continue;
        const auto a = static_cast<std::size_t>(face.at[static_cast<std::size_t>(k)]);
        const auto b = static_cast<std::size_t>(face.at[static_cast<std::size_t>((k + 1) % face.corners)]);
        *faces++ = BoundaryFace{4, {lower[a], lower[b], upper[b], upper[a]}, 0};
      }
      SystemElement element;
      element.corners = 2 * face.corners;
      element.nodes.fill(-1);
      element.region = region;
      std::array<Vec3, 8> at{};
      for (int k = 0; k < face.corners; ++k) {
        const auto c = static_cast<std::size_t>(face.at[static_cast<std::size_t>(k)]);
        element.nodes[static_cast<std::size_t>(k)] = lower[c];
        element.nodes[static_cast<std::size_t>(k + face.corners)] = upper[c];
        at[static_cast<std::size_t>(k)] = lowerAt[c];
        at[static_cast<std::size_t>(k + face.corners)] = upperAt[c];
      }
      *elements++ = element;
      positive = positive && PositiveElement(at.data(), element.corners);
    }
    lower.swap(upper);
    lowerAt.swap(upperAt);
  }
  AddSectionFaces(wound, lower.data(), false, faces);
  return positive;
}

void SweepRunner(const Section& from, const Section& to, const SectionJoin& join, int layers,
                 int region, SystemMesh& mesh, std::vector<std::vector<int>>& boundary) {
  const SweepSize size = SizeOfSweep(from, RimEdgeCount(from.faces), layers);
  const std::size_t firstNode = mesh.nodes.size(), firstElement = mesh.elements.size();
  mesh.nodes.resize(firstNode + size.nodes);
  mesh.elements.resize(firstElement + size.elements);
  std::vector<BoundaryFace> faces(size.faces);
  SweepRunnerInto(from, to, join, layers, region, static_cast<int>(firstNode), mesh.nodes.data() + firstNode,
                  mesh.elements.data() + firstElement, faces.data());
  for (const BoundaryFace& face : faces)
    boundary.emplace_back(face.nodes.begin(), face.nodes.begin() + face.corners);
}

}  // namespace vela::system::detail
