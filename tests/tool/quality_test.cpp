// The quality report on hand-made meshes, each built around one fault.

#include "hand_meshes.h"
#include "channel.h"
#include "quality.h"
#include "quality_detail.h"
#include "quality_json.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iomanip>
#include <map>
#include <random>
#include <set>
#include <sstream>

namespace {

using vela::quality::Assess;
using vela::quality::Fault;
using vela::quality::QualityReport;
using vela::testing::AddElement;
using vela::testing::Block;
using vela::testing::Changed;
using vela::testing::kCube;
using vela::testing::Moved;
using vela::testing::Point;
using vela::testing::Turned;

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

// The mirror image of every element (z -> -z).
MemoryMesh Mirrored(MemoryMesh m) {
  for (Point& p : m.nodes) p[2] = -p[2];
  return m;
}

}  // namespace

TEST(QualityReport, CleanBlockIsClosedAndMeasuresItsVolume) {
  const QualityReport r = Assess(Block(3, 2, 2), 1e-6);
  EXPECT_FALSE(vela::quality::HasFaults(r)) << vela::quality::DescribeFaults(r);
  EXPECT_NEAR(r.volume, 12.0, 1e-12);
  EXPECT_EQ(r.byKind[3].count, 12);
  EXPECT_DOUBLE_EQ(r.byKind[3].minScaledJacobian, 1.0);
  EXPECT_NE(vela::quality::SummaryLine(r).find("no faults"), std::string::npos);
}

// The ideal element of each kind scores 1 wherever it is and however turned,
// and its mirror image -1; with a right-angled corner, where the prism's and
// pyramid's scale factors (above 1) would carry a mirrored corner below -1,
// the score stays within [-1, 1].
TEST(QualityReport, ScaledJacobianIsOneForTheIdealElementAndStaysWithinMinusOneAndOne) {
  MemoryMesh turned = IdealElements();
  for (Point& p : turned.nodes) p = Turned(p);
  for (const MemoryMesh& m : {IdealElements(), turned}) {
    const QualityReport r = Assess(m, 1e-9), mirrored = Assess(Mirrored(m), 1e-9);
    for (size_t i = 0; i < m.elements.size(); ++i) {
      SCOPED_TRACE(ElementKindName(m.elements[i].kind));
      EXPECT_NEAR(r.scaledJacobian[i], 1.0, 1e-12);
      EXPECT_NEAR(mirrored.scaledJacobian[i], -1.0, 1e-12);
    }
    EXPECT_EQ(std::make_pair(r.Count(Fault::Inverted), mirrored.Count(Fault::Inverted)), std::make_pair(0LL, 4LL));
    // Volumes: tetra 8/3, pyramid 1/(3 sqrt 2), prism sqrt(3)/4, cube 1.
    EXPECT_NEAR(r.volume, 8.0 / 3 + 1 / (3 * std::sqrt(2.0)) + std::sqrt(3.0) / 4 + 1.0, 1e-12);
    EXPECT_NEAR(mirrored.volume, -r.volume, 1e-12);
  }

  MemoryMesh upright;
  AddElement(upright, ElementKind::Tetra, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
  AddElement(upright, ElementKind::Pyramid, {{10, 0, 0}, {11, 0, 0}, {11, 1, 0}, {10, 1, 0}, {10, 0, 1}});
  AddElement(upright, ElementKind::Prism, {{20, 0, 0}, {21, 0, 0}, {20, 1, 0}, {20, 0, 1}, {21, 0, 1}, {20, 1, 1}});
  for (const bool mirror : {false, true}) {
    const MemoryMesh mesh = mirror ? Mirrored(upright) : upright;
    for (const MeshElement& e : mesh.elements) {
      SCOPED_TRACE(ElementKindName(e.kind));
      const double sj = vela::quality::ScaledJacobian(mesh, e);
      EXPECT_TRUE(sj >= -1.0 && sj <= 1.0 && (sj < 0) == mirror) << sj;
    }
  }
}

// Verdict's pyramid over the unit square with its apex at height h above the
// centre: each of the four tetrahedra has a right-angled base corner, volume
// h/6, edges 1, 1, sqrt 2 on the base and s = sqrt(1/2 + h^2) up; it divides
// by the larger of the products sqrt(2) s (at a base corner) and s^3 (at the
// apex), and the pyramid scores sqrt 2 times that: 2h / max(sqrt(2) s, s^3),
// folded back below 1 by as much as it overshoots. With the apex over a base
// corner at height 1 the worst tetrahedron, on the far three corners, has
// volume 1/6 and the largest product 2 sqrt 3 at the apex: sqrt(2) / (2
// sqrt 3), and the pyramid 1/sqrt 3.
TEST(QualityReport, PyramidScoresAsVerdict) {
  auto verdict = [](double h) {
    const double s = std::sqrt(0.5 + h * h);
    const double score = 2 * h / std::max(std::sqrt(2.0) * s, s * s * s);
    return score > 1 ? 2 - score : score;
  };
  for (const double h : {0.25, 1 / std::sqrt(2.0), 1.0, 2.0, 6.0}) {
    MemoryMesh m;
    AddElement(m, ElementKind::Pyramid, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5, 0.5, h}});
    for (Point& p : m.nodes) p = Turned(p);
    EXPECT_NEAR(vela::quality::ScaledJacobian(m, m.elements[0]), verdict(h), 1e-12) << "h " << h;
  }
  EXPECT_NEAR(verdict(1.0), 2 - 2 / std::pow(1.5, 1.5), 1e-15) << "the fold";
  MemoryMesh corner;
  AddElement(corner, ElementKind::Pyramid, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}});
  EXPECT_NEAR(vela::quality::ScaledJacobian(corner, corner.elements[0]), 1 / std::sqrt(3.0), 1e-12);
}

