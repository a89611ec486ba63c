#include "quality.h"

#include "parallel.h"
#include "quality_detail.h"
#include "vec.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace vela::quality {

namespace {

double Det(const Vec& a, const Vec& b, const Vec& c) {
  return a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
         a[2] * (b[0] * c[1] - b[1] * c[0]);
}

// For each corner, the corner and its three neighbours in right-handed order:
// what judges an element inverted or flat. A pyramid's apex has four edges;
// its two diagonal tetrahedra stand in, so that the pyramid's frames are the
// four tetrahedra its score is taken over, and it scores below zero exactly
// when it is judged inverted.
const std::vector<std::array<int, 4>>& CornerFrames(ElementKind kind) {
  static const std::vector<std::array<int, 4>> hexa = {
      {0, 1, 3, 4}, {1, 2, 0, 5}, {2, 3, 1, 6}, {3, 0, 2, 7},
      {4, 7, 5, 0}, {5, 4, 6, 1}, {6, 5, 7, 2}, {7, 6, 4, 3}};
  static const std::vector<std::array<int, 4>> prism = {
      {0, 1, 2, 3}, {1, 2, 0, 4}, {2, 0, 1, 5}, {3, 5, 4, 0}, {4, 3, 5, 1}, {5, 4, 3, 2}};
  static const std::vector<std::array<int, 4>> pyramid = {
      {0, 1, 3, 4}, {1, 2, 0, 4}, {2, 3, 1, 4}, {3, 0, 2, 4}, {4, 1, 0, 2}, {4, 3, 2, 0}};
  static const std::vector<std::array<int, 4>> tetra = {
      {0, 1, 2, 3}, {1, 2, 0, 3}, {2, 0, 1, 3}, {3, 0, 2, 1}};
  switch (kind) {
    case ElementKind::Hexa: return hexa;
    case ElementKind::Prism: return prism;
    case ElementKind::Pyramid: return pyramid;
    case ElementKind::Tetra: return tetra;
  }
  return tetra;
}

// The factor that makes the ideal element score 1, for the kinds scored by
// their corners: the prism's corner of an equilateral triangle has a
// normalised determinant of sqrt(3)/2, the cube's corner 1. (The tetrahedron
// and the pyramid are scored by Verdict's own formulas below.)
double IdealFactor(ElementKind kind) { return kind == ElementKind::Prism ? 2.0 / std::sqrt(3.0) : 1.0; }

const Vec& NodeOf(const std::vector<Vec>& nodes, const MeshElement& e, int corner) {
  return nodes[static_cast<size_t>(e.nodes[static_cast<size_t>(corner)])];
}

// A corner whose measure overflows (finite coordinates beyond about 1e100)
// comes out as -1, inverted: no shape can be judged of it, and dropping it
// would let the element pass as sound.
double NormalisedDet(const Vec& a, const Vec& b, const Vec& c) {
  const double lengths = Norm(a) * Norm(b) * Norm(c);
  if (!(lengths > 0.0)) return 0.0;
  const double scaled = Det(a, b, c) / lengths;
  return std::isfinite(scaled) ? scaled : -1.0;
}

// Verdict's tetrahedron: the determinant over the largest product of the
// three edge lengths at any corner, times sqrt(2).
double TetraScaledJacobian(const Vec& p0, const Vec& p1, const Vec& p2, const Vec& p3) {
  const double l01 = Norm(Sub(p1, p0)), l12 = Norm(Sub(p2, p1)), l20 = Norm(Sub(p0, p2));
  const double l03 = Norm(Sub(p3, p0)), l13 = Norm(Sub(p3, p1)), l23 = Norm(Sub(p3, p2));
  const double largest = std::max({l01 * l20 * l03, l01 * l12 * l13, l12 * l20 * l23, l03 * l13 * l23});
  if (!(largest > 0.0)) return 0.0;
  return std::clamp(Det(Sub(p1, p0), Sub(p2, p0), Sub(p3, p0)) / largest * std::sqrt(2.0), -1.0, 1.0);
}

double TetraScaledJacobian(const std::vector<Vec>& nodes, const MeshElement& e) {
  return TetraScaledJacobian(NodeOf(nodes, e, 0), NodeOf(nodes, e, 1), NodeOf(nodes, e, 2), NodeOf(nodes, e, 3));
}

// Verdict's pyramid: the base's two diagonals cut it into four tetrahedra
// with the apex, each scored as a tetrahedron; the smallest, times sqrt(2),
// is 1 for the pyramid of equilateral sides. A pyramid can score above that
// (a tall one on a slightly oblong base), and Verdict folds such a score
// back below 1 by as much as it overshoots: 1 stays the ideal. Verdict
// reports 0 for a pyramid inside out; the sign is kept here, as for the other
// kinds, so that the mirror image of the ideal pyramid scores -1.
double PyramidScaledJacobian(const std::vector<Vec>& nodes, const MeshElement& e) {
  static const int kBaseTriangles[4][3] = {{0, 1, 2}, {0, 2, 3}, {0, 1, 3}, {1, 2, 3}};
  const Vec& apex = NodeOf(nodes, e, 4);
  double smallest = std::numeric_limits<double>::infinity();
  for (const auto& t : kBaseTriangles)
    smallest = std::min(smallest, TetraScaledJacobian(NodeOf(nodes, e, t[0]), NodeOf(nodes, e, t[1]),
                                                      NodeOf(nodes, e, t[2]), apex));
  const double scaled = smallest * std::sqrt(2.0);
  return std::clamp(scaled > 1.0 ? 2.0 - scaled : scaled, -1.0, 1.0);
}

// The hexahedron's centre: its three principal axes.
double HexaCentreJacobian(const std::vector<Vec>& nodes, const MeshElement& e) {
  auto sum = [&](std::initializer_list<int> corners) {
    Vec s{0, 0, 0};
    for (int c : corners) s = Add(s, NodeOf(nodes, e, c));
    return s;
  };
  const Vec xi = Sub(sum({1, 2, 5, 6}), sum({0, 3, 4, 7}));
  const Vec eta = Sub(sum({2, 3, 6, 7}), sum({0, 1, 4, 5}));
  const Vec zeta = Sub(sum({4, 5, 6, 7}), sum({0, 1, 2, 3}));
  return NormalisedDet(xi, eta, zeta);
}

// Normalised corner Jacobians within this of zero count as flat, not inverted:
// the margin the library's own soundness check allows, so that a mesh the
// library hands over as sound is not called faulty here for rounding.
constexpr double kFlatCorner = 1e-9;

}  // namespace

