// The finite-volume measures (finite_volume.h) on faces, cells and meshes
// whose values follow by hand; their indifference to where a mesh lies, how
// it is turned and how large it is; and the limits that make them faults.

#include "finite_volume.h"
#include "hand_meshes.h"
#include "quality.h"
#include "quality_json.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <random>
#include <set>
#include <vector>

namespace {

using vela::quality::Assess;
using vela::quality::Fault;
using vela::quality::FaceCentreAndArea;
using vela::quality::FaceGeometry;
using vela::quality::Limits;
using vela::quality::QualityReport;
using vela::quality::Vec;
using vela::testing::AddElement;
using vela::testing::Block;
using vela::testing::Changed;
using vela::testing::Grid;
using vela::testing::Point;
using vela::testing::Turned;

constexpr double kDegree = 180.0 / 3.141592653589793;

void ExpectNear(const Vec& a, const Vec& b, double tol) {
  for (size_t k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], tol) << "component " << k;
}

// The faces of one element, area vectors pointing out.
std::vector<FaceGeometry> FacesOf(const MemoryMesh& m, const MeshElement& e) {
  std::vector<FaceGeometry> faces;
  for (const std::vector<int>& face : vela::quality::OutwardFaces(e)) {
    std::vector<Vec> corners;
    for (const int n : face) corners.push_back(m.nodes[static_cast<size_t>(n)]);
    faces.push_back(FaceCentreAndArea(corners));
  }
  return faces;
}

std::vector<Vec> AreasOf(const std::vector<FaceGeometry>& faces) {
  std::vector<Vec> areas;
  for (const FaceGeometry& f : faces) areas.push_back(f.area);
  return areas;
}

// A block of unit cubes sheared along x by t per unit of height: every cell
// a parallelepiped leaning by atan(t).
MemoryMesh Sheared(int nx, int ny, int nz, double t) {
  return Changed(Block(nx, ny, nz), [t](MemoryMesh& m) {
    for (Point& p : m.nodes) p[0] += t * p[2];
  });
}

// A pyramid of height h over the unit square.
MemoryMesh Pyramid(double h) {
  MemoryMesh m;
  AddElement(m, ElementKind::Pyramid, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5, 0.5, h}});
  return m;
}

// Every kind, joined face to face: a warped block with a thin layer, its
// cells along y = 1..1.8 cut on a diagonal into prisms (the same diagonal up
// the column, so that their triangles meet), a pyramid on top and a
// tetrahedron under a prism's bottom triangle.
MemoryMesh MixedMesh() {
  MemoryMesh m = Grid({0, 1, 1.2, 2.2, 3.5}, {0, 1, 1.8}, {0, 0.7, 1.5});
  for (Point& p : m.nodes) p[1] += 0.3 * p[2] * p[0] / 3.5;
  for (const size_t e : {4, 5, 6, 7, 12, 13, 14, 15}) {
    const std::array<int, 8> n = m.elements[e].nodes;
    m.elements[e] = {ElementKind::Prism, {n[0], n[1], n[2], n[4], n[5], n[6], -1, -1}};
    m.elements.push_back({ElementKind::Prism, {n[0], n[2], n[3], n[4], n[6], n[7], -1, -1}});
  }
  m.nodes.push_back({0.5, 0.6, 2.2});  // above the top of cell 8: nodes 30, 31, 36, 35
  AddElement(m, ElementKind::Pyramid, {30, 31, 36, 35, m.GetNodeCount() - 1});
  m.nodes.push_back({0.7, 1.3, -0.6});  // under cell 4's first prism's bottom: nodes 5, 6, 11
  AddElement(m, ElementKind::Tetra, {5, 11, 6, m.GetNodeCount() - 1});
  return m;
}

// Two hexahedra, each of sound shape (scaled Jacobians 0.48 and 0.36), on a
// face so warped that no split of it into triangles leaves both cells'
// tetrahedra upright: OpenFOAM's checkMesh reads this mesh (through
// gmshToFoam) with one face failing its face tets.
MemoryMesh WarpedPair() {
  MemoryMesh m;
  m.nodes = {{0, 0, 0},         {1, 0, 0},         {1, 1, 0},          {0, 1, 0},
             {0.078, -0.25, 0.635}, {1.104, 0.007, 1.371}, {1.277, 0.704, 0.753}, {-0.259, 1.106, 0.667},
             {0, 0, 0.864},     {1, 0, 1.54},      {1, 1, 0.989},      {0, 1, 0.829}};
  AddElement(m, ElementKind::Hexa, {0, 1, 2, 3, 4, 5, 6, 7});
  AddElement(m, ElementKind::Hexa, {4, 5, 6, 7, 8, 9, 10, 11});
  return m;
}

