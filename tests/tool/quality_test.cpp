// The quality report on hand-made meshes, each built around one fault.

#include "quality.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>

namespace {

using vela::quality::Assess;
using vela::quality::Fault;
using vela::quality::QualityReport;
using Point = std::array<double, 3>;

// A block of nx x ny x nz unit hexahedra.
MemoryMesh Block(int nx, int ny, int nz) {
  MemoryMesh m;
  auto id = [&](int i, int j, int k) { return i + (nx + 1) * (j + (ny + 1) * k); };
  m.SetMeshSize(nx * ny * nz, (nx + 1) * (ny + 1) * (nz + 1));
  for (int k = 0; k <= nz; ++k)
    for (int j = 0; j <= ny; ++j)
      for (int i = 0; i <= nx; ++i) m.SetNodeCoord(id(i, j, k), i, j, k);
  int e = 0;
  for (int k = 0; k < nz; ++k)
    for (int j = 0; j < ny; ++j)
      for (int i = 0; i < nx; ++i)
        m.SetHexaElement(e++, id(i, j, k), id(i + 1, j, k), id(i + 1, j + 1, k), id(i, j + 1, k), id(i, j, k + 1),
                         id(i + 1, j, k + 1), id(i + 1, j + 1, k + 1), id(i, j + 1, k + 1));
  return m;
}

// Appends one element of the given kind on new nodes at the given points.
void AddElement(MemoryMesh& m, ElementKind kind, const std::vector<Point>& points) {
  MeshElement e;
  e.kind = kind;
  e.nodes.fill(-1);
  for (size_t i = 0; i < points.size(); ++i) {
    e.nodes[i] = m.GetNodeCount();
    m.nodes.push_back(points[i]);
  }
  m.elements.push_back(e);
}

const std::vector<Point> kCube = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};

std::vector<Point> Moved(std::vector<Point> points, const Point& by) {
  for (Point& p : points)
    for (size_t k = 0; k < 3; ++k) p[k] += by[k];
  return points;
}

// One ideal element of each kind side by side (not connected).
MemoryMesh IdealElements() {
  MemoryMesh m;
  const double h = std::sqrt(3.0) / 2, s = std::sqrt(2.0);
  AddElement(m, ElementKind::Tetra, {{1, 1, 1}, {-1, 1, -1}, {1, -1, -1}, {-1, -1, 1}});
  AddElement(m, ElementKind::Pyramid, {{10, 0, 0}, {11, 0, 0}, {11, 1, 0}, {10, 1, 0}, {10.5, 0.5, 1 / s}});
  AddElement(m, ElementKind::Prism, {{20, 0, 0}, {21, 0, 0}, {20.5, h, 0}, {20, 0, 1}, {21, 0, 1}, {20.5, h, 1}});
  AddElement(m, ElementKind::Hexa, Moved(kCube, {30, 0, 0}));
  return m;
}

// Appends one element on nodes the mesh has.
void AddElement(MemoryMesh& m, ElementKind kind, std::initializer_list<int> nodes) {
  MeshElement e;
  e.kind = kind;
  e.nodes.fill(-1);
  std::copy(nodes.begin(), nodes.end(), e.nodes.begin());
  m.elements.push_back(e);
}

// The mirror image of every element (z -> -z): each scores -1 at best.
MemoryMesh Mirrored(MemoryMesh m) {
  for (Point& p : m.nodes) p[2] = -p[2];
  return m;
}

// Elements with a right-angled corner, where the prism's and pyramid's
// scale factors (above 1) would carry a mirrored corner below -1.
MemoryMesh RightAngledElements() {
  MemoryMesh m;
  AddElement(m, ElementKind::Tetra, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
  AddElement(m, ElementKind::Pyramid, {{10, 0, 0}, {11, 0, 0}, {11, 1, 0}, {10, 1, 0}, {10, 0, 1}});
  AddElement(m, ElementKind::Prism, {{20, 0, 0}, {21, 0, 0}, {20, 1, 0}, {20, 0, 1}, {21, 0, 1}, {20, 1, 1}});
  return m;
}

}  // namespace

TEST(QualityReport, CleanBlockIsClosedAndMeasuresItsVolume) {
  const QualityReport r = Assess(Block(3, 2, 2), 1e-6);
  EXPECT_FALSE(vela::quality::HasFaults(r)) << vela::quality::DescribeFaults(r);
  EXPECT_EQ(vela::quality::DescribeFaults(r), "");
  EXPECT_NEAR(r.volume, 12.0, 1e-12);
  EXPECT_EQ(r.byKind[3].count, 12);
  EXPECT_DOUBLE_EQ(r.byKind[3].minScaledJacobian, 1.0);
  EXPECT_NE(vela::quality::SummaryLine(r).find("no faults"), std::string::npos);
}