int KindIndex(ElementKind kind) {
  switch (kind) {
    case ElementKind::Tetra: return 0;
    case ElementKind::Pyramid: return 1;
    case ElementKind::Prism: return 2;
    case ElementKind::Hexa: return 3;
  }
  return 0;
}

namespace detail {

const FaceTable& LocalFaces(ElementKind kind) {
  static const FaceTable hexa{
      6, {{{4, {0, 3, 2, 1}}, {4, {4, 5, 6, 7}}, {4, {0, 1, 5, 4}}, {4, {1, 2, 6, 5}}, {4, {2, 3, 7, 6}}, {4, {3, 0, 4, 7}}}}};
  static const FaceTable prism{
      5, {{{3, {0, 2, 1, 0}}, {3, {3, 4, 5, 0}}, {4, {0, 1, 4, 3}}, {4, {1, 2, 5, 4}}, {4, {2, 0, 3, 5}}, {}}}};
  static const FaceTable pyramid{
      5, {{{4, {0, 3, 2, 1}}, {3, {0, 1, 4, 0}}, {3, {1, 2, 4, 0}}, {3, {2, 3, 4, 0}}, {3, {3, 0, 4, 0}}, {}}}};
  static const FaceTable tetra{4, {{{3, {0, 2, 1, 0}}, {3, {0, 1, 3, 0}}, {3, {1, 2, 3, 0}}, {3, {2, 0, 3, 0}}, {}, {}}}};
  switch (kind) {
    case ElementKind::Hexa: return hexa;
    case ElementKind::Prism: return prism;
    case ElementKind::Pyramid: return pyramid;
    case ElementKind::Tetra: return tetra;
  }
  return tetra;
}

void Note(FaultList& list, int index) {
  ++list.count;
  if (list.named.size() < kNamedPerFault) list.named.push_back(index);
}

void NameSmallest(FaultList& list, std::vector<int> elements) {
  std::sort(elements.begin(), elements.end());
  elements.erase(std::unique(elements.begin(), elements.end()), elements.end());
  if (elements.size() > kNamedPerFault) elements.resize(kNamedPerFault);
  list.named = std::move(elements);
}

}  // namespace detail

