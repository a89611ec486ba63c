#include "Quality.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <limits>
#include <map>
#include <numeric>
#include <sstream>
#include <stdexcept>

namespace vela::quality {

namespace {

using Vec = std::array<double, 3>;

Vec Sub(const Vec& a, const Vec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec Add(const Vec& a, const Vec& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
double Length(const Vec& a) { return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]); }
double Det(const Vec& a, const Vec& b, const Vec& c) {
  return a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
         a[2] * (b[0] * c[1] - b[1] * c[0]);
}

// For each corner, the corner and its three neighbours in right-handed order.
// A pyramid's apex has four edges; its two diagonal tetrahedra stand in.
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

// What an ideal element's normalised corner determinant is, inverted: the
// factor that makes the ideal element score 1.
double IdealFactor(ElementKind kind) {
  switch (kind) {
    case ElementKind::Hexa: return 1.0;
    case ElementKind::Prism: return 2.0 / std::sqrt(3.0);  // the corner of an equilateral triangle
    case ElementKind::Pyramid: return std::sqrt(2.0);      // base corner of an equilateral pyramid
    case ElementKind::Tetra: return std::sqrt(2.0);
  }
  return 1.0;
}

const Vec& NodeOf(const MemoryMesh& mesh, const MeshElement& e, int corner) {
  return mesh.nodes[static_cast<size_t>(e.nodes[static_cast<size_t>(corner)])];
}

double NormalisedDet(const Vec& a, const Vec& b, const Vec& c) {
  const double lengths = Length(a) * Length(b) * Length(c);
  if (!(lengths > 0.0)) return 0.0;
  return Det(a, b, c) / lengths;
}

// Verdict's tetrahedron: the determinant over the largest product of the
// three edge lengths at any corner, times sqrt(2).
double TetraScaledJacobian(const MemoryMesh& mesh, const MeshElement& e) {
  const Vec& p0 = NodeOf(mesh, e, 0);
  const Vec& p1 = NodeOf(mesh, e, 1);
  const Vec& p2 = NodeOf(mesh, e, 2);
  const Vec& p3 = NodeOf(mesh, e, 3);
  const double l01 = Length(Sub(p1, p0)), l12 = Length(Sub(p2, p1)), l20 = Length(Sub(p0, p2));
  const double l03 = Length(Sub(p3, p0)), l13 = Length(Sub(p3, p1)), l23 = Length(Sub(p3, p2));
  const double largest = std::max({l01 * l20 * l03, l01 * l12 * l13, l12 * l20 * l23, l03 * l13 * l23});
  if (!(largest > 0.0)) return 0.0;
  return Det(Sub(p1, p0), Sub(p2, p0), Sub(p3, p0)) / largest * std::sqrt(2.0);
}

// The hexahedron's centre: its three principal axes.
double HexaCentreJacobian(const MemoryMesh& mesh, const MeshElement& e) {
  auto sum = [&](std::initializer_list<int> corners) {
    Vec s{0, 0, 0};
    for (int c : corners) s = Add(s, NodeOf(mesh, e, c));
    return s;
  };
  const Vec xi = Sub(sum({1, 2, 5, 6}), sum({0, 3, 4, 7}));
  const Vec eta = Sub(sum({2, 3, 6, 7}), sum({0, 1, 4, 5}));
  const Vec zeta = Sub(sum({4, 5, 6, 7}), sum({0, 1, 2, 3}));
  return NormalisedDet(xi, eta, zeta);
}

using FaceKey = std::vector<int>;

// Normalised corner Jacobians within this of zero count as flat, not inverted.
constexpr double kFlatCorner = 1e-12;

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

std::vector<std::vector<int>> OutwardFaces(const MeshElement& e) {
  static const std::map<ElementKind, std::vector<std::vector<int>>> local = {
      {ElementKind::Hexa, {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}}},
      {ElementKind::Prism, {{0, 2, 1}, {3, 4, 5}, {0, 1, 4, 3}, {1, 2, 5, 4}, {2, 0, 3, 5}}},
      {ElementKind::Pyramid, {{0, 3, 2, 1}, {0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}}},
      {ElementKind::Tetra, {{0, 2, 1}, {0, 1, 3}, {1, 2, 3}, {2, 0, 3}}},
  };
  std::vector<std::vector<int>> faces;
  for (const std::vector<int>& f : local.at(e.kind)) {
    std::vector<int> g;
    for (int c : f) g.push_back(e.nodes[static_cast<size_t>(c)]);
    faces.push_back(g);
  }
  return faces;
}

namespace {

// The smallest of measure(edge1, edge2, edge3) over the element's corner frames.
template <class Measure>
double SmallestOverCorners(const MemoryMesh& mesh, const MeshElement& e, Measure measure) {
  double smallest = std::numeric_limits<double>::infinity();
  for (const auto& f : CornerFrames(e.kind)) {
    const Vec& p = NodeOf(mesh, e, f[0]);
    smallest = std::min(smallest, measure(Sub(NodeOf(mesh, e, f[1]), p), Sub(NodeOf(mesh, e, f[2]), p),
                                          Sub(NodeOf(mesh, e, f[3]), p)));
  }
  return smallest;
}

// The smallest corner determinant over the three edge lengths: the corner
// Jacobian free of the element's size.
double MinNormalisedCornerJacobian(const MemoryMesh& mesh, const MeshElement& e) {
  return SmallestOverCorners(mesh, e, NormalisedDet);
}

}  // namespace

double MinCornerJacobian(const MemoryMesh& mesh, const MeshElement& e) {
  return SmallestOverCorners(mesh, e, Det);
}

double ScaledJacobian(const MemoryMesh& mesh, const MeshElement& e) {
  if (e.kind == ElementKind::Tetra) return TetraScaledJacobian(mesh, e);
  double smallest = MinNormalisedCornerJacobian(mesh, e);
  if (e.kind == ElementKind::Hexa) smallest = std::min(smallest, HexaCentreJacobian(mesh, e));
  return std::min(1.0, smallest * IdealFactor(e.kind));
}

namespace {

// Volume of an element as the sum of the tetrahedra from its centroid to
// every outward face, a quadrilateral split at its own centroid: the same
// split for both elements sharing a face, so internal faces cancel exactly.
double SignedVolume(const MemoryMesh& mesh, const MeshElement& e) {
  Vec centre{0, 0, 0};
  for (int k = 0; k < e.CornerCount(); ++k) centre = Add(centre, NodeOf(mesh, e, k));
  for (double& c : centre) c /= e.CornerCount();
  double volume = 0.0;
  for (const std::vector<int>& face : OutwardFaces(e)) {
    auto node = [&](int i) { return mesh.nodes[static_cast<size_t>(face[static_cast<size_t>(i)])]; };
    const int n = static_cast<int>(face.size());
    if (n == 3) {
      volume += Det(Sub(node(0), centre), Sub(node(1), centre), Sub(node(2), centre)) / 6.0;
      continue;
    }
    Vec mid{0, 0, 0};
    for (int i = 0; i < n; ++i) mid = Add(mid, node(i));
    for (double& c : mid) c /= n;
    for (int i = 0; i < n; ++i)
      volume += Det(Sub(node(i), centre), Sub(node((i + 1) % n), centre), Sub(mid, centre)) / 6.0;
  }
  return volume;
}

int CountCoincidentPairs(const MemoryMesh& mesh, double tol) {
  std::vector<size_t> order(mesh.nodes.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return mesh.nodes[a][0] < mesh.nodes[b][0]; });
  int pairs = 0;
  for (size_t i = 0; i < order.size(); ++i) {
    const Vec& a = mesh.nodes[order[i]];
    for (size_t j = i + 1; j < order.size(); ++j) {
      const Vec& b = mesh.nodes[order[j]];
      if (b[0] - a[0] > tol) break;
      if (std::fabs(b[1] - a[1]) <= tol && std::fabs(b[2] - a[2]) <= tol) ++pairs;
    }
  }
  return pairs;
}

}  // namespace