TEST(QualityReport, IdealElementsScoreOneAndTheirMirrorsMinusOne) {
  const MemoryMesh m = IdealElements();
  const QualityReport r = Assess(m, 1e-9), mirrored = Assess(Mirrored(m), 1e-9);
  for (size_t i = 0; i < m.elements.size(); ++i) {
    SCOPED_TRACE(ElementKindName(m.elements[i].kind));
    EXPECT_NEAR(r.scaledJacobian[i], 1.0, 1e-12);
    EXPECT_NEAR(mirrored.scaledJacobian[i], -1.0, 1e-12);
    EXPECT_GT(vela::quality::MinCornerJacobian(m, m.elements[i]), 0.0);
  }
  // Four elements apart: three pieces beyond the first, and nothing else.
  EXPECT_EQ(vela::quality::DescribeFaults(r), "disconnected pieces 3: elements 1, 2, 3\n");
  // Volumes: tetra 8/3, pyramid 1/(3 sqrt 2), prism sqrt(3)/4, cube 1.
  EXPECT_NEAR(r.volume, 8.0 / 3 + 1 / (3 * std::sqrt(2.0)) + std::sqrt(3.0) / 4 + 1.0, 1e-12);
  EXPECT_NEAR(mirrored.volume, -r.volume, 1e-12);
}

TEST(QualityReport, ScaledJacobianStaysWithinMinusOneAndOne) {
  const MemoryMesh upright = RightAngledElements(), mirrored = Mirrored(upright);
  for (const MemoryMesh* m : {&upright, &mirrored})
    for (const MeshElement& e : m->elements) {
      SCOPED_TRACE(ElementKindName(e.kind));
      const double sj = vela::quality::ScaledJacobian(*m, e);
      EXPECT_GE(sj, -1.0);
      EXPECT_LE(sj, 1.0);
      EXPECT_EQ(sj < 0, m == &mirrored);
    }
}