std::vector<std::vector<int>> OutwardFaces(const MeshElement& e) {
  const detail::FaceTable& table = detail::LocalFaces(e.kind);
  std::vector<std::vector<int>> faces;
  for (int f = 0; f < table.count; ++f) {
    const detail::LocalFace& local = table.faces[static_cast<size_t>(f)];
    std::vector<int> g;
    for (int i = 0; i < local.size; ++i) g.push_back(e.nodes[static_cast<size_t>(local.corners[static_cast<size_t>(i)])]);
    faces.push_back(g);
  }
  return faces;
}

namespace {

// The smallest of measure(edge1, edge2, edge3) over the element's corner frames.
template <class Measure>
double SmallestOverCorners(const std::vector<Vec>& nodes, const MeshElement& e, Measure measure) {
  double smallest = std::numeric_limits<double>::infinity();
  for (const auto& f : CornerFrames(e.kind)) {
    const Vec& p = NodeOf(nodes, e, f[0]);
    smallest = std::min(smallest, measure(Sub(NodeOf(nodes, e, f[1]), p), Sub(NodeOf(nodes, e, f[2]), p),
                                          Sub(NodeOf(nodes, e, f[3]), p)));
  }
  return smallest;
}

// The smallest corner determinant over the three edge lengths: the corner
// Jacobian free of the element's size.
double MinNormalisedCornerJacobian(const std::vector<Vec>& nodes, const MeshElement& e) {
  // Through a lambda, which the compiler inlines, where a function pointer
  // would cost a call per corner.
  return SmallestOverCorners(nodes, e, [](const Vec& a, const Vec& b, const Vec& c) { return NormalisedDet(a, b, c); });
}

// The scaled Jacobian of an element whose smallest normalised corner
// Jacobian is already known.
double ScaledJacobianFrom(const std::vector<Vec>& nodes, const MeshElement& e, double smallestCorner) {
  if (e.kind == ElementKind::Tetra) return TetraScaledJacobian(nodes, e);
  if (e.kind == ElementKind::Pyramid) return PyramidScaledJacobian(nodes, e);
  if (e.kind == ElementKind::Hexa) smallestCorner = std::min(smallestCorner, HexaCentreJacobian(nodes, e));
  return std::clamp(smallestCorner * IdealFactor(e.kind), -1.0, 1.0);
}

}  // namespace

double MinCornerJacobian(const MemoryMesh& mesh, const MeshElement& e) {
  return SmallestOverCorners(mesh.nodes, e, Det);
}

double ScaledJacobian(const std::vector<std::array<double, 3>>& nodes, const MeshElement& e) {
  return ScaledJacobianFrom(nodes, e, MinNormalisedCornerJacobian(nodes, e));
}

double ScaledJacobian(const MemoryMesh& mesh, const MeshElement& e) { return ScaledJacobian(mesh.nodes, e); }