// Limits that judge one class alone, at the default.
Limits Only(Fault fault) {
  const Limits defaults;
  Limits only = Limits::None();
  if (fault == Fault::PoorCell) only.minScaledJacobian = defaults.minScaledJacobian;
  if (fault == Fault::SmallDeterminant) only.minDeterminant = defaults.minDeterminant;
  if (fault == Fault::SmallWeight) only.minWeight = defaults.minWeight;
  if (fault == Fault::NonOrthogonal) only.maxNonOrthogonality = defaults.maxNonOrthogonality;
  if (fault == Fault::Skewed) only.maxSkewness = defaults.maxSkewness;
  if (fault == Fault::FaceTets) only.minFaceTet = defaults.minFaceTet;
  return only;
}

}  // namespace

// A face's centre is its area-weighted centroid, not the mean of its corners;
// its area vector is its area along the normal its corners turn about, for a
// face off its plane the half cross product of its diagonals.
TEST(FiniteVolume, FacesHaveTheirCentroidAndAreaVector) {
  // A trapezoid with parallel sides 4 and 2, 2 apart: area 6, centroid 8/9 up
  // (h (a + 2b) / 3 (a + b)), where the corners' mean lies at 1.
  const std::vector<Vec> trapezoid = {{0, 0, 0}, {4, 0, 0}, {3, 2, 0}, {1, 2, 0}};
  const FaceGeometry t = FaceCentreAndArea(trapezoid);
  ExpectNear(t.centre, {2, 8.0 / 9, 0}, 1e-14);
  ExpectNear(t.area, {0, 0, 6}, 1e-14);
  const FaceGeometry back = FaceCentreAndArea({trapezoid[3], trapezoid[2], trapezoid[1], trapezoid[0]});
  ExpectNear(back.centre, t.centre, 1e-14);
  ExpectNear(back.area, {0, 0, -6}, 1e-14);

  const FaceGeometry triangle = FaceCentreAndArea({{0, 0, 0}, {3, 0, 0}, {0, 3, 3}});
  ExpectNear(triangle.centre, {1, 1, 1}, 1e-14);
  ExpectNear(triangle.area, {0, -4.5, 4.5}, 1e-14);

  const std::vector<Vec> twisted = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0.6}, {0, 1, 0}};
  const Vec halfDiagonals = vela::quality::Scaled(
      vela::quality::Cross(vela::quality::Sub(twisted[2], twisted[0]), vela::quality::Sub(twisted[3], twisted[1])), 0.5);
  ExpectNear(FaceCentreAndArea(twisted).area, halfDiagonals, 1e-14);

  // A quadrilateral fallen onto one point keeps the point and no area.
  const FaceGeometry point = FaceCentreAndArea({{2, 3, 4}, {2, 3, 4}, {2, 3, 4}, {2, 3, 4}});
  ExpectNear(point.centre, {2, 3, 4}, 0.0);
  ExpectNear(point.area, {0, 0, 0}, 0.0);
}

// Cell centres are centroids: a pyramid's lies a quarter of its height above
// its base's centre, a sheared cube's at its corners' mean.
TEST(FiniteVolume, CellCentresAreCentroids) {
  for (const double h : {0.3, 1 / std::sqrt(2.0), 2.5}) {
    const MemoryMesh pyramid = Pyramid(h);
    ExpectNear(vela::quality::CellCentre(FacesOf(pyramid, pyramid.elements[0])), {0.5, 0.5, h / 4}, 1e-14);
  }
  const MemoryMesh sheared = Sheared(1, 1, 1, 0.7);
  ExpectNear(vela::quality::CellCentre(FacesOf(sheared, sheared.elements[0])), {0.5 + 0.35, 0.5, 0.5}, 1e-14);
}