// The one smallest scaled Jacobian every summary quotes: an element with a
// node that is not finite has no score to take part, and a mesh without
// elements scores as the ideal one.
TEST(QualityReport, SmallestScaledJacobianSkipsUnscoredElementsAndIsOneForNone) {
  MemoryMesh m = IdealElements();
  AddElement(m, ElementKind::Tetra, {{40, 0, 0}, {41, 0, 0}, {40, 1, 0}, {40, 0, 1}});  // a right-angled corner
  const std::vector<Point> mirroredTetra = {{51, 1, -1}, {49, 1, 1}, {51, -1, 1}, {49, -1, -1}};
  AddElement(m, ElementKind::Tetra, mirroredTetra);
  m.nodes.back()[0] = std::nan("");
  const QualityReport r = Assess(m, 1e-9);
  ASSERT_TRUE(std::isnan(r.scaledJacobian.back()));
  const double rightCorner = vela::quality::ScaledJacobian(m, m.elements[4]);
  ASSERT_LT(rightCorner, 1.0);
  EXPECT_DOUBLE_EQ(vela::quality::SmallestScaledJacobian(r), rightCorner);
  std::ostringstream quoted;
  quoted << "min scaled Jacobian " << std::fixed << std::setprecision(3) << rightCorner;
  EXPECT_NE(vela::quality::SummaryLine(r).find(quoted.str()), std::string::npos) << vela::quality::SummaryLine(r);

  // The mirrored tetrahedron, scored once its node is back, is the smallest.
  m.nodes.back()[0] = 49;
  EXPECT_DOUBLE_EQ(vela::quality::SmallestScaledJacobian(Assess(m, 1e-9)), -1.0);
  EXPECT_DOUBLE_EQ(vela::quality::SmallestScaledJacobian(Assess(MemoryMesh{}, 0.0)), 1.0);
}

