// The quality report on hand-made meshes that each hold exactly one fault.

#include "Quality.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using vela::quality::Assess;
using vela::quality::QualityReport;

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

// One ideal element of each kind side by side (not connected).
MemoryMesh IdealElements() {
  MemoryMesh m;
  const double h = std::sqrt(3.0) / 2, s = std::sqrt(2.0);
  m.SetMeshSize(4, 4 + 5 + 6 + 8);
  const double pts[][3] = {
      // regular tetrahedron
      {1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1},
      // pyramid: unit square base, equilateral sides
      {10, 0, 0}, {11, 0, 0}, {11, 1, 0}, {10, 1, 0}, {10.5, 0.5, 1 / s},
      // right prism on an equilateral triangle
      {20, 0, 0}, {21, 0, 0}, {20.5, h, 0}, {20, 0, 1}, {21, 0, 1}, {20.5, h, 1},
      // cube
      {30, 0, 0}, {31, 0, 0}, {31, 1, 0}, {30, 1, 0}, {30, 0, 1}, {31, 0, 1}, {31, 1, 1}, {30, 1, 1}};
  for (int i = 0; i < 23; ++i) m.SetNodeCoord(i, pts[i][0], pts[i][1], pts[i][2]);
  m.SetTetraElement(0, 0, 2, 1, 3);
  m.SetPyramidElement(1, 4, 5, 6, 7, 8);
  m.SetPrismElement(2, 9, 10, 11, 12, 13, 14);
  m.SetHexaElement(3, 15, 16, 17, 18, 19, 20, 21, 22);
  return m;
}

void ExpectOnlyFault(const QualityReport& r, const char* fault) {
  const std::string f = fault;
  EXPECT_EQ(r.inverted, f == "inverted" ? 1 : 0);
  EXPECT_EQ(r.overSharedFaces, f == "overShared" ? 1 : 0);
  EXPECT_EQ(r.coincidentNodePairs, f == "coincident" ? 1 : 0);
  // A face shared by three elements makes its edges non-manifold too.
  if (f == "open" || f == "overShared") EXPECT_GT(r.openBoundaryEdges, 0);
  else EXPECT_EQ(r.openBoundaryEdges, 0);
}

}  // namespace

TEST(QualityReport, CleanBlockIsClosedAndMeasuresItsVolume) {
  const QualityReport r = Assess(Block(2, 2, 2), 1e-6);
  ExpectOnlyFault(r, "none");
  EXPECT_FALSE(vela::quality::HasFaults(r));
  EXPECT_NEAR(r.volume, 8.0, 1e-12);
  EXPECT_EQ(r.byKind[3].count, 8);
  EXPECT_DOUBLE_EQ(r.byKind[3].minScaledJacobian, 1.0);
  EXPECT_NE(vela::quality::SummaryLine(r).find("boundary closed"), std::string::npos);
}

TEST(QualityReport, IdealElementsScoreOne) {
  const MemoryMesh m = IdealElements();
  for (const MeshElement& e : m.elements) {
    SCOPED_TRACE(ElementKindName(e.kind));
    EXPECT_NEAR(vela::quality::ScaledJacobian(m, e), 1.0, 1e-12);
    EXPECT_GT(vela::quality::MinCornerJacobian(m, e), 0.0);
  }
  const QualityReport r = Assess(m, 1e-9);
  ExpectOnlyFault(r, "none");
  // Volumes: tetra 8/3, pyramid 1/(3 sqrt 2), prism sqrt(3)/4, cube 1.
  EXPECT_NEAR(r.volume, 8.0 / 3 + 1 / (3 * std::sqrt(2.0)) + std::sqrt(3.0) / 4 + 1.0, 1e-12);
}

TEST(QualityReport, InvertedHexahedron) {
  MemoryMesh m = Block(2, 1, 1);
  std::swap(m.elements[1].nodes[1], m.elements[1].nodes[3]);  // turns its base the other way
  std::swap(m.elements[1].nodes[5], m.elements[1].nodes[7]);
  const QualityReport r = Assess(m, 1e-6);
  // The flipped element also runs round its shared face in the same turn as
  // its neighbour, which the face count does not see: only inversion shows.
  ExpectOnlyFault(r, "inverted");
  EXPECT_TRUE(vela::quality::HasFaults(r));
  EXPECT_LT(r.byKind[3].minScaledJacobian, 0.0);
  EXPECT_NE(vela::quality::DescribeFaults(r).find("1 inverted element"), std::string::npos);
}

TEST(QualityReport, FaceSharedByThreeElements) {
  // Two stacked cubes, and a taller third element on the face between them.
  MemoryMesh m = Block(1, 1, 2);
  const int top = m.GetNodeCount();
  for (const auto& p : {std::array<double, 3>{0, 0, 3}, {1, 0, 3}, {1, 1, 3}, {0, 1, 3}}) m.nodes.push_back(p);
  MeshElement tall = m.elements[1];
  for (int k = 4; k < 8; ++k) tall.nodes[static_cast<size_t>(k)] = top + k - 4;
  m.elements.push_back(tall);
  const QualityReport r = Assess(m, 1e-6);
  ExpectOnlyFault(r, "overShared");
  EXPECT_TRUE(vela::quality::HasFaults(r));
}

TEST(QualityReport, OpenBoundary) {
  // Two cubes that touch along an edge only: each is closed, but the shared
  // edge belongs to four boundary faces.
  MemoryMesh m = Block(2, 2, 1);
  m.elements.erase(m.elements.begin() + 1);
  m.elements.erase(m.elements.begin() + 1);
  const QualityReport r = Assess(m, 1e-6);
  ExpectOnlyFault(r, "open");
  EXPECT_EQ(r.openBoundaryEdges, 1);
  EXPECT_FALSE(vela::quality::HasFaults(r));  // a warning, not a fault
}

TEST(QualityReport, CoincidentUnmergedNodes) {
  MemoryMesh m = Block(1, 1, 1);
  m.nodes.push_back({3.0, 3.0, 3.0});
  m.nodes.push_back({3.0 + 5e-7, 3.0, 3.0 - 5e-7});
  const QualityReport r = Assess(m, 1e-6);
  ExpectOnlyFault(r, "coincident");
  EXPECT_EQ(Assess(m, 1e-7).coincidentNodePairs, 0);
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

TEST(QualityReport, FlatElementTurnedInSpaceIsDegenerateNotInverted) {
  MemoryMesh m = Block(1, 1, 1);
  for (int i = 4; i < 8; ++i) m.nodes[static_cast<size_t>(i)][2] = 0.0;  // the top face onto the bottom
  const double a = 0.3;
  for (auto& p : m.nodes) p = {std::cos(a) * p[0] - std::sin(a) * p[1], std::sin(a) * p[0] + std::cos(a) * p[1], p[2] + 0.1 * p[0]};
  const QualityReport r = Assess(m, 1e-9);
  EXPECT_EQ(r.inverted, 0);
  EXPECT_EQ(r.degenerate, 1);
}

TEST(QualityReport, RejectsCornersOutsideTheNodes) {
  MemoryMesh m = Block(1, 1, 1);
  m.elements[0].nodes[2] = 99;
  EXPECT_THROW(Assess(m, 1e-6), std::invalid_argument);
}