// The determinant counts the directions a cell's neighbours surround it in.
// A cube: every side 1, one side of each axis 1/8, an axis with no
// neighbour 0. A prism flattened to height h keeps the scaled Jacobian of the
// ideal prism (a right corner on an equilateral triangle) while its
// determinant falls with h^4: its sides, of area h, hardly count against its
// ends. A regular pyramid surrounded: its base (area 1), four equilateral
// sides whose area vectors (+-h/2, 0, 1/4) sum to diag(h^2/2, h^2/2, 1/4).
TEST(FiniteVolume, DeterminantOfKnownCells) {
  const MemoryMesh cube = Block(1, 1, 1);
  const std::vector<Vec> sides = AreasOf(FacesOf(cube, cube.elements[0]));  // -z, +z, -y, +x, +y, -x
  EXPECT_NEAR(vela::quality::CellDeterminant(sides), 1.0, 1e-14);
  EXPECT_NEAR(vela::quality::CellDeterminant({sides[0], sides[2], sides[5]}), 1.0 / 8, 1e-14);
  EXPECT_NEAR(vela::quality::CellDeterminant({sides[0], sides[1], sides[2], sides[3], sides[4]}), 4.0 / 8, 1e-14);
  EXPECT_NEAR(vela::quality::CellDeterminant({sides[0], sides[1], sides[3], sides[5]}), 0.0, 1e-14);
  EXPECT_EQ(vela::quality::CellDeterminant({}), 0.0);

  const double r3 = std::sqrt(3.0);
  for (const double h : {1.0, 0.05, 0.01}) {
    MemoryMesh prism;
    AddElement(prism, ElementKind::Prism, {{0, 0, 0}, {1, 0, 0}, {0.5, r3 / 2, 0}, {0, 0, h}, {1, 0, h}, {0.5, r3 / 2, h}});
    const double end = r3 / 4, mean = (2 * end + 3 * h) / 5;
    const double expected = (1.5 * h * h) * (1.5 * h * h) * (2 * end * end) / std::pow(mean, 6) / 8;
    EXPECT_NEAR(vela::quality::CellDeterminant(AreasOf(FacesOf(prism, prism.elements[0]))), expected, 1e-12 * expected)
        << "h " << h;
    EXPECT_NEAR(vela::quality::ScaledJacobian(prism, prism.elements[0]), 1.0, 1e-12);
  }

  const double h = 1 / std::sqrt(2.0);
  const MemoryMesh pyramid = Pyramid(h);
  const double mean = (1 + 4 * std::sqrt(h * h / 4 + 1.0 / 16)) / 5;
  EXPECT_NEAR(vela::quality::CellDeterminant(AreasOf(FacesOf(pyramid, pyramid.elements[0]))),
              (h * h / 2) * (h * h / 2) * (1 + 0.25) / std::pow(mean, 6) / 8, 1e-14);
}

// A block of cubes, whose cells checkMesh would call perfect but for the
// determinant of the cells on its corners, which have neighbours on one side
// of each axis only.
TEST(FiniteVolume, BlockOfCubesScoresAsCounted) {
  const QualityReport r = Assess(Block(3, 3, 3), 1e-9, Limits{});
  EXPECT_FALSE(vela::quality::HasFaults(r)) << vela::quality::DescribeFaults(r);
  EXPECT_EQ(r.finiteVolume.cells, 27);
  EXPECT_EQ(r.finiteVolume.internalFaces, 3 * 2 * 3 * 3);
  EXPECT_NEAR(r.finiteVolume.minDeterminant, 1.0 / 8, 1e-14);
  EXPECT_NEAR(r.finiteVolume.minWeight, 0.5, 1e-14);
  EXPECT_NEAR(r.finiteVolume.maxNonOrthogonality, 0.0, 1e-6);
  EXPECT_NEAR(r.finiteVolume.maxSkewness, 0.0, 1e-14);
}

// A block sheared by t: the line between two cell centres leans by atan(t)
// from the faces' normals across x and z, not across y; it passes through the
// face centres, so no internal face is skew. A boundary face at the top or
// the bottom lies t/2 along x from under its cell's centre, half its width of
// 1: skewness t. A thin layer between two unit cells puts its faces 0.02 from
// its centre and 0.5 from the other: weight 0.02 / 0.52.
TEST(FiniteVolume, ShearAndThinLayersMeasureAsDerived) {
  for (const double t : {0.2, 0.5, 1.5}) {
    const QualityReport r = Assess(Sheared(3, 2, 2, t), 1e-9);
    EXPECT_NEAR(r.finiteVolume.maxNonOrthogonality, std::atan(t) * kDegree, 1e-9) << t;
    EXPECT_NEAR(r.finiteVolume.maxSkewness, t, 1e-12) << t;
    EXPECT_NEAR(r.finiteVolume.minWeight, 0.5, 1e-12) << t;
  }
  const QualityReport thin = Assess(Grid({0, 1, 1.04, 2.04}, {0, 1, 2}, {0, 1}), 1e-9);
  EXPECT_NEAR(thin.finiteVolume.minWeight, 0.02 / 0.52, 1e-12);
  EXPECT_NEAR(thin.finiteVolume.maxNonOrthogonality, 0.0, 1e-6);
}