namespace {

// Volume of an element as the sum of the tetrahedra from its centroid to
// every outward face, a quadrilateral split at its own centroid: the same
// split for both elements sharing a face, so internal faces cancel exactly.
double SignedVolume(const MemoryMesh& mesh, const MeshElement& e) {
  Vec centre{0, 0, 0};
  for (int k = 0; k < e.CornerCount(); ++k) centre = Add(centre, NodeOf(mesh.nodes, e, k));
  for (double& c : centre) c /= e.CornerCount();
  double volume = 0.0;
  const detail::FaceTable& table = detail::LocalFaces(e.kind);
  for (int f = 0; f < table.count; ++f) {
    const detail::LocalFace& face = table.faces[static_cast<size_t>(f)];
    auto node = [&](int i) { return NodeOf(mesh.nodes, e, face.corners[static_cast<size_t>(i % face.size)]); };
    if (face.size == 3) {
      volume += Det(Sub(node(0), centre), Sub(node(1), centre), Sub(node(2), centre)) / 6.0;
      continue;
    }
    Vec mid{0, 0, 0};
    for (int i = 0; i < 4; ++i) mid = Add(mid, node(i));
    for (double& c : mid) c /= 4;
    for (int i = 0; i < 4; ++i)
      volume += Det(Sub(node(i), centre), Sub(node(i + 1), centre), Sub(mid, centre)) / 6.0;
  }
  return volume;
}

bool NamesANodeTwice(const MeshElement& e) {
  for (int a = 0; a < e.CornerCount(); ++a)
    for (int b = a + 1; b < e.CornerCount(); ++b)
      if (e.nodes[static_cast<size_t>(a)] == e.nodes[static_cast<size_t>(b)]) return true;
  return false;
}

void CheckNodeReferences(const MemoryMesh& mesh) {
  const int nodes = mesh.GetNodeCount();
  for (const MeshElement& e : mesh.elements)
    for (int k = 0; k < e.CornerCount(); ++k)
      if (e.nodes[static_cast<size_t>(k)] < 0 || e.nodes[static_cast<size_t>(k)] >= nodes)
        throw std::invalid_argument("quality: an element refers to node " +
                                    std::to_string(e.nodes[static_cast<size_t>(k)]) + " of " +
                                    std::to_string(nodes));
}

FaultList& Of(QualityReport& r, Fault f) { return r.faults[static_cast<size_t>(f)]; }

// What the element-by-element pass leaves for the checks of the whole mesh.
struct ElementStates {
  std::vector<char> hasFaces;  // names no node twice: its faces can be matched
  std::vector<char> judged;    // and finite: it has a shape to measure
  std::vector<char> usable;    // and positive: it can take part in the overlap test
};

// Collapsed, inverted, flat and poor elements, the scaled Jacobians, the
// statistics per kind and the volume. An element already counted as collapsed,
// inverted or flat is not counted as poor as well: it is worse than that.
// The measures are taken on the threads, element by element; the counts,
// the lists and the sums are then gathered in element order, so that they
// come out the same on any number of threads.
ElementStates JudgeElements(const MemoryMesh& mesh, const std::vector<char>& finiteNode, int threads,
                            QualityReport& r) {
  const size_t n = mesh.elements.size();
  ElementStates states{std::vector<char>(n, 0), std::vector<char>(n, 0), std::vector<char>(n, 0)};
  std::vector<char> finite(n, 0);
  std::vector<double> corners(n, 0.0), volumes(n, 0.0);
  r.scaledJacobian.assign(n, std::numeric_limits<double>::quiet_NaN());
  detail::ForRanges(threads, n, [&](size_t begin, size_t end, int) {
    for (size_t i = begin; i < end; ++i) {
      const MeshElement& e = mesh.elements[i];
      // A collapsed element's faces mean nothing: its neighbours' faces show the hole.
      states.hasFaces[i] = !NamesANodeTwice(e);
      bool whole = true;
      for (int k = 0; k < e.CornerCount(); ++k)
        whole = whole && finiteNode[static_cast<size_t>(e.nodes[static_cast<size_t>(k)])];
      if (!whole) continue;  // the non-finite node is the fault; its elements have no shape to judge
      finite[i] = 1;
      // Size-free, with a rounding margin: an exactly flat element turned in
      // space must not come out inverted.
      corners[i] = MinNormalisedCornerJacobian(mesh.nodes, e);
      r.scaledJacobian[i] = ScaledJacobianFrom(mesh.nodes, e, corners[i]);
      volumes[i] = SignedVolume(mesh, e);
    }
  });
  std::array<double, 4> sums{};
  for (KindStats& s : r.byKind) s.minScaledJacobian = std::numeric_limits<double>::infinity();
  for (size_t i = 0; i < n; ++i) {
    const int index = static_cast<int>(i);
    if (!states.hasFaces[i]) detail::Note(Of(r, Fault::Collapsed), index);
    if (!finite[i]) continue;
    const double corner = corners[i];
    if (states.hasFaces[i]) {
      states.judged[i] = 1;
      if (corner < -kFlatCorner) detail::Note(Of(r, Fault::Inverted), index);
      else if (corner <= kFlatCorner) detail::Note(Of(r, Fault::Flat), index);
      else states.usable[i] = 1;
    }
    const double sj = r.scaledJacobian[i];
    if (states.usable[i] && sj < r.limits.minScaledJacobian) detail::Note(Of(r, Fault::PoorCell), index);
    const size_t kind = static_cast<size_t>(KindIndex(mesh.elements[i].kind));
    ++r.byKind[kind].count;
    r.byKind[kind].minScaledJacobian = std::min(r.byKind[kind].minScaledJacobian, sj);
    sums[kind] += sj;
    r.volume += volumes[i];
  }
  for (size_t k = 0; k < 4; ++k) {
    KindStats& s = r.byKind[k];
    if (s.count == 0) s.minScaledJacobian = 0.0;
    else s.meanScaledJacobian = sums[k] / s.count;
  }
  return states;
}

}  // namespace