QualityReport Assess(const MemoryMesh& mesh, double mergeTol) {
  QualityReport r;
  r.nodes = mesh.GetNodeCount();
  r.elements = mesh.GetElementCount();
  r.mergeTol = mergeTol;
  for (const MeshElement& e : mesh.elements)
    for (int k = 0; k < e.CornerCount(); ++k)
      if (e.nodes[static_cast<size_t>(k)] < 0 || e.nodes[static_cast<size_t>(k)] >= r.nodes)
        throw std::invalid_argument("quality: an element refers to node " +
                                    std::to_string(e.nodes[static_cast<size_t>(k)]) + " of " +
                                    std::to_string(r.nodes));

  std::array<double, 4> sums{};
  for (KindStats& s : r.byKind) s.minScaledJacobian = std::numeric_limits<double>::infinity();
  std::map<FaceKey, int> faceUses;
  std::map<FaceKey, std::vector<int>> boundaryCandidates;  // sorted key -> face in its turn
  r.scaledJacobian.reserve(mesh.elements.size());
  for (const MeshElement& e : mesh.elements) {
    // Size-free, with a rounding margin: an exactly flat element turned in
    // space must not come out inverted.
    const double corner = MinNormalisedCornerJacobian(mesh, e);
    if (corner < -kFlatCorner) ++r.inverted;
    else if (corner <= kFlatCorner) ++r.degenerate;
    const double sj = ScaledJacobian(mesh, e);
    r.scaledJacobian.push_back(sj);
    KindStats& s = r.byKind[static_cast<size_t>(KindIndex(e.kind))];
    ++s.count;
    s.minScaledJacobian = std::min(s.minScaledJacobian, sj);
    sums[static_cast<size_t>(KindIndex(e.kind))] += sj;
    r.volume += SignedVolume(mesh, e);
    for (const std::vector<int>& f : OutwardFaces(e)) {
      FaceKey key = f;
      std::sort(key.begin(), key.end());
      if (++faceUses[key] == 1) boundaryCandidates[key] = f;
    }
  }
  for (size_t k = 0; k < 4; ++k) {
    KindStats& s = r.byKind[k];
    if (s.count == 0) s.minScaledJacobian = 0.0;
    else s.meanScaledJacobian = sums[k] / s.count;
  }

  std::map<std::pair<int, int>, int> boundaryEdges;
  for (const auto& [key, uses] : faceUses) {
    if (uses > 2) ++r.overSharedFaces;
    if (uses != 1) continue;
    const std::vector<int>& f = boundaryCandidates[key];
    for (size_t i = 0; i < f.size(); ++i) {
      const int a = f[i], b = f[(i + 1) % f.size()];
      ++boundaryEdges[{std::min(a, b), std::max(a, b)}];
    }
  }
  for (const auto& [edge, count] : boundaryEdges) r.openBoundaryEdges += count != 2 ? 1 : 0;
  r.coincidentNodePairs = CountCoincidentPairs(mesh, mergeTol);
  return r;
}