// The functions on single faces agree with the report's pass over the mesh:
// two cubes side by side, the second stretched to 3 along x: weight
// 0.5 / (0.5 + 1.5).
TEST(FiniteVolume, SingleFaceMeasures) {
  const FaceGeometry face = FaceCentreAndArea({{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}});
  const Vec owner{0.5, 0.5, 0.5}, neighbour{2.5, 0.5, 0.5};
  EXPECT_NEAR(vela::quality::FaceWeight(face, owner, neighbour), 0.25, 1e-14);
  EXPECT_NEAR(Assess(Grid({0, 1, 4}, {0, 1}, {0, 1}), 0.0).finiteVolume.minWeight, 0.25, 1e-14);
  // A neighbour centre off to the side by its distance: 45 degrees, and the
  // face centre half a unit from where the line crosses the face, which
  // reaches half a unit that way: skewness 1.
  const Vec aside{1.5, 1.5, 0.5};
  EXPECT_NEAR(vela::quality::NonOrthogonality(face, owner, aside), 45.0, 1e-12);
  const std::vector<Vec> corners = {{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}};
  EXPECT_NEAR(vela::quality::FaceSkewness(corners, face, owner, aside), 1.0, 1e-14);
  // On the boundary: the owner's centre straight behind the face centre, or
  // 0.3 to the side of it.
  EXPECT_NEAR(vela::quality::BoundaryFaceSkewness(corners, face, owner), 0.0, 1e-14);
  EXPECT_NEAR(vela::quality::BoundaryFaceSkewness(corners, face, {0.5, 0.8, 0.5}), 0.3 / 0.5, 1e-14);
  // A strip 0.1 wide: its reach is less than the least the normalisation
  // allows, a fifth of the distance between centres (2) inside, 0.4 times
  // the distance to the plane (1) on the boundary. Both offsets are 0.05.
  const std::vector<Vec> strip = {{1, 0, 0}, {1, 0.1, 0}, {1, 0.1, 1}, {1, 0, 1}};
  const FaceGeometry narrow = FaceCentreAndArea(strip);
  EXPECT_NEAR(vela::quality::FaceSkewness(strip, narrow, {0, 0.1, 0.5}, {2, 0.1, 0.5}), 0.05 / 0.4, 1e-14);
  EXPECT_NEAR(vela::quality::BoundaryFaceSkewness(strip, narrow, {0, 0.1, 0.5}), 0.05 / 0.4, 1e-14);
}

// The report's cell centres are the cells' centroids: a pyramid of height
// 0.7 on a unit cube has its centre 0.7/4 above their face, the cube 0.5
// below, and the face's weight is 0.175 / 0.675.
TEST(FiniteVolume, MeshCentresAreCentroids) {
  const MemoryMesh capped = Changed(Block(1, 1, 1), [](MemoryMesh& m) {
    m.nodes.push_back({0.5, 0.5, 1.7});
    AddElement(m, ElementKind::Pyramid, {4, 5, 7, 6, 8});
  });
  const QualityReport r = Assess(capped, 1e-9);
  EXPECT_EQ(r.finiteVolume.internalFaces, 1);
  EXPECT_NEAR(r.finiteVolume.minWeight, 0.175 / 0.675, 1e-14);
  EXPECT_NEAR(r.finiteVolume.maxNonOrthogonality, 0.0, 1e-6);
}

