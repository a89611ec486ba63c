// The core's overlap test (mapper/mesh_overlap.h): tilings of a cube by every
// kind of element and the meshes of sound junctions overlap nowhere, moved
// and turned or not; an element pushed into another, or a whole junction
// laid over a copy of itself, is found.

#include "mapper/mesh_overlap.h"
#include "vec3.h"

#include <VelaJunction.h>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using vela::Element;
using vela::ElementKind;
using vela::FindOverlap;
using vela::Point3;

struct Mesh {
  std::vector<Point3> nodes;
  std::vector<Element> elements;

  int Node(const Point3& p) {
    nodes.push_back(p);
    return static_cast<int>(nodes.size()) - 1;
  }
  void Add(ElementKind kind, std::initializer_list<int> corners) {
    Element e;
    e.kind = kind;
    size_t k = 0;
    for (int c : corners) e.corners[k++] = c;
    elements.push_back(e);
  }
  int Overlapping() const { return FindOverlap(nodes, elements, false).overlapping; }
};

// The eight corners of the cube [x, x+1] x [0, 1] x [0, 1], in hexahedron order.
std::vector<int> CubeCorners(Mesh& m, double x) {
  std::vector<int> c;
  for (double z : {0.0, 1.0})
    for (const auto& [dx, y] : {std::pair{0.0, 0.0}, {1.0, 0.0}, {1.0, 1.0}, {0.0, 1.0}})
      c.push_back(m.Node({x + dx, y, z}));
  return c;
}

void AddHexa(Mesh& m, const std::vector<int>& c) {
  m.Add(ElementKind::Hexa, {c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]});
}

TEST(MeshOverlap, TilingsOfACubeByEveryKindOverlapNowhere) {
  // Two hexahedra sharing a face, the shared corners being the same nodes.
  Mesh hexas;
  const std::vector<int> a = CubeCorners(hexas, 0.0);
  std::vector<int> b = CubeCorners(hexas, 1.0);
  b[0] = a[1], b[3] = a[2], b[4] = a[5], b[7] = a[6];
  AddHexa(hexas, a);
  AddHexa(hexas, b);
  EXPECT_EQ(hexas.Overlapping(), 0);

  // The cube cut into two prisms along a diagonal face.
  Mesh prisms;
  const std::vector<int> c = CubeCorners(prisms, 0.0);
  prisms.Add(ElementKind::Prism, {c[0], c[1], c[2], c[4], c[5], c[6]});
  prisms.Add(ElementKind::Prism, {c[0], c[2], c[3], c[4], c[6], c[7]});
  EXPECT_EQ(prisms.Overlapping(), 0);

  // Six pyramids from the centre to the faces (each base turning
  // counter-clockwise seen from the apex).
  Mesh pyramids;
  const std::vector<int> p = CubeCorners(pyramids, 0.0);
  const int mid = pyramids.Node({0.5, 0.5, 0.5});
  for (const auto& f : {std::array{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}})
    pyramids.Add(ElementKind::Pyramid, {p[static_cast<size_t>(f[0])], p[static_cast<size_t>(f[3])], p[static_cast<size_t>(f[2])],
                                        p[static_cast<size_t>(f[1])], mid});
  EXPECT_EQ(pyramids.Overlapping(), 0);

  // Five tetrahedra.
  Mesh tetras;
  const std::vector<int> t = CubeCorners(tetras, 0.0);
  for (const auto& q : {std::array{0, 1, 3, 4}, {1, 2, 3, 6}, {1, 4, 5, 6}, {3, 6, 7, 4}, {1, 3, 4, 6}}) {
    // Right way round whatever the order above: swap two corners of a negative one.
    std::array<int, 4> n{t[static_cast<size_t>(q[0])], t[static_cast<size_t>(q[1])], t[static_cast<size_t>(q[2])],
                         t[static_cast<size_t>(q[3])]};
    const auto at = [&](int k) { return tetras.nodes[static_cast<size_t>(n[static_cast<size_t>(k)])]; };
    const Point3 u = vela::Sub(at(1), at(0)), v = vela::Sub(at(2), at(0)), w = vela::Sub(at(3), at(0));
    if (vela::Dot(vela::Cross(u, v), w) < 0) std::swap(n[1], n[2]);
    tetras.Add(ElementKind::Tetra, {n[0], n[1], n[2], n[3]});
  }
  EXPECT_EQ(tetras.Overlapping(), 0);
  EXPECT_EQ(FindOverlap(tetras.nodes, tetras.elements, false).untiled, 0);
}