// The JSON scripts read: every fault class by name, whether or not it counts
// anything, and only the kinds the mesh has, in the kinds' order.
TEST(QualityReport, JsonNamesEveryFaultClassAndOnlyTheKindsPresent) {
  MemoryMesh m = Block(2, 1, 1);
  AddElement(m, ElementKind::Tetra, Moved({{1, 1, -1}, {-1, 1, 1}, {1, -1, 1}, {-1, -1, -1}}, {10, 0, 0}));
  const QualityReport r = Assess(m, 0.25);
  const nlohmann::ordered_json j = vela::quality::QualityJson(r);
  ASSERT_EQ(j["faults"].size(), static_cast<size_t>(vela::quality::kFaultClasses));
  for (int i = 0; i < vela::quality::kFaultClasses; ++i) {
    const auto fault = static_cast<Fault>(i);
    EXPECT_EQ(j["faults"][vela::quality::FaultName(fault)], r.Count(fault)) << vela::quality::FaultName(fault);
  }
  EXPECT_GT(r.Count(Fault::Inverted) * r.Count(Fault::Disconnected), 0) << "the mirrored tetrahedron, apart";
  EXPECT_EQ(j["has_faults"], true);
  EXPECT_DOUBLE_EQ(j["min_scaled_jacobian"].get<double>(), -1.0);
  std::vector<std::string> kinds;
  for (const auto& [kind, stats] : j["by_kind"].items()) kinds.push_back(kind);
  EXPECT_EQ(kinds, (std::vector<std::string>{"tetra", "hexa"}));
  EXPECT_EQ(j["by_kind"]["hexa"]["count"], 2);
  EXPECT_DOUBLE_EQ(j["by_kind"]["hexa"]["mean_scaled_jacobian"].get<double>(), 1.0);
  EXPECT_DOUBLE_EQ(j["volume"].get<double>(), r.volume);
  EXPECT_EQ(j["coincidence_tolerance"], 0.25);
}