// Each mesh is sound and built around one class beyond its limit; judged by
// that limit alone it counts what the hand count says, names the cells, and
// nothing else; judged by no limits at all, nothing.
TEST(FiniteVolume, LimitsCountPlantedFaults) {
  // A shear of 5: every hexahedron's corners score 1/sqrt(26) (under 0.2),
  // its faces across x and z lean atan(5) = 78.7 degrees, its top and bottom
  // faces are skew by 5.
  const MemoryMesh sheared = Sheared(3, 2, 2, 5.0);
  // A pyramid capping a cube: each has one neighbour, a single direction.
  const MemoryMesh capped = Changed(Block(1, 1, 1), [](MemoryMesh& m) {
    m.nodes.push_back({0.5, 0.5, 1.7});
    AddElement(m, ElementKind::Pyramid, {4, 5, 7, 6, 8});
  });
  const struct {
    const char* what;
    MemoryMesh mesh;
    Fault fault;
    long long count;
    std::vector<int> named;
  } cases[] = {
      {"a block sheared by 5", sheared, Fault::PoorCell, 12, {0, 1, 2, 3, 4}},
      {"a pyramid capping a cube", capped, Fault::SmallDeterminant, 2, {0, 1}},
      {"a layer 0.04 thick between unit cells", Grid({0, 1, 1.04, 2.04}, {0, 1}, {0, 1}), Fault::SmallWeight, 2,
       {0, 1, 2}},
      // Across x: 2 x 2 x 2 faces; across z: 3 x 2 x 1.
      {"a block sheared by 5", sheared, Fault::NonOrthogonal, 8 + 6, {0, 1, 2, 3, 4}},
      {"a block sheared by 5", sheared, Fault::Skewed, 2 * 3 * 2, {0, 1, 2, 3, 4}},
      {"two cells on a warped face", WarpedPair(), Fault::FaceTets, 1, {0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.what) + ": " + vela::quality::FaultName(c.fault));
    const QualityReport r = Assess(c.mesh, 1e-9, Only(c.fault));
    EXPECT_EQ(r.Count(c.fault), c.count);
    EXPECT_EQ(r[c.fault].named, c.named);
    for (int f = 0; f < vela::quality::kFaultClasses; ++f) {
      const Fault other = static_cast<Fault>(f);
      if (other != c.fault) {
        EXPECT_EQ(r.Count(other), 0) << vela::quality::FaultName(other);
      }
    }
    EXPECT_NE(vela::quality::DescribeFaults(r).find(std::string(vela::quality::FaultName(c.fault)) + " " +
                                                    std::to_string(c.count) + " ("),
              std::string::npos)
        << vela::quality::DescribeFaults(r);
    EXPECT_GE(Assess(c.mesh, 1e-9, Limits{}).Count(c.fault), c.count) << "the defaults catch it too";
    EXPECT_FALSE(vela::quality::HasFaults(Assess(c.mesh, 1e-9))) << "no limits, no faults";
  }
}

// The floor is a floor: an element at it passes, one under it does not, and
// elements already inverted count as inverted only.
TEST(FiniteVolume, FloorCountsSoundElementsUnderIt) {
  const MemoryMesh sheared = Sheared(2, 1, 1, 5.0);
  const double score = 1 / std::sqrt(26.0);
  ASSERT_NEAR(vela::quality::ScaledJacobian(sheared, sheared.elements[0]), score, 1e-12);
  Limits floor = Limits::None();
  floor.minScaledJacobian = score - 1e-9;
  EXPECT_EQ(Assess(sheared, 1e-9, floor).Count(Fault::PoorCell), 0);
  floor.minScaledJacobian = score + 1e-9;
  EXPECT_EQ(Assess(sheared, 1e-9, floor).Count(Fault::PoorCell), 2);

  const MemoryMesh inverted = Changed(Block(2, 1, 1), [](MemoryMesh& m) { m.nodes[11] = {1.3, 0.3, 0.3}; });
  const QualityReport r = Assess(inverted, 1e-9, floor);
  EXPECT_EQ(std::make_pair(r.Count(Fault::Inverted), r.Count(Fault::PoorCell)), std::make_pair(1LL, 0LL));
  EXPECT_THROW(Assess(sheared, 1e-9, Limits{std::nan(""), 0.001, 0.05, 70, 4}), std::invalid_argument);
}