TEST(MeshOverlap, AnElementPushedIntoAnotherIsFoundHoweverItIsReached) {
  // The second cube starts at x = 1 - depth; a third of a cube reaches past
  // the samples half way from the centroid to the corners.
  for (const double depth : {0.3, 0.6, 1.0}) {
    SCOPED_TRACE(depth);
    Mesh m;
    AddHexa(m, CubeCorners(m, 0.0));
    AddHexa(m, CubeCorners(m, 1.0 - depth));
    EXPECT_EQ(m.Overlapping(), 2);
    EXPECT_EQ(FindOverlap(m.nodes, m.elements, true).overlapping, 1);
  }
  // Cubes that only touch, with nodes of their own on the shared face, or
  // stand apart, do not overlap.
  for (const double gap : {0.0, 0.5}) {
    Mesh m;
    AddHexa(m, CubeCorners(m, 0.0));
    AddHexa(m, CubeCorners(m, 1.0 + gap));
    EXPECT_EQ(m.Overlapping(), 0);
  }
  // A small tetrahedron wholly inside a cube, named as the first found.
  Mesh inside;
  AddHexa(inside, CubeCorners(inside, 0.0));
  const int a = inside.Node({0.4, 0.4, 0.4}), b = inside.Node({0.6, 0.4, 0.4}), c = inside.Node({0.4, 0.6, 0.4}),
            d = inside.Node({0.4, 0.4, 0.6});
  inside.Add(ElementKind::Tetra, {a, b, c, d});
  const vela::MeshOverlap found = FindOverlap(inside.nodes, inside.elements, false);
  EXPECT_EQ(found.overlapping, 1);
  EXPECT_EQ(found.firstElement, 1);
}

TEST(MeshOverlap, ElementsNamingNodesOutsideTheListAreLeftOut) {
  Mesh m;
  AddHexa(m, CubeCorners(m, 0.0));
  AddHexa(m, CubeCorners(m, 0.5));
  m.elements[1].corners[3] = 99;
  EXPECT_EQ(m.Overlapping(), 0);
  m.elements[1].corners[3] = -1;
  EXPECT_EQ(m.Overlapping(), 0);
}

// A junction the value API meshes, as it is and moved and turned: no
// overlap. Laid over a copy of itself shifted by a fraction of a radius: every
// element of one copy runs into the other.
TEST(MeshOverlap, SoundJunctionsOverlapNowhereAndACopyLaidOverOneEverywhere) {
  vela::JunctionInput input;
  input.center = {1, 2, 3};
  for (const double deg : {0.0, 100.0, 220.0}) {
    const double a = deg * vela::kPi / 180;
    input.farPoints.push_back({1 + 20 * std::cos(a), 2 + 20 * std::sin(a), 3});
    input.radii.insert(input.radii.end(), {2.0, 2.0});
  }
  vela::JunctionOptions options;
  options.asConstructed = true;
  const vela::JunctionResult result = vela::MeshJunction(input, options);
  ASSERT_TRUE(result.ok());
  const vela::JunctionMesh& mesh = result.mesh;
  EXPECT_EQ(FindOverlap(mesh.nodes, mesh.elements, false).overlapping, 0);

  // Turned about a skew axis and moved far away.
  const double c = std::cos(0.7), s = std::sin(0.7);
  std::vector<Point3> turned;
  for (const Point3& p : mesh.nodes) turned.push_back({1e3 + c * p[0] - s * p[2], -5e2 + p[1], 7e2 + s * p[0] + c * p[2]});
  EXPECT_EQ(FindOverlap(turned, mesh.elements, false).overlapping, 0);

  std::vector<Point3> nodes = mesh.nodes;
  std::vector<Element> elements = mesh.elements;
  const int n = static_cast<int>(nodes.size());
  for (const Point3& p : mesh.nodes) nodes.push_back({p[0] + 0.3, p[1] + 0.2, p[2] + 0.1});
  for (Element e : mesh.elements) {
    for (int k = 0; k < e.CornerCount(); ++k) e.corners[static_cast<size_t>(k)] += n;
    elements.push_back(e);
  }
  const int overlapping = FindOverlap(nodes, elements, false).overlapping;
  EXPECT_GT(overlapping, static_cast<int>(elements.size()) * 9 / 10);
}

}  // namespace