// Each mesh below is built around one fault class; a few classes bring
// others with them by nature, listed as `also`.
TEST(QualityReport, CountsAndNamesEveryFaultClass) {
  const struct {
    const char* what;
    MemoryMesh mesh;
    Fault fault;
    long long count;
    std::vector<int> named;
    std::set<Fault> also;
  } cases[] = {
      {"a corner pushed through", Changed(Block(2, 1, 1), [](MemoryMesh& m) { m.nodes[11] = {1.3, 0.3, 0.3}; }),
       Fault::Inverted, 1, {1}, {}},
      {"a node named twice",
       Changed(Block(2, 1, 1), [](MemoryMesh& m) { m.elements[1].nodes[6] = m.elements[1].nodes[5]; }),
       Fault::Collapsed, 1, {1}, {}},
      {"a pyramid with its apex in its base, the cube's top", Changed(Block(1, 1, 1), [](MemoryMesh& m) {
         m.nodes.push_back({0.5, 0.5, 1.0});
         AddElement(m, ElementKind::Pyramid, {4, 5, 7, 6, 8});
       }), Fault::Flat, 1, {1}, {}},
      // Tilted, so that no axis-aligned rounding decides it.
      {"a hexahedron turned in space with its top inside its base's plane", Changed(Block(1, 1, 1), [](MemoryMesh& m) {
         for (size_t i = 4; i < 8; ++i) m.nodes[i] = {0.25 + 0.5 * m.nodes[i][0], 0.25 + 0.5 * m.nodes[i][1], 0.0};
         for (Point& p : m.nodes) p = Turned(p);
       }), Fault::Flat, 1, {0}, {}},
      {"a taller third element on the face between two stacked cubes", Changed(Block(1, 1, 2), [](MemoryMesh& m) {
         const int top = m.GetNodeCount();
         for (const Point& p : {Point{0, 0, 3}, {1, 0, 3}, {1, 1, 3}, {0, 1, 3}}) m.nodes.push_back(p);
         MeshElement tall = m.elements[1];
         for (int k = 4; k < 8; ++k) tall.nodes[static_cast<size_t>(k)] = top + k - 4;
         m.elements.push_back(tall);
       }), Fault::OverSharedFace, 1, {0, 1, 2}, {Fault::OpenBoundary, Fault::Overlap}},
      {"two tetrahedra on the same side of one triangle", Changed(MemoryMesh{}, [](MemoryMesh& m) {
         m.nodes = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0.25, 0.25, 1}, {0.25, 0.25, 2}};
         AddElement(m, ElementKind::Tetra, {0, 1, 2, 3});
         AddElement(m, ElementKind::Tetra, {0, 1, 2, 4});
       }), Fault::SameTurnFace, 1, {0, 1}, {Fault::OpenBoundary, Fault::Overlap}},
      // Two cubes meeting along one edge only, four boundary faces pinching there, joined face to
      // face through the layer above so that the mesh stays one piece. (A mesh of solid elements
      // has no boundary edge on a single face unless faces are shared by three.)
      {"cubes along an edge", Changed(Block(2, 2, 2), [](MemoryMesh& m) {
         for (const int e : {5, 2, 1}) m.elements.erase(m.elements.begin() + e);
       }), Fault::OpenBoundary, 1, {0, 1}, {}},
      {"a NaN coordinate", Changed(Block(2, 1, 1), [](MemoryMesh& m) { m.nodes[11][1] = std::nan(""); }),
       Fault::NonFiniteNode, 1, {11}, {}},
      {"two unmerged nodes", Changed(Block(1, 1, 1), [](MemoryMesh& m) {
         m.nodes.push_back({3.0, 3.0, 3.0});
         m.nodes.push_back({3.0 + 5e-7, 3.0, 3.0 - 5e-7});
       }), Fault::CoincidentNodes, 1, {8, 9}, {}},
      // Neither centroid lies inside the other cube; the points half way to the corners do.
      {"cubes overlapping at a corner", Changed(MemoryMesh{}, [](MemoryMesh& m) {
         AddElement(m, ElementKind::Hexa, kCube);
         AddElement(m, ElementKind::Hexa, Moved(kCube, {0.6, 0.6, 0.6}));
       }), Fault::Overlap, 2, {0, 1}, {Fault::CrossingFaces, Fault::Disconnected}},
      // The same, a thousandth of the size and a million away, where floats measured from the
      // origin could not tell the samples from the faces they lie 0.15 mm behind.
      {"small cubes overlapping at a corner far out", Changed(MemoryMesh{}, [](MemoryMesh& m) {
         const auto farOut = [](std::vector<Point> cube) {
           for (Point& p : cube) p = {1e6 + 1e-3 * p[0], -1e6 + 1e-3 * p[1], 1e6 + 1e-3 * p[2]};
           return cube;
         };
         AddElement(m, ElementKind::Hexa, farOut(kCube));
         AddElement(m, ElementKind::Hexa, farOut(Moved(kCube, {0.6, 0.6, 0.6})));
       }), Fault::Overlap, 2, {0, 1}, {Fault::CrossingFaces, Fault::Disconnected}},
      // On the first of two cubes, two tetrahedra split along its top's diagonal, joined to the rest
      // through a pyramid on the second. Out in the open, the rim of the first cube's top has four
      // boundary faces at each edge; a hanging face inside a mesh would close.
      {"a quadrilateral under two triangles", Changed(Block(2, 1, 1), [](MemoryMesh& m) {
         m.nodes.push_back({1, 0.5, 1.5});
         AddElement(m, ElementKind::Tetra, {6, 7, 10, 12});
         AddElement(m, ElementKind::Tetra, {6, 10, 9, 12});
         AddElement(m, ElementKind::Pyramid, {7, 8, 11, 10, 12});
       }), Fault::HangingFace, 1, {0, 2, 3}, {Fault::OpenBoundary}},
      // The right arm leans over until its inner wall just cuts the left arm's: no sample point
      // of either lies in the other.
      {"a U of cubes whose arms cut each other", Changed(Block(3, 1, 2), [](MemoryMesh& m) {
         m.elements.erase(m.elements.begin() + 4);
         for (const size_t n : {18, 22}) m.nodes[n] = {0.95, m.nodes[n][1], 1.9};
       }), Fault::CrossingFaces, 3, {3, 4}, {}},
      // However much larger the bar is than the grid cells its small neighbours set.
      {"small cubes deep inside a long bar", Changed(MemoryMesh{}, [](MemoryMesh& m) {
         std::vector<Point> bar = kCube;
         for (const size_t k : {1, 2, 5, 6}) bar[k][0] = 1000.0;  // past the cells a member may fill
         AddElement(m, ElementKind::Hexa, bar);
         for (int c = 0; c < 4; ++c) {
           std::vector<Point> small = Moved(kCube, {900.0 + 2.0 * c, 0.0, 0.0});
           for (Point& p : small) p = {p[0], 0.1 + 0.8 * p[1], 0.1 + 0.8 * p[2]};
           AddElement(m, ElementKind::Hexa, small);
         }
       }), Fault::Overlap, 4, {1, 2, 3, 4}, {Fault::Disconnected}},
      // 2,449,965,000 pairs: beyond an int, and beyond what comparing every pair could count in
      // reasonable time.
      {"70,000 copies of one node",
       Changed(MemoryMesh{}, [](MemoryMesh& m) { m.nodes.assign(70000, {1.5, -2.0, 0.25}); }),
       Fault::CoincidentNodes, 70000LL * 69999 / 2, {0, 1}, {}},
      {"two cubes apart",
       Changed(Block(1, 1, 1), [](MemoryMesh& m) { AddElement(m, ElementKind::Hexa, Moved(kCube, {3, 0, 0})); }),
       Fault::Disconnected, 1, {1}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const QualityReport r = Assess(c.mesh, 1e-6);
    EXPECT_EQ(r.Count(c.fault), c.count);
    EXPECT_EQ(r[c.fault].named, c.named);
    for (int f = 0; f < vela::quality::kFaultClasses; ++f) {
      const Fault other = static_cast<Fault>(f);
      EXPECT_TRUE(other == c.fault || c.also.count(other) || r.Count(other) == 0) << vela::quality::FaultName(other);
    }
    const std::string line = std::string(vela::quality::FaultName(c.fault)) + " " + std::to_string(c.count) + ": ";
    EXPECT_NE(vela::quality::DescribeFaults(r).find(line), std::string::npos) << vela::quality::DescribeFaults(r);
  }
}