bool HasFaults(const QualityReport& r) { return r.inverted > 0 || r.overSharedFaces > 0; }

namespace {

const char* const kKindNames[4] = {"tetra", "pyramid", "prism", "hexa"};

std::string Fixed(double value, int digits) {
  std::ostringstream s;
  s << std::fixed << std::setprecision(digits) << value;
  return s.str();
}

double SmallestScaledJacobian(const QualityReport& r) {
  double smallest = std::numeric_limits<double>::infinity();
  for (const KindStats& s : r.byKind)
    if (s.count > 0) smallest = std::min(smallest, s.minScaledJacobian);
  return std::isfinite(smallest) ? smallest : 0.0;
}

}  // namespace

std::string SummaryLine(const QualityReport& r) {
  std::ostringstream s;
  s << "quality: " << r.inverted << " inverted, " << r.overSharedFaces << " faces shared by 3+, "
    << (r.openBoundaryEdges == 0 ? std::string("boundary closed")
                                 : std::to_string(r.openBoundaryEdges) + " open boundary edges")
    << ", " << r.coincidentNodePairs << " coincident nodes, min scaled Jacobian "
    << Fixed(SmallestScaledJacobian(r), 3);
  std::string sep = " (";
  for (size_t k = 0; k < 4; ++k)
    if (r.byKind[k].count > 0) {
      s << sep << kKindNames[k] << " " << Fixed(r.byKind[k].minScaledJacobian, 3);
      sep = ", ";
    }
  if (sep == ", ") s << ")";
  s << ", volume " << std::setprecision(6) << r.volume;
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
    s << std::left << std::setw(34) << what << value << "\n";
  };
  row("nodes", std::to_string(r.nodes));
  row("inverted elements", std::to_string(r.inverted));
  row("degenerate elements", std::to_string(r.degenerate));
  row("faces shared by more than two", std::to_string(r.overSharedFaces));
  row("open boundary edges", std::to_string(r.openBoundaryEdges) + (r.openBoundaryEdges == 0 ? " (closed)" : ""));
  std::ostringstream tol;
  tol << r.coincidentNodePairs << " (within " << std::setprecision(3) << r.mergeTol << ")";
  row("coincident node pairs", tol.str());
  std::ostringstream volume;
  volume << std::setprecision(9) << r.volume;
  row("volume", volume.str());
  return s.str();
}

std::string DescribeFaults(const QualityReport& r) {
  std::ostringstream s;
  if (r.inverted > 0) s << r.inverted << " inverted element" << (r.inverted == 1 ? "" : "s") << "\n";
  if (r.overSharedFaces > 0)
    s << r.overSharedFaces << " face" << (r.overSharedFaces == 1 ? "" : "s") << " shared by more than two elements\n";
  return s.str();
}

}  // namespace vela::quality