Limits Limits::None() {
  const double inf = std::numeric_limits<double>::infinity();
  return {-inf, -inf, -inf, inf, inf, -inf};
}

namespace {

QualityReport AssessFocused(const MemoryMesh& mesh, double mergeTol, const Limits& limits, int threads,
                            const Regions* regions) {
  if (!(mergeTol >= 0.0) || !std::isfinite(mergeTol))
    throw std::invalid_argument("quality: the coincidence tolerance must be finite and not negative");
  for (const double limit : {limits.minScaledJacobian, limits.minDeterminant, limits.minWeight,
                             limits.maxNonOrthogonality, limits.maxSkewness, limits.minFaceTet})
    if (std::isnan(limit)) throw std::invalid_argument("quality: a limit is not a number");
  CheckNodeReferences(mesh);
  if (regions) detail::CheckRegions(mesh, *regions);
  QualityReport r;
  r.nodes = mesh.GetNodeCount();
  r.elements = mesh.GetElementCount();
  r.mergeTol = mergeTol;
  r.limits = limits;

  std::vector<char> finiteNode(mesh.nodes.size());
  for (size_t i = 0; i < mesh.nodes.size(); ++i) {
    finiteNode[i] = detail::IsFinite(mesh.nodes[i]);
    if (!finiteNode[i]) detail::Note(Of(r, Fault::NonFiniteNode), static_cast<int>(i));
  }
  const ElementStates states = JudgeElements(mesh, finiteNode, threads, r);
  const detail::FaceSharing sharing = detail::CheckFaces(mesh, states.hasFaces, r, threads);
  detail::MeasureFiniteVolume(mesh, states.judged, sharing, r, threads);
  Of(r, Fault::CoincidentNodes) = detail::FindCoincidentNodes(mesh.nodes, mergeTol, threads);
  const detail::Focus focus = regions ? detail::FocusOf(mesh, *regions, threads) : detail::Focus{};
  Of(r, Fault::Overlap) = detail::FindOverlaps(mesh, states.usable, threads, focus);
  Of(r, Fault::CrossingFaces) = detail::FindCrossingFaces(mesh, sharing.boundary, threads, focus);
  return r;
}

}  // namespace

QualityReport Assess(const MemoryMesh& mesh, double mergeTol, const Limits& limits, int threads) {
  return AssessFocused(mesh, mergeTol, limits, threads, nullptr);
}

QualityReport Assess(const MemoryMesh& mesh, double mergeTol, const Limits& limits, int threads,
                     const Regions& regions) {
  return AssessFocused(mesh, mergeTol, limits, threads, &regions);
}

double DefaultTolerance(const MemoryMesh& mesh) {
  Vec lo{}, hi{};
  bool first = true;
  for (const Vec& p : mesh.nodes) {
    if (!detail::IsFinite(p)) continue;
    for (size_t k = 0; k < 3; ++k) {
      lo[k] = first ? p[k] : std::min(lo[k], p[k]);
      hi[k] = first ? p[k] : std::max(hi[k], p[k]);
    }
    first = false;
  }
  const double diagonal = std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
  return std::isfinite(diagonal) ? 1e-6 * diagonal : 0.0;
}