// A junction of 4 layers between two runners of 18 on a bar of 2 x 2 cubes,
// as a runner system has them, and elements added in regions of their own.
struct RegionedBar {
  MemoryMesh mesh = Block(40, 2, 2);
  vela::quality::Regions regions;

  RegionedBar() {
    regions.layered = {0, 1, 1};  // the junction, the runner below it, the runner above
    for (size_t e = 0; e < mesh.elements.size(); ++e) {
      const size_t layer = e % 40;
      regions.ofElement.push_back(layer < 18 ? 1 : layer < 22 ? 0 : 2);
    }
  }
  void Add(const std::vector<Point>& cube, int region) {
    AddElement(mesh, ElementKind::Hexa, cube);
    regions.ofElement.push_back(region);
  }
};

// Told where the elements came from, the report leaves out the runners'
// insides and the pairs within one runner, and finds the same faults: a
// runner crossing another far from any junction, an element pushed into the
// junction; a layer folded back inside a runner, whose overlaps it does not
// look for, is still a fault through its inverted corners.
TEST(QualityReport, KnownRegionsGiveTheSameVerdict) {
  const RegionedBar clean;
  const vela::quality::detail::Focus focus = vela::quality::detail::FocusOf(clean.mesh, clean.regions, 2);
  EXPECT_EQ(std::count(focus.needed.begin(), focus.needed.end(), 1), 4 * 4 + 2 * 4)
      << "the junction's elements, and each runner's layer next to it";

  RegionedBar crossing;
  crossing.regions.layered.push_back(1);
  for (int y = -3; y < 5; ++y) crossing.Add(Moved(kCube, {8.3, y + 0.02 * y, 0.4}), 3);
  RegionedBar pushedIn;
  pushedIn.Add(Moved(kCube, {19.3, 0.5, 0.5}), 0);
  RegionedBar folded;
  folded.mesh.nodes[static_cast<size_t>(10 + 41 * (1 + 3 * 1))] = {11.6, 1.0, 1.0};  // the axis node of plane 10

  const struct {
    const char* what;
    const RegionedBar* bar;
    bool sameOverlaps;
  } cases[] = {{"sound", &clean, true}, {"a runner crossing another", &crossing, true},
               {"a cube pushed into the junction", &pushedIn, true}, {"a layer folded back", &folded, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const QualityReport all = Assess(c.bar->mesh, 1e-9, vela::quality::Limits{}, 2);
    const QualityReport known = Assess(c.bar->mesh, 1e-9, vela::quality::Limits{}, 2, c.bar->regions);
    EXPECT_EQ(vela::quality::HasFaults(known), vela::quality::HasFaults(all));
    EXPECT_EQ(vela::quality::HasFaults(all), c.bar != &clean);
    for (int f = 0; f < vela::quality::kFaultClasses; ++f) {
      const Fault fault = static_cast<Fault>(f);
      SCOPED_TRACE(vela::quality::FaultName(fault));
      if (c.sameOverlaps || (fault != Fault::Overlap && fault != Fault::CrossingFaces)) {
        EXPECT_EQ(known.Count(fault), all.Count(fault));
        EXPECT_EQ(known[fault].named, all[fault].named);
      } else {
        EXPECT_LE(known.Count(fault), all.Count(fault));
      }
    }
    EXPECT_EQ(known.scaledJacobian, all.scaledJacobian);
  }
  EXPECT_GT(Assess(crossing.mesh, 1e-9, {}, 1, crossing.regions).Count(Fault::CrossingFaces), 0);
  EXPECT_GT(Assess(pushedIn.mesh, 1e-9, {}, 1, pushedIn.regions).Count(Fault::Overlap), 0);
  EXPECT_GT(Assess(folded.mesh, 1e-9, {}, 1, folded.regions).Count(Fault::Inverted), 0);

  vela::quality::Regions short1 = clean.regions;
  short1.ofElement.pop_back();
  EXPECT_THROW(Assess(clean.mesh, 1e-9, {}, 1, short1), std::invalid_argument);
  vela::quality::Regions unknown = clean.regions;
  unknown.ofElement[7] = 3;
  EXPECT_THROW(Assess(clean.mesh, 1e-9, {}, 1, unknown), std::invalid_argument);
}

// The grid count against every pair compared, on clustered random points
// with ties on cell borders (coordinates on multiples of the tolerance), and
// on a thin dense line of points far from one outlier, which puts hundreds of
// points, many of them at one x, into each cell. The pairs named are pairs.
TEST(QualityReport, CoincidentPairsMatchBruteForce) {
  std::mt19937 random(42);
  std::uniform_int_distribution<int> lattice(0, 12);
  std::uniform_real_distribution<double> jitter(-0.6, 0.6);
  for (const bool line : {false, true})
    for (const double tol : {0.0, 0.25, 0.5, 1.0}) {
      MemoryMesh m;
      for (int i = 0; i < 1500; ++i) {
        Point p{lattice(random) * 0.5, lattice(random) * 0.5, lattice(random) * 0.5};
        if (line) p = {lattice(random) * tol * 0.5, 0.01 * lattice(random) * 0.5, 0.0};
        if (i % 3 == 0) p[static_cast<size_t>(i % 2)] += line ? 0.1 * jitter(random) : jitter(random);
        m.nodes.push_back(p);
      }
      if (line) m.nodes.push_back({1000.0, 1000.0, 1000.0});
      const auto within = [&](size_t a, size_t b) {
        bool near = true;
        for (size_t k = 0; k < 3; ++k) near = near && std::fabs(m.nodes[a][k] - m.nodes[b][k]) <= tol;
        return near;
      };
      long long expected = 0;
      for (size_t a = 0; a < m.nodes.size(); ++a)
        for (size_t b = a + 1; b < m.nodes.size(); ++b) expected += within(a, b) ? 1 : 0;
      const vela::quality::FaultList found = Assess(m, tol)[Fault::CoincidentNodes];
      EXPECT_EQ(found.count, expected) << "tol " << tol << (line ? " on a line" : "");
      // A pair per look-up, and a look-up may count many copies of one point.
      EXPECT_EQ(found.named.empty(), expected == 0);
      EXPECT_LE(found.named.size(), 2 * vela::quality::kNamedPerFault);
      ASSERT_EQ(found.named.size() % 2, 0u);
      for (size_t k = 0; k < found.named.size(); k += 2) {
        EXPECT_LT(found.named[k], found.named[k + 1]);
        EXPECT_TRUE(within(static_cast<size_t>(found.named[k]), static_cast<size_t>(found.named[k + 1])));
      }
    }
}

TEST(QualityReport, RejectsCornersOutsideTheNodesAndBadTolerances) {
  MemoryMesh m = Block(1, 1, 1);
  for (const double tol : {-1.0, std::nan(""), HUGE_VAL}) EXPECT_THROW(Assess(m, tol), std::invalid_argument);
  m.elements[0].nodes[2] = 99;
  EXPECT_THROW(Assess(m, 1e-6), std::invalid_argument);
}

// The wall against the channel: a tapered runner with balls at its ends.
// Points at known distances from it, outside and in, turned and moved
// anywhere, and a mesh of them judged by its worst node.
TEST(WallReport, MeasuresTheDistanceOutsideTheMachinedChannelAgainstTheLocalRadius) {
  using vela::quality::MachinedRunner;
  const double turn = 0.7;
  const std::array<double, 3> shift{3.5, -2.0, 11.0};
  // x along the runner, y across; turned about z, then moved.
  auto place = [&](double x, double y, double z) {
    return std::array<double, 3>{x * std::cos(turn) - y * std::sin(turn) + shift[0],
                                 x * std::sin(turn) + y * std::cos(turn) + shift[1], z + shift[2]};
  };
  const std::vector<MachinedRunner> channel{{place(0, 0, 0), place(10, 0, 0), 2.0, 1.0}};
  struct Case {
    std::array<double, 3> at;
    double outside;  // expected, negative inside
    double radius;
  };
  const Case cases[] = {
      {place(5, 1.5 + 0.3, 0), 0.3, 1.5},     // over the middle, where the radius is 1.5
      {place(5, 0, 1.0), -0.5, 1.5},          // inside
      {place(-2.5, 0, 0), 0.5, 2.0},          // beyond the wide end: its ball
      {place(11.0, 0, 0), 0.0, 1.0},          // on the narrow end's ball
      {place(0, 2.0, 0), 0.0, 2.0},           // on the rim of the wide end
  };
  for (const Case& c : cases) {
    double radius = 0.0;
    EXPECT_NEAR(vela::quality::OutsideChannel(channel, c.at, &radius), c.outside, 1e-12);
    if (c.outside > 0) {
      EXPECT_NEAR(radius, c.radius, 1e-12);
    }
  }
  MemoryMesh mesh;
  mesh.SetMeshSize(0, 3);
  mesh.SetNodeCoord(0, cases[1].at[0], cases[1].at[1], cases[1].at[2]);
  mesh.SetNodeCoord(1, cases[0].at[0], cases[0].at[1], cases[0].at[2]);
  mesh.SetNodeCoord(2, cases[2].at[0], cases[2].at[1], cases[2].at[2]);
  const vela::quality::WallReport wall = vela::quality::AssessWall(mesh, channel);
  EXPECT_NEAR(wall.outside, 0.5, 1e-12);
  // Judged against the local radius: 0.5 beyond a radius of 2 is the worse.
  EXPECT_NEAR(wall.share, 0.5 / 2.0, 1e-12);
  EXPECT_EQ(wall.node, 2);
}

// The faces are matched in ranges of nodes, each range's written into places
// counted beforehand; a pair of elements on the same side of a face leaves
// its place empty, and the faces after it move up. Against a match of every
// face with every other: a warped block of a few ranges behind a row of such
// pairs, numbered first so that every later face moves, must give each face
// once, in its class, with its number in the cells on both of its sides.
TEST(FaceMatching, EveryFaceOnceAndNumberedFromBothSides) {
  constexpr int kPairs = 20;
  MemoryMesh m;
  for (int k = 0; k < kPairs; ++k) {
    const int first = m.GetNodeCount();
    const double x = -3.0 * (k + 1);
    for (const Point& p : {Point{x, 0, 0}, {x + 1, 0, 0}, {x, 1, 0}, {x + 0.25, 0.25, 1}, {x + 0.25, 0.25, 2}})
      m.nodes.push_back(p);
    AddElement(m, ElementKind::Tetra, {first, first + 1, first + 2, first + 3});
    AddElement(m, ElementKind::Tetra, {first, first + 1, first + 2, first + 4});
  }
  const MemoryMesh block = Block(16, 16, 16);
  const int shift = m.GetNodeCount();
  for (const Point& p : block.nodes) m.nodes.push_back({p[0], p[1] + 0.01 * p[0] * p[2], p[2]});
  for (MeshElement e : block.elements) {
    for (int k = 0; k < e.CornerCount(); ++k) e.nodes[static_cast<size_t>(k)] += shift;
    m.elements.push_back(e);
  }
  ASSERT_GT(m.nodes.size(), 2u * 2048u);

  // Every use of every face by its sorted corners; a face's turn as its
  // corners from the smallest.
  struct Use {
    int element, face;
    std::vector<int> turn;
  };
  std::map<std::vector<int>, std::vector<Use>> uses;
  for (size_t e = 0; e < m.elements.size(); ++e) {
    const auto faces = vela::quality::OutwardFaces(m.elements[e]);
    for (size_t f = 0; f < faces.size(); ++f) {
      std::vector<int> key = faces[f];
      std::sort(key.begin(), key.end());
      std::vector<int> turn = faces[f];
      std::rotate(turn.begin(), std::min_element(turn.begin(), turn.end()), turn.end());
      uses[key].push_back({static_cast<int>(e), static_cast<int>(f), turn});
    }
  }
  std::set<std::vector<int>> internal, boundary;  // key, then element and face numbers
  int sameTurn = 0;
  for (const auto& [key, used] : uses) {
    if (used.size() == 1) {
      std::vector<int> entry = used[0].turn;
      entry.insert(entry.end(), {used[0].element, used[0].face});
      boundary.insert(entry);
      continue;
    }
    ASSERT_EQ(used.size(), 2u);
    std::vector<int> back = used[1].turn;
    std::reverse(back.begin() + 1, back.end());
    if (back != used[0].turn) {
      ++sameTurn;
      continue;
    }
    std::vector<int> entry = used[0].turn;
    entry.insert(entry.end(), {used[0].element, used[1].element, used[0].face, used[1].face});
    internal.insert(entry);
  }
  ASSERT_EQ(sameTurn, kPairs);

  const std::vector<char> hasFaces(m.elements.size(), 1);
  for (const int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    QualityReport r;
    const vela::quality::detail::FaceSharing sharing = vela::quality::detail::CheckFaces(m, hasFaces, r, threads);
    EXPECT_EQ(r.Count(Fault::SameTurnFace), kPairs);
    std::set<std::vector<int>> gotInternal, gotBoundary;
    const auto& cellFaces = sharing.cellFaces;
    size_t numbered = 0;
    for (size_t i = 0; i < sharing.internal.size(); ++i) {
      const auto& f = sharing.internal[i];
      std::vector<int> entry(f.nodes.begin(), f.nodes.begin() + f.size);
      entry.insert(entry.end(), {f.owner, f.neighbour, f.ownerFace, f.neighbourFace});
      gotInternal.insert(entry);
      EXPECT_EQ(cellFaces[6 * static_cast<size_t>(f.owner) + f.ownerFace], static_cast<int>(i));
      EXPECT_EQ(cellFaces[6 * static_cast<size_t>(f.neighbour) + f.neighbourFace], static_cast<int>(i));
      numbered += 2;
    }
    for (size_t b = 0; b < sharing.boundary.size(); ++b) {
      const auto& f = sharing.boundary[b];
      std::vector<int> entry(f.nodes.begin(), f.nodes.begin() + f.size);
      entry.insert(entry.end(), {f.element, f.face});
      gotBoundary.insert(entry);
      EXPECT_EQ(cellFaces[6 * static_cast<size_t>(f.element) + f.face],
                static_cast<int>(sharing.internal.size() + b));
      ++numbered;
    }
    EXPECT_EQ(sharing.internal.size(), internal.size());
    EXPECT_EQ(gotInternal, internal);
    EXPECT_EQ(gotBoundary, boundary);
    // The faces shared in the same turn are neither: their cells' entries stay -1.
    EXPECT_EQ(static_cast<size_t>(std::count_if(cellFaces.begin(), cellFaces.end(), [](int c) { return c >= 0; })),
              numbered);
  }
}