// Each mesh below is built around one fault class; a few classes bring
// others with them by nature, listed as `also`.
TEST(QualityReport, CountsAndNamesEveryFaultClass) {
  struct Case {
    const char* what;
    MemoryMesh mesh;
    Fault fault;
    long long count;
    std::vector<int> named;
    std::set<Fault> also;
  };
  std::vector<Case> cases;
  {
    MemoryMesh m = Block(2, 1, 1);
    m.nodes[11] = {1.3, 0.3, 0.3};  // element 1's far top corner pushed through it
    cases.push_back({"corner pushed through", m, Fault::Inverted, 1, {1}, {}});
  }
  {
    MemoryMesh m = Block(2, 1, 1);
    m.elements[1].nodes[6] = m.elements[1].nodes[5];
    cases.push_back({"a node named twice", m, Fault::Collapsed, 1, {1}, {}});
  }
  {
    MemoryMesh m = Block(1, 1, 1);
    m.nodes.push_back({0.5, 0.5, 1.0});  // the apex in the plane of the base, the cube's top
    AddElement(m, ElementKind::Pyramid, {4, 5, 7, 6, 8});
    cases.push_back({"a pyramid with its apex in its base", m, Fault::Flat, 1, {1}, {}});
  }
  {
    // Two stacked cubes, and a taller third element on the face between them.
    MemoryMesh m = Block(1, 1, 2);
    const int top = m.GetNodeCount();
    for (const Point& p : {Point{0, 0, 3}, {1, 0, 3}, {1, 1, 3}, {0, 1, 3}}) m.nodes.push_back(p);
    MeshElement tall = m.elements[1];
    for (int k = 4; k < 8; ++k) tall.nodes[static_cast<size_t>(k)] = top + k - 4;
    m.elements.push_back(tall);
    cases.push_back({"a face of three", m, Fault::OverSharedFace, 1, {0, 1, 2}, {Fault::OpenBoundary, Fault::Overlap}});
  }
  {
    // Two tetrahedra on the same side of one triangle: the smaller inside the larger.
    MemoryMesh m;
    m.nodes = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0.25, 0.25, 1}, {0.25, 0.25, 2}};
    m.elements.resize(2);
    m.elements[0].nodes = {0, 1, 2, 3, -1, -1, -1, -1};
    m.elements[1].nodes = {0, 1, 2, 4, -1, -1, -1, -1};
    cases.push_back({"a face in one turn", m, Fault::SameTurnFace, 1, {0, 1}, {Fault::OpenBoundary, Fault::Overlap}});
  }
  {
    // Two cubes meeting along one edge only, four boundary faces pinching
    // there, joined face to face through the layer above so that the mesh
    // stays one piece. (A mesh of solid elements has no boundary edge on a
    // single face unless faces are shared by three; the pinch is the open
    // boundary that stays.)
    MemoryMesh m = Block(2, 2, 2);
    for (const int e : {5, 2, 1}) m.elements.erase(m.elements.begin() + e);
    cases.push_back({"cubes along an edge", m, Fault::OpenBoundary, 1, {0, 1}, {}});
  }
  {
    MemoryMesh m = Block(2, 1, 1);
    m.nodes[11][1] = std::nan("");
    cases.push_back({"a NaN coordinate", m, Fault::NonFiniteNode, 1, {11}, {}});
  }
  {
    MemoryMesh m = Block(1, 1, 1);
    m.nodes.push_back({3.0, 3.0, 3.0});
    m.nodes.push_back({3.0 + 5e-7, 3.0, 3.0 - 5e-7});
    cases.push_back({"two unmerged nodes", m, Fault::CoincidentNodes, 1, {8, 9}, {}});
  }
  {
    // Neither centroid lies inside the other cube; the points half way to
    // the corners do. Apart and through each other's walls by nature.
    MemoryMesh m;
    AddElement(m, ElementKind::Hexa, kCube);
    AddElement(m, ElementKind::Hexa, Moved(kCube, {0.6, 0.6, 0.6}));
    cases.push_back({"cubes overlapping at a corner", m, Fault::Overlap, 2, {0, 1}, {Fault::CrossingFaces, Fault::Disconnected}});
  }
  {
    // Two cubes; on the first, two tetrahedra split along its top face's
    // diagonal, joined to the rest through a pyramid on the second. The
    // rim of the first cube's top, out in the open, has four boundary faces
    // at each edge; a hanging face inside a mesh would close.
    MemoryMesh m = Block(2, 1, 1);
    m.nodes.push_back({1, 0.5, 1.5});
    AddElement(m, ElementKind::Tetra, {6, 7, 10, 12});
    AddElement(m, ElementKind::Tetra, {6, 10, 9, 12});
    AddElement(m, ElementKind::Pyramid, {7, 8, 11, 10, 12});
    cases.push_back({"a quadrilateral under two triangles", m, Fault::HangingFace, 1, {0, 2, 3}, {Fault::OpenBoundary}});
  }
  {
    // A U of cubes whose right arm leans over until its inner wall just
    // cuts the left arm's: no sample point of either lies in the other.
    MemoryMesh m = Block(3, 1, 2);
    m.elements.erase(m.elements.begin() + 4);
    for (const size_t n : {18, 22}) m.nodes[n] = {0.95, m.nodes[n][1], 1.9};
    cases.push_back({"a U whose arms cut each other", m, Fault::CrossingFaces, 3, {3, 4}, {}});
  }
  {
    MemoryMesh m = Block(1, 1, 1);
    AddElement(m, ElementKind::Hexa, Moved(kCube, {3, 0, 0}));
    cases.push_back({"two cubes apart", m, Fault::Disconnected, 1, {1}, {}});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QualityReport r = Assess(c.mesh, 1e-6);
    EXPECT_EQ(r.Count(c.fault), c.count);
    EXPECT_EQ(r[c.fault].named, c.named);
    EXPECT_TRUE(vela::quality::HasFaults(r));
    for (int f = 0; f < vela::quality::kFaultClasses; ++f) {
      const Fault other = static_cast<Fault>(f);
      if (other == c.fault || c.also.count(other)) continue;
      EXPECT_EQ(r.Count(other), 0) << vela::quality::FaultName(other);
    }
    const std::string line = std::string(vela::quality::FaultName(c.fault)) + " " + std::to_string(c.count) + ": ";
    EXPECT_NE(vela::quality::DescribeFaults(r).find(line), std::string::npos) << vela::quality::DescribeFaults(r);
  }
}

// Sample points deep inside a long bar are found there, however much larger
// the bar is than the grid cells its small neighbours set.
TEST(QualityReport, FindsOverlapsInsideAnElementFarLargerThanTheOthers) {
  MemoryMesh m;
  std::vector<Point> bar = kCube;
  for (const size_t k : {1, 2, 5, 6}) bar[k][0] = 1000.0;  // past the cells a member may fill
  AddElement(m, ElementKind::Hexa, bar);
  for (int c = 0; c < 4; ++c) {  // small cubes inside the bar's far end
    std::vector<Point> small = Moved(kCube, {900.0 + 2.0 * c, 0.0, 0.0});
    for (Point& p : small) p = {p[0], 0.1 + 0.8 * p[1], 0.1 + 0.8 * p[2]};
    AddElement(m, ElementKind::Hexa, small);
  }
  const QualityReport r = Assess(m, 1e-6);
  EXPECT_EQ(r.Count(Fault::Overlap), 4);
  EXPECT_EQ(r[Fault::Overlap].named, (std::vector<int>{1, 2, 3, 4}));
}