// The report's pass over the mesh measures what the functions on single
// faces and cells measure: each pair of elements with a face in common found
// by comparing every pair, each cell's centre from its own faces alone.
TEST(FiniteVolume, ReportAgreesWithTheMeasuresOfSingleFaces) {
  const MemoryMesh m = MixedMesh();
  std::vector<Vec> centres;
  std::vector<std::vector<Vec>> internalAreas(m.elements.size());
  for (const MeshElement& e : m.elements) centres.push_back(vela::quality::CellCentre(FacesOf(m, e)));
  double minWeight = 0.5, maxAngle = 0.0, maxSkew = 0.0;
  long long internal = 0;
  for (size_t a = 0; a < m.elements.size(); ++a)
    for (const std::vector<int>& face : vela::quality::OutwardFaces(m.elements[a])) {
      std::vector<int> key = face;
      std::sort(key.begin(), key.end());
      std::vector<Vec> corners;
      for (const int n : face) corners.push_back(m.nodes[static_cast<size_t>(n)]);
      const FaceGeometry g = FaceCentreAndArea(corners);
      int other = -1;
      for (size_t b = 0; b < m.elements.size(); ++b)
        for (std::vector<int> theirs : vela::quality::OutwardFaces(m.elements[b])) {
          std::sort(theirs.begin(), theirs.end());
          if (b != a && theirs == key) other = static_cast<int>(b);
        }
      if (other < 0) {
        maxSkew = std::max(maxSkew, vela::quality::BoundaryFaceSkewness(corners, g, centres[a]));
        continue;
      }
      internalAreas[a].push_back(g.area);
      if (static_cast<size_t>(other) < a) continue;  // each internal face once, from its first element
      ++internal;
      const Vec& b = centres[static_cast<size_t>(other)];
      minWeight = std::min(minWeight, vela::quality::FaceWeight(g, centres[a], b));
      maxAngle = std::max(maxAngle, vela::quality::NonOrthogonality(g, centres[a], b));
      maxSkew = std::max(maxSkew, vela::quality::FaceSkewness(corners, g, centres[a], b));
    }
  double minDeterminant = 1.0;
  for (const std::vector<Vec>& areas : internalAreas)
    minDeterminant = std::min(minDeterminant, vela::quality::CellDeterminant(areas));
  const QualityReport r = Assess(m, 1e-9);
  EXPECT_EQ(r.finiteVolume.internalFaces, internal);
  EXPECT_NEAR(r.finiteVolume.minWeight, minWeight, 1e-12);
  EXPECT_NEAR(r.finiteVolume.maxNonOrthogonality, maxAngle, 1e-9);
  EXPECT_NEAR(r.finiteVolume.maxSkewness, maxSkew, 1e-12);
  EXPECT_NEAR(r.finiteVolume.minDeterminant, minDeterminant, 1e-12);
}

// The measures and the scaled Jacobians are the mesh's own: the same moved,
// turned or scaled by any factor.
TEST(FiniteVolume, MeasuresIgnorePlaceTurnAndSize) {
  const MemoryMesh m = MixedMesh();
  const QualityReport sound = Assess(m, 1e-9);
  ASSERT_FALSE(vela::quality::HasFaults(sound)) << vela::quality::DescribeFaults(sound);
  ASSERT_EQ(m.CountOf(ElementKind::Tetra) * m.CountOf(ElementKind::Pyramid), 1);
  const QualityReport base = Assess(m, 1e-9, Limits{});
  ASSERT_GT(base.finiteVolume.maxNonOrthogonality, 5.0);
  ASSERT_GT(base.finiteVolume.maxSkewness, 0.1);

  const auto transformed = [&m](const std::function<Point(const Point&)>& f) {
    MemoryMesh t = m;
    for (Point& p : t.nodes) p = f(p);
    return t;
  };
  const struct {
    const char* what;
    MemoryMesh mesh;
    double scale;
  } placements[] = {
      {"moved", transformed([](const Point& p) { return Point{p[0] + 1e3, p[1] - 7.5, p[2] + 0.25}; }), 1.0},
      {"turned", transformed(vela::testing::Turned), 1.0},
      {"shrunk", transformed([](const Point& p) { return Point{p[0] * 1e-4, p[1] * 1e-4, p[2] * 1e-4}; }), 1e-4},
      {"grown", transformed([](const Point& p) { return Point{p[0] * 1e5, p[1] * 1e5, p[2] * 1e5}; }), 1e5},
  };
  for (const auto& placed : placements) {
    SCOPED_TRACE(placed.what);
    const QualityReport r = Assess(placed.mesh, 1e-9 * placed.scale, Limits{});
    const auto& a = base.finiteVolume;
    const auto& b = r.finiteVolume;
    EXPECT_EQ(std::make_pair(a.cells, a.internalFaces), std::make_pair(b.cells, b.internalFaces));
    EXPECT_NEAR(b.minDeterminant, a.minDeterminant, 1e-12 + 1e-9 * a.minDeterminant);
    EXPECT_NEAR(b.minWeight, a.minWeight, 1e-9);
    EXPECT_NEAR(b.maxNonOrthogonality, a.maxNonOrthogonality, 1e-7);
    EXPECT_NEAR(b.maxSkewness, a.maxSkewness, 1e-9);
    for (size_t e = 0; e < m.elements.size(); ++e) EXPECT_NEAR(r.scaledJacobian[e], base.scaledJacobian[e], 1e-9);
    for (int f = 0; f < vela::quality::kFaultClasses; ++f)
      EXPECT_EQ(r.Count(static_cast<Fault>(f)), base.Count(static_cast<Fault>(f))) << f;
    EXPECT_NEAR(r.volume, base.volume * std::pow(placed.scale, 3), 1e-9 * r.volume);
  }
}