bool HasFaults(const QualityReport& r) {
  return std::any_of(r.faults.begin(), r.faults.end(), [](const FaultList& f) { return f.count > 0; });
}

double SmallestScaledJacobian(const QualityReport& r) {
  double smallest = 1.0;
  for (const double v : r.scaledJacobian)
    if (std::isfinite(v)) smallest = std::min(smallest, v);
  return smallest;
}

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::Inverted: return "inverted elements";
    case Fault::Collapsed: return "collapsed elements (a node named twice)";
    case Fault::Flat: return "flat elements";
    case Fault::OverSharedFace: return "faces shared by 3+ elements";
    case Fault::SameTurnFace: return "faces shared in the same turn";
    case Fault::OpenBoundary: return "open boundary edges";
    case Fault::NonFiniteNode: return "non-finite nodes";
    case Fault::CoincidentNodes: return "coincident node pairs";
    case Fault::Overlap: return "overlapping elements";
    case Fault::HangingFace: return "hanging faces";
    case Fault::CrossingFaces: return "crossing boundary faces";
    case Fault::Disconnected: return "disconnected pieces";
    case Fault::PoorCell: return "poor cells";
    case Fault::SmallDeterminant: return "cells with small determinant";
    case Fault::SmallWeight: return "faces with small interpolation weight";
    case Fault::NonOrthogonal: return "severely non-orthogonal faces";
    case Fault::Skewed: return "highly skew faces";
    case Fault::FaceTets: return "faces with inverted face tets";
    case Fault::Count: break;
  }
  return "unknown fault";
}

Named NamedKind(Fault fault) {
  if (fault == Fault::NonFiniteNode) return Named::Nodes;
  if (fault == Fault::CoincidentNodes) return Named::NodePairs;
  return Named::Elements;
}

namespace {

const char* const kKindNames[4] = {"tetra", "pyramid", "prism", "hexa"};

std::string Fixed(double value, int digits) {
  std::ostringstream s;
  s << std::fixed << std::setprecision(digits) << value;
  return s.str();
}

Fault FaultAt(int i) { return static_cast<Fault>(i); }

// "17, 18, 240" for a class of elements; "elements 4, 5", "node 7",
// "nodes 3-9, 4-10" where the class counts faces, edges, nodes or pairs.
std::string NamedList(const QualityReport& r, Fault fault) {
  const FaultList& list = r[fault];
  const Named named = NamedKind(fault);
  const size_t step = named == Named::NodePairs ? 2 : 1;
  std::ostringstream s;
  const bool countsElements = fault == Fault::Inverted || fault == Fault::Collapsed || fault == Fault::Flat ||
                              fault == Fault::Overlap || fault == Fault::PoorCell ||
                              fault == Fault::SmallDeterminant;
  if (!countsElements)
    s << (named == Named::Elements ? "element" : "node") << (list.named.size() == 1 ? " " : "s ");
  for (size_t i = 0; i + step <= list.named.size(); i += step) {
    s << (i ? ", " : "") << list.named[i];
    if (step == 2) s << "-" << list.named[i + 1];
  }
  return s.str();
}

std::string Significant(double value, int digits) {
  std::ostringstream s;
  s << std::setprecision(digits) << value;
  return s.str();
}

// "NAME COUNT", and " (LIMIT)" for a class judged by a limit.
std::string CountedName(const QualityReport& r, Fault fault) {
  const std::string limit = LimitText(r, fault);
  return std::string(FaultName(fault)) + " " + std::to_string(r.Count(fault)) +
         (limit.empty() ? "" : " (" + limit + ")");
}

}  // namespace

std::string LimitText(const QualityReport& r, Fault fault) {
  const Limits& l = r.limits;
  // An infinite limit judges nothing, and says nothing.
  auto judged = [](double limit, const std::string& before, const std::string& after = "") {
    return std::isfinite(limit) ? before + Significant(limit, 6) + after : std::string();
  };
  switch (fault) {
    case Fault::PoorCell: return judged(l.minScaledJacobian, "scaled Jacobian under ");
    case Fault::SmallDeterminant: return judged(l.minDeterminant, "determinant under ");
    case Fault::SmallWeight: return judged(l.minWeight, "weight under ");
    case Fault::NonOrthogonal: return judged(l.maxNonOrthogonality, "over ", " degrees");
    case Fault::Skewed: return judged(l.maxSkewness, "skewness over ");
    case Fault::FaceTets: return judged(l.minFaceTet, "a tetrahedron not over ");
    default: return "";
  }
}