TEST(QualityReport, DescribesEachClassOnOneLineWithItsIndices) {
  MemoryMesh m = Block(4, 1, 1);
  for (int e : {0, 2, 3}) std::swap(m.elements[static_cast<size_t>(e)].nodes[1], m.elements[static_cast<size_t>(e)].nodes[3]);
  m.nodes.push_back({9, 9, 9});
  m.nodes.push_back({9, 9, 9});
  const std::string text = vela::quality::DescribeFaults(Assess(m, 0.0));
  EXPECT_NE(text.find("inverted elements 3: 0, 2, 3\n"), std::string::npos) << text;
  EXPECT_NE(text.find("coincident node pairs 1: nodes 20-21\n"), std::string::npos) << text;
  EXPECT_NE(text.find("open boundary edges "), std::string::npos) << text;
}

// 70,000 copies of one node make 2,449,965,000 pairs: beyond an int, and
// beyond what comparing every pair could count in reasonable time.
TEST(QualityReport, CoincidentPairsCountPastAnInt) {
  MemoryMesh m;
  m.nodes.assign(70000, {1.5, -2.0, 0.25});
  const QualityReport r = Assess(m, 1e-6);
  EXPECT_EQ(r.Count(Fault::CoincidentNodes), 70000LL * 69999 / 2);
  EXPECT_EQ(r[Fault::CoincidentNodes].named, (std::vector<int>{0, 1}));
}

// The grid count against every pair compared, on clustered random points
// with ties on cell borders (coordinates on multiples of the tolerance).
TEST(QualityReport, CoincidentPairsMatchBruteForce) {
  std::mt19937 random(42);
  std::uniform_int_distribution<int> lattice(0, 12);
  std::uniform_real_distribution<double> jitter(-0.6, 0.6);
  for (const double tol : {0.0, 0.25, 0.5, 1.0}) {
    MemoryMesh m;
    for (int i = 0; i < 1500; ++i) {
      Point p{lattice(random) * 0.5, lattice(random) * 0.5, lattice(random) * 0.5};
      if (i % 3 == 0) p[static_cast<size_t>(i % 2)] += jitter(random);
      m.nodes.push_back(p);
    }
    long long expected = 0;
    for (size_t a = 0; a < m.nodes.size(); ++a)
      for (size_t b = a + 1; b < m.nodes.size(); ++b) {
        bool within = true;
        for (size_t k = 0; k < 3; ++k) within = within && std::fabs(m.nodes[a][k] - m.nodes[b][k]) <= tol;
        expected += within ? 1 : 0;
      }
    EXPECT_EQ(Assess(m, tol).Count(Fault::CoincidentNodes), expected) << "tol " << tol;
  }
}

TEST(QualityReport, UnchangedByMovingAndTurningTheMesh) {
  const MemoryMesh m = IdealElements();
  MemoryMesh moved = m;
  const double a = 0.6;
  for (auto& p : moved.nodes) p = {std::cos(a) * p[0] - std::sin(a) * p[2] + 4, p[1] - 2, std::sin(a) * p[0] + std::cos(a) * p[2]};
  const QualityReport r = Assess(m, 1e-9), s = Assess(moved, 1e-9);
  EXPECT_NEAR(r.volume, s.volume, 1e-12);
  for (size_t i = 0; i < r.scaledJacobian.size(); ++i) EXPECT_NEAR(r.scaledJacobian[i], s.scaledJacobian[i], 1e-12);
}

TEST(QualityReport, FlatElementTurnedInSpaceIsFlatNotInverted) {
  MemoryMesh m = Block(1, 1, 1);
  for (int i = 4; i < 8; ++i) {  // the top face into the bottom's plane, inside it
    Point& p = m.nodes[static_cast<size_t>(i)];
    p = {0.25 + 0.5 * p[0], 0.25 + 0.5 * p[1], 0.0};
  }
  const double a = 0.3;
  for (auto& p : m.nodes) p = {std::cos(a) * p[0] - std::sin(a) * p[1], std::sin(a) * p[0] + std::cos(a) * p[1], p[2] + 0.1 * p[0]};
  const QualityReport r = Assess(m, 0.0);
  EXPECT_EQ(r.Count(Fault::Inverted), 0);
  EXPECT_EQ(r.Count(Fault::Flat), 1);
}

TEST(QualityReport, RejectsCornersOutsideTheNodesAndBadTolerances) {
  MemoryMesh m = Block(1, 1, 1);
  for (const double tol : {-1.0, std::nan(""), HUGE_VAL}) EXPECT_THROW(Assess(m, tol), std::invalid_argument);
  m.elements[0].nodes[2] = 99;
  EXPECT_THROW(Assess(m, 1e-6), std::invalid_argument);
}