// The JSON carries the measures and the limits; a limit that judges nothing
// is null, since JSON has no infinity.
TEST(FiniteVolume, JsonCarriesMeasuresAndLimits) {
  const MemoryMesh m = Block(3, 3, 3);
  const nlohmann::ordered_json judged = vela::quality::QualityJson(Assess(m, 1e-9, Limits{}));
  const nlohmann::ordered_json bare = vela::quality::QualityJson(Assess(m, 1e-9));
  EXPECT_EQ(judged["finite_volume"], bare["finite_volume"]);
  EXPECT_EQ(judged["finite_volume"]["internal_faces"], 54);
  EXPECT_DOUBLE_EQ(judged["finite_volume"]["min_determinant"].get<double>(), 0.125);
  EXPECT_EQ(judged["limits"], nlohmann::ordered_json::parse(
                                  R"({"min_scaled_jacobian": 0.2, "min_determinant": 0.001,
                                      "min_interpolation_weight": 0.05, "max_non_orthogonality": 70.0,
                                      "max_skewness": 4.0, "min_face_tet": 0.0})"));
  for (const auto& [name, limit] : bare["limits"].items()) EXPECT_TRUE(limit.is_null()) << name;
  const std::string table = vela::quality::ReportTable(Assess(m, 1e-9, Limits{}));
  EXPECT_NE(table.find("min cell determinant                      0.125\n"), std::string::npos) << table;
  EXPECT_NE(table.find("highly skew faces                         0 (skewness over 4)\n"), std::string::npos) << table;
  EXPECT_NE(vela::quality::ReportTable(Assess(m, 1e-9)).find("highly skew faces                         0 (not judged)\n"),
            std::string::npos);
  std::set<std::string> keys;
  for (const auto& [key, value] : judged["faults"].items()) keys.insert(key);
  for (const char* name : {"poor cells", "cells with small determinant", "faces with small interpolation weight",
                           "severely non-orthogonal faces", "highly skew faces", "faces with inverted face tets"})
    EXPECT_TRUE(keys.count(name)) << name;
}

namespace {

// The face tets as first written: every tetrahedron measured in full, its
// volume over the cube of its longest edge.
double PlainTetMeasure(const Vec& a, const Vec& b, const Vec& c, const Vec& d) {
  using vela::quality::Sub;
  const Vec ab = Sub(b, a), ac = Sub(c, a), ad = Sub(d, a);
  double longest = 0.0;
  for (const Vec& e : {ab, ac, ad, Sub(c, b), Sub(d, b), Sub(d, c)})
    longest = std::max(longest, vela::quality::Dot(e, e));
  const double volume = vela::quality::Dot(vela::quality::Cross(ab, ac), ad) / 6.0;
  return longest > 0.0 ? volume / (longest * std::sqrt(longest)) : 0.0;
}

bool PlainFaceTetsUpright(const std::vector<Vec>& corners, const FaceGeometry& face, const Vec& owner,
                          const Vec* neighbour, double least) {
  const size_t n = corners.size();
  for (size_t i = 0; i < n; ++i) {
    const Vec& p = corners[i];
    const Vec& q = corners[(i + 1) % n];
    if (!(-PlainTetMeasure(p, q, face.centre, owner) > least)) return false;
    if (neighbour && !(PlainTetMeasure(p, q, face.centre, *neighbour) > least)) return false;
  }
  for (size_t base = 0; base < n; ++base) {
    bool upright = true;
    for (size_t t = 1; t + 1 < n && upright; ++t) {
      const Vec& a = corners[(base + t) % n];
      const Vec& b = corners[(base + t + 1) % n];
      upright = PlainTetMeasure(owner, corners[base], a, b) > least &&
                (!neighbour || PlainTetMeasure(*neighbour, corners[base], b, a) > least);
    }
    if (upright) return true;
  }
  return false;
}

}  // namespace