std::string SummaryLine(const QualityReport& r) {
  std::ostringstream s;
  s << "quality: ";
  std::string sep;
  for (int i = 0; i < kFaultClasses; ++i)
    if (r.Count(FaultAt(i)) > 0) {
      s << (sep.empty() ? "faults " : sep) << FaultName(FaultAt(i)) << " " << r.Count(FaultAt(i));
      sep = ", ";
    }
  if (sep.empty()) s << "no faults";
  s << "; min scaled Jacobian " << Fixed(SmallestScaledJacobian(r), 3);
  sep = " (";
  for (size_t k = 0; k < 4; ++k)
    if (r.byKind[k].count > 0) {
      s << sep << kKindNames[k] << " " << Fixed(r.byKind[k].minScaledJacobian, 3);
      sep = ", ";
    }
  if (sep == ", ") s << ")";
  const FiniteVolumeMeasures& fv = r.finiteVolume;
  s << "; min determinant " << Significant(fv.minDeterminant, 3) << ", min weight " << Significant(fv.minWeight, 3)
    << ", max non-orthogonality " << Fixed(fv.maxNonOrthogonality, 1) << " degrees, max skewness "
    << Significant(fv.maxSkewness, 3) << "; volume " << std::setprecision(6) << r.volume;
  return s.str();
}

std::string ReportTable(const QualityReport& r) {
  std::ostringstream s;
  s << std::left << std::setw(10) << "kind" << std::right << std::setw(10) << "count" << std::setw(12)
    << "min SJ" << std::setw(12) << "mean SJ" << "\n";
  for (size_t k = 0; k < 4; ++k) {
    const KindStats& st = r.byKind[k];
    s << std::left << std::setw(10) << kKindNames[k] << std::right << std::setw(10) << st.count;
    if (st.count > 0) s << std::setw(12) << Fixed(st.minScaledJacobian, 4) << std::setw(12) << Fixed(st.meanScaledJacobian, 4);
    else s << std::setw(12) << "-" << std::setw(12) << "-";
    s << "\n";
  }
  s << std::left << std::setw(10) << "all" << std::right << std::setw(10) << r.elements << "\n\n";
  auto row = [&](const std::string& what, const std::string& value) {
    s << std::left << std::setw(42) << what << value << "\n";
  };
  row("nodes", std::to_string(r.nodes));
  const FiniteVolumeMeasures& fv = r.finiteVolume;
  row("min cell determinant", Significant(fv.minDeterminant, 4));
  row("min face interpolation weight", Significant(fv.minWeight, 4));
  row("max non-orthogonality (degrees)", Fixed(fv.maxNonOrthogonality, 2));
  row("max skewness", Significant(fv.maxSkewness, 4));
  for (int i = 0; i < kFaultClasses; ++i) {
    const Fault fault = FaultAt(i);
    std::ostringstream value;
    value << r.Count(fault);
    if (fault == Fault::CoincidentNodes) value << " (within " << std::setprecision(3) << r.mergeTol << ")";
    const std::string limit = LimitText(r, fault);
    if (!limit.empty()) value << " (" << limit << ")";
    else if (fault >= Fault::PoorCell) value << " (not judged)";
    row(FaultName(fault), value.str());
  }
  std::ostringstream volume;
  volume << std::setprecision(9) << r.volume;
  row("volume", volume.str());
  return s.str();
}

std::string DescribeFaults(const QualityReport& r) {
  std::ostringstream s;
  for (int i = 0; i < kFaultClasses; ++i)
    if (r.Count(FaultAt(i)) > 0) s << CountedName(r, FaultAt(i)) << ": " << NamedList(r, FaultAt(i)) << "\n";
  return s.str();
}

}  // namespace vela::quality