// The face tets mostly skip their edges and the root against a bound of 0,
// where the volume and the box round the face and the cell centres settle
// them; the verdict is still the one of every tetrahedron measured in
// full, on faces sound, warped and turned over, tiny and huge, and with
// cell centres close to the face, for the bound of 0 and for others.
TEST(FiniteVolume, FaceTetsJudgeAsWhenEveryTetrahedronIsMeasuredInFull) {
  std::mt19937_64 random(26);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  int upright = 0, turned = 0;
  for (const double scale : {1e-160, 1e-30, 1e-3, 1.0, 1e3, 1e30, 1e150}) {
    for (int trial = 0; trial < 1500; ++trial) {
      const size_t n = trial % 3 == 0 ? 3 : 4;
      // A square or triangle in z = 0, its corners jostled, some out of its
      // plane by as much as the face is wide.
      const double warp = trial % 5 == 0 ? 1.0 : trial % 5 == 1 ? 1e-9 : 0.2;
      std::vector<Vec> corners;
      for (size_t k = 0; k < n; ++k) {
        const double angle = 2.0 * 3.141592653589793 * static_cast<double>(k) / static_cast<double>(n);
        corners.push_back({scale * (std::cos(angle) + 0.3 * unit(random)),
                           scale * (std::sin(angle) + 0.3 * unit(random)), scale * warp * unit(random)});
      }
      const FaceGeometry face = FaceCentreAndArea(corners);
      // The owner below the face, the neighbour above, by a height from far
      // less than the face to far more; now and then on the wrong side.
      const double height = std::pow(10.0, 4.0 * unit(random));
      const Vec owner{scale * unit(random), scale * unit(random), -scale * height * (trial % 7 == 0 ? -0.1 : 1.0)};
      const Vec neighbour{scale * unit(random), scale * unit(random), scale * height * (trial % 11 == 0 ? -0.1 : 1.0)};
      for (const double least : {0.0, -0.0, 1e-6, -1e-6, 0.05, -0.05}) {
        for (const Vec* beyond : {static_cast<const Vec*>(nullptr), &neighbour}) {
          const bool expected = PlainFaceTetsUpright(corners, face, owner, beyond, least);
          ASSERT_EQ(vela::quality::FaceTetsUpright(corners, face, owner, beyond, least), expected)
              << "scale " << scale << ", trial " << trial << ", least " << least << (beyond ? "" : ", boundary");
          (expected ? upright : turned) += 1;
        }
      }
    }
  }
  // Cell centres all but on the face: volumes down among the denormals,
  // where a measure rounds to zero or not by its divisor alone.
  for (const double scale : {1e-100, 1e-3, 1.0, 1e4, 1e60})
    for (const double offset : {5e-324, 1e-320, 1e-312, 1e-310, 1e-300, 1e-250, 1e-200}) {
      const std::vector<Vec> corners = {{0, 0, 0}, {scale, 0, 0}, {scale, scale, 0}, {0, scale, 0}};
      const FaceGeometry face = FaceCentreAndArea(corners);
      const Vec owner{0.5 * scale, 0.5 * scale, -offset}, neighbour{0.5 * scale, 0.5 * scale, offset};
      for (const double least : {0.0, 1e-300}) {
        const bool expected = PlainFaceTetsUpright(corners, face, owner, &neighbour, least);
        EXPECT_EQ(vela::quality::FaceTetsUpright(corners, face, owner, &neighbour, least), expected)
            << "scale " << scale << ", offset " << offset << ", least " << least;
        (expected ? upright : turned) += 1;
      }
    }
  // Both verdicts came up often: the comparison judged something.
  EXPECT_GT(upright, 10000);
  EXPECT_GT(turned, 10000);
}
