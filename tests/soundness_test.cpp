// The soundness check that every accepted junction passes, on small meshes
// with one fault planted each: every class of fault it reports must still be
// found, counted as it was, and a sound mesh must stay sound.

#include "mapper/junction_plan.h"
#include "mapper/mesh_soundness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <ostream>
#include <random>
#include <utility>
#include <vector>

namespace {

// 1-based rows as the check reads them; row 0 unused.
struct Rows {
  std::vector<std::array<double, 3>> nodes{{0, 0, 0}};
  std::vector<std::array<int, 8>> elements{{0, 0, 0, 0, 0, 0, 0, 0}};
  std::vector<unsigned char> candidates{0};

  int Node(double x, double y, double z, bool candidate = false) {
    nodes.push_back({x, y, z});
    candidates.push_back(candidate ? 1 : 0);
    return static_cast<int>(nodes.size()) - 1;
  }
  void Element(std::array<int, 8> row) { elements.push_back(row); }

  vela::MeshSoundness Check() const;
};

struct Counts {
  int nonFinite, collapsed, inverted, overShared, sameTurn, openSection, openBoundary;
  bool operator==(const Counts& o) const {
    return nonFinite == o.nonFinite && collapsed == o.collapsed && inverted == o.inverted &&
           overShared == o.overShared && sameTurn == o.sameTurn && openSection == o.openSection &&
           openBoundary == o.openBoundary;
  }
};

std::ostream& operator<<(std::ostream& out, const Counts& c) {
  return out << "{nonFinite " << c.nonFinite << ", collapsed " << c.collapsed << ", inverted " << c.inverted
             << ", overShared " << c.overShared << ", sameTurn " << c.sameTurn << ", openSection "
             << c.openSection << ", openBoundary " << c.openBoundary << "}";
}

Counts Of(const vela::MeshSoundness& s) {
  return {s.nonFiniteNodes,  s.collapsedElements, s.invertedElements, s.overSharedFaces,
          s.sameTurnFaces, s.openSectionFaces,  s.openBoundaryEdges};
}

// The check with the plain vector instructions and with the widest the
// processor has: the two must agree on every count.
template <typename Check>
vela::MeshSoundness WithBothInstructions(Check check) {
  vela::UseCornerInstructions(vela::CornerInstructions::Plain);
  const vela::MeshSoundness plain = check();
  vela::UseCornerInstructions(vela::CornerInstructions::Widest);
  const vela::MeshSoundness widest = check();
  EXPECT_EQ(Of(plain), Of(widest));
  return widest;
}

vela::MeshSoundness Rows::Check() const {
  return WithBothInstructions([this] {
    return vela::CheckMesh(reinterpret_cast<const double(*)[3]>(nodes.data()), static_cast<int>(nodes.size()) - 1,
                           reinterpret_cast<const int(*)[8]>(elements.data()),
                           static_cast<int>(elements.size()) - 1, candidates.data());
  });
}

// Two unit hexahedra stacked along z and joined at z = 1, as two branches
// meet at a junction section: the lower one's top nodes are the merge
// candidates, and the upper one names them for its bottom.
struct Column {
  Rows rows;
  int low[4], mid[4], high[4];

  Column() {
    const double square[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int k = 0; k < 4; ++k) low[k] = rows.Node(square[k][0], square[k][1], 0);
    for (int k = 0; k < 4; ++k) mid[k] = rows.Node(square[k][0], square[k][1], 1, true);
    for (int k = 0; k < 4; ++k) high[k] = rows.Node(square[k][0], square[k][1], 2);
    rows.Element({low[0], low[1], low[2], low[3], mid[0], mid[1], mid[2], mid[3]});
    rows.Element({mid[0], mid[1], mid[2], mid[3], high[0], high[1], high[2], high[3]});
  }
};

const Counts kSound{0, 0, 0, 0, 0, 0, 0};

}  // namespace

TEST(Soundness, JoinedColumnIsSound) {
  const Column c;
  EXPECT_TRUE(c.rows.Check().Sound());
  EXPECT_EQ(Of(c.rows.Check()), kSound);
}

TEST(Soundness, NonFiniteNodeIsFound) {
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    Column c;
    c.rows.nodes[static_cast<size_t>(c.high[2])][1] = bad;
    // Its element's corners at that node cannot be positive either.
    EXPECT_EQ(Of(c.rows.Check()), (Counts{1, 0, 1, 0, 0, 0, 0})) << bad;
  }
}

TEST(Soundness, ElementNamingANodeTwiceIsFound) {
  Column c;
  c.rows.elements[2][6] = c.high[1];
  // The collapsed element's faces count for nothing: the lower one's top is
  // left uncovered, its edges closed by its own sides.
  EXPECT_EQ(Of(c.rows.Check()), (Counts{0, 1, 0, 0, 0, 1, 0}));
}

TEST(Soundness, InvertedCornerIsFound) {
  Column c;
  // The upper element's top corner pushed below the section.
  c.rows.nodes[static_cast<size_t>(c.high[3])][2] = 0.75;
  EXPECT_EQ(Of(c.rows.Check()), (Counts{0, 0, 1, 0, 0, 0, 0}));
}

TEST(Soundness, CornerFlatBeyondRoundingCountsAsInverted) {
  // A lone sliver tetrahedron touches no candidate: only its corners are
  // judged. At a height of 1e-8 its corners span well above the share a flat
  // corner keeps; at 1e-10 the corners at its base edge fall below it.
  for (const auto& [height, inverted] : {std::pair<double, int>{1e-8, 0}, {1e-10, 1}}) {
    Rows rows;
    const int a = rows.Node(0, 0, 0), b = rows.Node(1, 0, 0), d = rows.Node(0, 1, 0), e = rows.Node(0, 0, height);
    rows.Element({a, b, d, e, 0, 0, 0, 0});
    EXPECT_EQ(Of(rows.Check()), (Counts{0, 0, inverted, 0, 0, 0, 0})) << height;
  }
}

TEST(Soundness, EveryKindPositiveAsBuiltAndInvertedMirrored) {
  // Each kind with its corners in the library's order, then mirrored through
  // z = 0 (every corner then turns the other way).
  struct Kind {
    const char* name;
    std::vector<std::array<double, 3>> corners;
  };
  const std::vector<Kind> kinds = {
      {"tetrahedron", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}},
      {"pyramid", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5, 0.5, 1}}},
      {"prism", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {0, 1, 1}}},
      {"hexahedron", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}},
  };
  for (const Kind& kind : kinds)
    for (double mirror : {1.0, -1.0}) {
      Rows rows;
      std::array<int, 8> row{};
      for (size_t k = 0; k < kind.corners.size(); ++k)
        row[k] = rows.Node(kind.corners[k][0], kind.corners[k][1], mirror * kind.corners[k][2]);
      rows.Element(row);
      EXPECT_EQ(rows.Check().invertedElements, mirror > 0 ? 0 : 1) << kind.name << " " << mirror;
      if (mirror < 0) continue;
      // The last corner alone pulled through the base: that kind's frames see it.
      Rows pulled = rows;
      pulled.nodes.back()[2] = -0.5;
      EXPECT_EQ(pulled.Check().invertedElements, 1) << kind.name << " pulled";
    }
}

TEST(Soundness, CornersAreJudgedAlikeAtEveryScaleAndEveryThickness) {
  // Every kind pressed flat along z by a factor from 1 down to 1e-6 stays
  // sound, and mirrored it is inverted. A sliver tetrahedron's apex comes down
  // towards its base: sound to 1e-8, flat beyond rounding from 1e-10. Thin
  // elements and slivers are those whose corners the first, single-precision
  // look cannot clear. Scaling by a power of two changes no rounding in
  // double precision (short of its own range), so the count must be the same
  // at every scale: where single precision cannot hold the elements' spans
  // too, and at 2^150, where it cannot hold the coordinates themselves.
  const std::vector<std::vector<std::array<double, 3>>> kinds = {
      {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
      {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5, 0.5, 1}},
      {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {0, 1, 1}},
      {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}};
  const std::vector<double> thickness = {1.0, 1e-2, 1e-4, 5e-5, 1e-5, 1e-6};
  const std::vector<std::pair<double, bool>> apex = {{1e-2, false}, {1e-4, false}, {1e-6, false},
                                                     {1e-8, false}, {1e-10, true},  {1e-13, true}};
  for (int power : {-150, -100, -60, -30, 0, 30, 60, 100, 150}) {
    const double scale = std::ldexp(1.0, power);
    Rows rows;
    int expected = 0;
    double x = 0.0;  // each element beside the last, sharing no node
    auto add = [&](const std::vector<std::array<double, 3>>& corners, double squash) {
      std::array<int, 8> row{};
      for (size_t c = 0; c < corners.size(); ++c)
        row[c] = rows.Node(scale * (corners[c][0] + x), scale * corners[c][1], scale * squash * corners[c][2]);
      rows.Element(row);
      x += 2.0;
    };
    for (const auto& kind : kinds)
      for (double t : thickness)
        for (double mirror : {1.0, -1.0}) {
          add(kind, mirror * t);
          expected += mirror < 0 ? 1 : 0;
        }
    for (const auto& [height, flat] : apex) {
      add({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0.3, 0.3, height}}, 1.0);
      expected += flat ? 1 : 0;
    }
    EXPECT_EQ(Of(rows.Check()), (Counts{0, 0, expected, 0, 0, 0, 0})) << "scale 2^" << power;
  }
}

TEST(Soundness, ElementsFarFromTheFirstNodeAreJudgedAsNearIt) {
  // Single precision holds coordinates far from the first node coarsely:
  // at 1e5 to within 0.004. Slivers there on a slanted base, flat beyond
  // rounding or turned by a thousandth of their size, must still be found,
  // and one standing by a thousandth left alone, as near the first node.
  // (Much further, double precision itself cannot tell the slivers flat.)
  auto slanted = [](double x, double y, double up) {
    // The plane z = 0.3 x + 0.45 y, and up along its unit normal.
    const double n = std::sqrt(1.0 + 0.09 + 0.2025);
    return std::array<double, 3>{x - up * 0.3 / n, y - up * 0.45 / n, 0.3 * x + 0.45 * y + up / n};
  };
  for (double far : {0.0, 1e3, 1e4, 1e5}) {
    Rows rows;
    rows.Node(0, 0, 0);
    int expected = 0;
    for (int k = 0; k < 30; ++k)
      for (double height : {1e-3, 1e-10, 1e-13, -1e-3}) {
        const double x = 3.0 * k + 0.1, y = 0.37 * k;
        std::array<int, 8> row{};
        const std::array<double, 3> corners[4] = {slanted(x, y, 0), slanted(x + 1.1, y + 0.2, 0),
                                                  slanted(x + 0.3, y + 1.05, 0), slanted(x + 0.45, y + 0.4, height)};
        for (int c = 0; c < 4; ++c) row[static_cast<size_t>(c)] = rows.Node(far + corners[c][0], corners[c][1], corners[c][2]);
        rows.Element(row);
        expected += height < 1e-9 ? 1 : 0;
      }
    EXPECT_EQ(Of(rows.Check()), (Counts{0, 0, expected, 0, 0, 0, 0})) << far;
  }
}

TEST(Soundness, EveryElementOfALongRunIsJudgedWhereverItStands) {
  // Elements of one kind are judged several at a time: one turned inside
  // out must count wherever it stands in a run of its kind, the short last
  // group included; and one of another kind between them must not disturb
  // the run.
  const std::vector<std::array<double, 3>> prism = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {0, 1, 1}};
  const std::vector<std::array<double, 3>> tetra = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  constexpr int kRun = 19;
  for (int bad = 0; bad < kRun; ++bad) {
    Rows rows;
    auto add = [&rows](const std::vector<std::array<double, 3>>& corners, double x, double mirror) {
      std::array<int, 8> row{};
      for (size_t k = 0; k < corners.size(); ++k)
        row[k] = rows.Node(corners[k][0] + x, corners[k][1], mirror * corners[k][2]);
      rows.Element(row);
    };
    for (int k = 0; k < kRun; ++k) {
      add(prism, 2.0 * k, k == bad ? -1.0 : 1.0);
      if (k == 5) add(tetra, -3.0, 1.0);
    }
    EXPECT_EQ(Of(rows.Check()), (Counts{0, 0, 1, 0, 0, 0, 0})) << "prism " << bad;
  }
}

TEST(Soundness, FaceUsedByThreeElementsIsFound) {
  Column c;
  c.rows.Element(c.rows.elements[2]);
  // The section face is used three times; the copy's sides repeat the upper
  // element's in the same turn; the lower element's top edges are closed by
  // no boundary face above them.
  EXPECT_EQ(Of(c.rows.Check()), (Counts{0, 0, 0, 1, 4, 0, 4}));
}

TEST(Soundness, ElementsFoldedOntoOneSideOfASectionAreFound) {
  Column c;
  // The upper element folded back below the section, the right way round
  // for itself: both elements now run round the section face the same way.
  for (int k = 0; k < 4; ++k) c.rows.nodes[static_cast<size_t>(c.high[k])][2] = 0.0;
  c.rows.elements[2] = {c.high[0], c.high[1], c.high[2], c.high[3], c.mid[0], c.mid[1], c.mid[2], c.mid[3]};
  EXPECT_EQ(Of(c.rows.Check()), (Counts{0, 0, 0, 0, 1, 0, 4}));
}

TEST(Soundness, SectionsLeftUnjoinedAreFound) {
  Column c;
  // The upper element keeps copies of the section's nodes: a merge that
  // missed them.
  std::array<int, 8>& upper = c.rows.elements[2];
  for (int k = 0; k < 4; ++k) {
    const std::array<double, 3> p = c.rows.nodes[static_cast<size_t>(c.mid[k])];
    upper[static_cast<size_t>(k)] = c.rows.Node(p[0], p[1], p[2], true);
  }
  EXPECT_EQ(Of(c.rows.Check()), (Counts{0, 0, 0, 0, 0, 2, 0}));
}

TEST(Soundness, ElementsMeetingAtAnEdgeOnlyAreFound) {
  Column c;
  // The upper element moved one along x: it shares only the edge between
  // two section nodes with the lower one.
  Rows& r = c.rows;
  const int m1 = r.Node(2, 0, 1, true), m2 = r.Node(2, 1, 1, true);
  const int h0 = r.Node(1, 0, 2), h1 = r.Node(2, 0, 2), h2 = r.Node(2, 1, 2), h3 = r.Node(1, 1, 2);
  r.elements[2] = {c.mid[1], m1, m2, c.mid[2], h0, h1, h2, h3};
  const Counts found = Of(r.Check());
  // Both section faces are left uncovered, and the shared edge has four
  // boundary faces round it.
  EXPECT_EQ(found, (Counts{0, 0, 0, 0, 0, 2, 1}));
}

TEST(Soundness, AJunctionAsSweptAndMergedIsSoundOnEveryCall) {
  // A real Y junction, checked between the planted faults of the small
  // meshes: whatever the check keeps between calls on a thread must not
  // leak from a large mesh into a small one or back.
  vela::JunctionSettings settings;
  settings.inner = {0, 0.25, 0.5, 0.75, 1};
  settings.outer = {0, 0.5, 1};
  vela::JunctionCall call;
  for (double degrees : {90.0, 210.0, 330.0}) {
    const double a = degrees * vela::kPi / 180;
    call.farPoints.push_back({20 * std::cos(a), 20 * std::sin(a), 0});
    call.radii.insert(call.radii.end(), {2.0, 2.0});
  }
  const std::optional<vela::NWayPlan> plan = vela::PlanNWay(settings, call);
  ASSERT_TRUE(plan);
  std::vector<int> firstNodes;
  const std::unique_ptr<vela::MeshBuild> build = vela::SweepNWay(*plan, firstNodes);
  build->Merge(plan->mergeTol);
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(Of(WithBothInstructions([&] { return build->Check(); })), kSound);
    Column c;
    c.rows.Element(c.rows.elements[2]);
    EXPECT_EQ(Of(c.rows.Check()), (Counts{0, 0, 0, 1, 4, 0, 4}));
  }
  // Merged within nothing, no section is joined: every junction-section face
  // is left uncovered.
  build->Merge(0.0);
  const vela::MeshSoundness torn = WithBothInstructions([&] { return build->Check(); });
  EXPECT_FALSE(torn.Sound());
  EXPECT_GT(torn.openSectionFaces, 0);
  EXPECT_EQ(torn.invertedElements + torn.collapsedElements + torn.overSharedFaces + torn.sameTurnFaces, 0);
}

TEST(Soundness, EveryNonFiniteNodeIsCountedOnceWhereverItStands) {
  // A long run of sound elements with bad coordinates planted at its first
  // node, deep inside and at its last: each node counts once however many of
  // its coordinates are bad, and the largest finite values and the smallest
  // subnormal ones are finite.
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const double huge = std::numeric_limits<double>::max(), tiny = std::numeric_limits<double>::denorm_min();
  Rows rows;
  constexpr int kTetras = 40;
  for (int k = 0; k < kTetras; ++k) {
    const double x = 2.0 * k;
    const int a = rows.Node(x, 0, 0), b = rows.Node(x + 1, 0, 0), d = rows.Node(x, 1, 0), e = rows.Node(x, 0, 1);
    rows.Element({a, b, d, e, 0, 0, 0, 0});
  }
  EXPECT_EQ(Of(rows.Check()), kSound);
  const int last = static_cast<int>(rows.nodes.size()) - 1;
  struct Plant {
    int node, axis;
    double value;
  };
  const std::vector<Plant> plants = {{1, 0, nan}, {1, 2, -inf}, {77, 1, inf}, {last, 2, nan}, {last, 0, -nan}};
  Rows bad = rows;
  for (const Plant& p : plants) bad.nodes[static_cast<size_t>(p.node)][static_cast<size_t>(p.axis)] = p.value;
  // Three nodes, each of a tetrahedron whose corners then cannot be positive.
  EXPECT_EQ(Of(bad.Check()), (Counts{3, 0, 3, 0, 0, 0, 0}));
  Rows extreme = rows;
  extreme.nodes[2][1] = -huge;
  extreme.nodes[static_cast<size_t>(last)][1] = tiny;
  EXPECT_EQ(Of(extreme.Check()).nonFinite, 0);
}

TEST(Soundness, ElementNamingANodeTwiceIsFoundInEveryKindAndPlace) {
  // Each kind touching a candidate at its first corner, with its last corner
  // set to each earlier one in turn: always one collapsed element, judged
  // neither for its corners nor for its faces.
  const std::vector<std::vector<std::array<double, 3>>> kinds = {
      {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
      {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5, 0.5, 1}},
      {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {0, 1, 1}},
      {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}};
  for (const auto& corners : kinds)
    for (size_t twice = 0; twice + 1 < corners.size(); ++twice) {
      Rows rows;
      std::array<int, 8> row{};
      for (size_t k = 0; k < corners.size(); ++k)
        row[k] = rows.Node(corners[k][0], corners[k][1], corners[k][2], k == 0);
      row[corners.size() - 1] = row[twice];
      rows.Element(row);
      const Counts found = Of(rows.Check());
      EXPECT_EQ(found.collapsed, 1) << corners.size() << " corners, repeating " << twice;
      EXPECT_EQ(found.inverted + found.overShared + found.sameTurn + found.openSection + found.openBoundary, 0)
          << corners.size() << " corners, repeating " << twice;
    }
}

TEST(Soundness, EveryKindInvertedIsJudgedInFullAndPartBatches) {
  // Runs of every length up to two full groups of one kind, the kinds
  // interleaved, with one element mirrored at every place: exactly that one
  // is inverted, whichever kind it is and wherever its group stops.
  const std::vector<std::vector<std::array<double, 3>>> kinds = {
      {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
      {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5, 0.5, 1}},
      {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {0, 1, 1}},
      {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}};
  for (int length = 1; length <= 17; length += 4)
    for (size_t badKind = 0; badKind < kinds.size(); ++badKind)
      for (int bad = 0; bad < length; ++bad) {
        Rows rows;
        for (int k = 0; k < length; ++k)
          for (size_t kind = 0; kind < kinds.size(); ++kind) {
            const double mirror = kind == badKind && k == bad ? -1.0 : 1.0;
            std::array<int, 8> row{};
            for (size_t c = 0; c < kinds[kind].size(); ++c)
              row[c] = rows.Node(kinds[kind][c][0] + 2.0 * k, kinds[kind][c][1] + 2.0 * static_cast<double>(kind),
                                 mirror * kinds[kind][c][2]);
            rows.Element(row);
          }
        EXPECT_EQ(Of(rows.Check()), (Counts{0, 0, 1, 0, 0, 0, 0}))
            << "run " << length << ", kind " << badKind << ", at " << bad;
      }
}

TEST(Soundness, FaceTurnsAreReadFromEveryStartingCorner) {
  // The same two hexahedra with their rows turned about their axis, so that
  // the smallest corner of each quadrilateral face stands at every place of
  // its row: the joined column stays sound, and the folded one keeps its one
  // face shared in the same turn.
  auto turned = [](const int (&bottom)[4], const int (&top)[4], int by) {
    std::array<int, 8> row{};
    for (int k = 0; k < 4; ++k) {
      row[static_cast<size_t>(k)] = bottom[(k + by) % 4];
      row[static_cast<size_t>(k + 4)] = top[(k + by) % 4];
    }
    return row;
  };
  for (int lowTurn = 0; lowTurn < 4; ++lowTurn)
    for (int highTurn = 0; highTurn < 4; ++highTurn) {
      Column c;
      c.rows.elements[1] = turned(c.low, c.mid, lowTurn);
      c.rows.elements[2] = turned(c.mid, c.high, highTurn);
      EXPECT_EQ(Of(c.rows.Check()), kSound) << lowTurn << " " << highTurn;
      Column folded;
      for (int k = 0; k < 4; ++k) folded.rows.nodes[static_cast<size_t>(folded.high[k])][2] = 0.0;
      folded.rows.elements[1] = turned(folded.low, folded.mid, lowTurn);
      folded.rows.elements[2] = turned(folded.high, folded.mid, highTurn);
      EXPECT_EQ(Of(folded.rows.Check()), (Counts{0, 0, 0, 0, 1, 0, 4})) << lowTurn << " " << highTurn;
    }
}

TEST(Soundness, TriangleTurnsAreReadFromEveryStartingCorner) {
  // Two prisms stacked and joined at a triangle of candidates, their rows
  // turned so that the smallest corner of each triangle stands at every
  // place: the joined column stays sound, and the one folded back onto the
  // section's side keeps its triangle shared in the same turn, the lower
  // prism's three top edges closed by no boundary face above them.
  Rows base;
  const double triangle[3][2] = {{0, 0}, {1, 0}, {0, 1}};
  int low[3], mid[3], high[3];
  for (int k = 0; k < 3; ++k) low[k] = base.Node(triangle[k][0], triangle[k][1], 0);
  for (int k = 0; k < 3; ++k) mid[k] = base.Node(triangle[k][0], triangle[k][1], 1, true);
  for (int k = 0; k < 3; ++k) high[k] = base.Node(triangle[k][0], triangle[k][1], 2);
  auto turned = [](const int (&bottom)[3], const int (&top)[3], int by) {
    std::array<int, 8> row{};
    for (int k = 0; k < 3; ++k) {
      row[static_cast<size_t>(k)] = bottom[(k + by) % 3];
      row[static_cast<size_t>(k + 3)] = top[(k + by) % 3];
    }
    return row;
  };
  for (int lowTurn = 0; lowTurn < 3; ++lowTurn)
    for (int highTurn = 0; highTurn < 3; ++highTurn) {
      Rows joined = base;
      joined.Element(turned(low, mid, lowTurn));
      joined.Element(turned(mid, high, highTurn));
      EXPECT_EQ(Of(joined.Check()), kSound) << lowTurn << " " << highTurn;
      Rows folded = base;
      for (int k = 0; k < 3; ++k) folded.nodes[static_cast<size_t>(high[k])][2] = 0.0;
      folded.Element(turned(low, mid, lowTurn));
      folded.Element(turned(high, mid, highTurn));
      EXPECT_EQ(Of(folded.Check()), (Counts{0, 0, 0, 0, 1, 0, 3})) << lowTurn << " " << highTurn;
    }
}

TEST(Soundness, QuadrilateralsOnTheSameCornersJoinedCrosswiseAreFound) {
  // The upper hexahedron names the section's four corners for its bottom,
  // but runs round them crosswise (each turn of the crossing, from every
  // starting corner): the two faces share their corners without running
  // round them in opposite turns, so the section face counts as shared the
  // same way, however the upper element's own corners fare.
  const int crossings[2][4] = {{0, 2, 1, 3}, {0, 1, 3, 2}};
  for (const auto& crossing : crossings)
    for (int by = 0; by < 4; ++by) {
      Column c;
      std::array<int, 8>& upper = c.rows.elements[2];
      for (int k = 0; k < 4; ++k) upper[static_cast<size_t>(k)] = c.mid[crossing[(k + by) % 4]];
      const Counts found = Of(c.rows.Check());
      EXPECT_EQ(found.sameTurn, 1) << crossing[1] << " " << by;
      EXPECT_EQ(found.overShared + found.openSection + found.collapsed + found.nonFinite, 0)
          << crossing[1] << " " << by;
    }
}

// The face counts of a block of hexahedra, every node a candidate so that
// every face is filed, set against a count made by sorting each face's
// corners into a map. The block has thousands of faces, so that many meet
// another key in their first slot of the table and search on; faults are
// planted all over it, a few hundred at once, in every seed: elements
// repeated (faces used three or four times), turned inside out (pairs
// shared the same way) and taken out (sections and edges left open).
TEST(Soundness, FaceFaultsAllOverALargeBlockAreCountedAsByAMapOfSortedCorners) {
  constexpr int kSide = 12;
  const int hexa[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};
  for (unsigned seed = 1; seed <= 4; ++seed) {
    Rows rows;
    auto node = [](int i, int j, int k) { return 1 + i + (kSide + 1) * (j + (kSide + 1) * k); };
    for (int k = 0; k <= kSide; ++k)
      for (int j = 0; j <= kSide; ++j)
        for (int i = 0; i <= kSide; ++i) rows.Node(i, j, k, true);
    std::vector<std::array<int, 8>> block;
    for (int k = 0; k < kSide; ++k)
      for (int j = 0; j < kSide; ++j)
        for (int i = 0; i < kSide; ++i)
          block.push_back({node(i, j, k), node(i + 1, j, k), node(i + 1, j + 1, k), node(i, j + 1, k),
                           node(i, j, k + 1), node(i + 1, j, k + 1), node(i + 1, j + 1, k + 1),
                           node(i, j + 1, k + 1)});
    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> any(0, block.size() - 1);
    std::vector<std::array<int, 8>> repeated;
    for (int fault = 0; fault < 300; ++fault) {
      std::array<int, 8>& e = block[any(random)];
      if (e[0] == 0) continue;  // taken out already
      switch (fault % 3) {
        case 0: repeated.push_back(e); break;
        case 1: std::rotate(e.begin(), e.begin() + 4, e.end()); break;  // top and bottom swapped
        default: e = {};
      }
    }
    block.insert(block.end(), repeated.begin(), repeated.end());
    for (const auto& e : block)
      if (e[0] != 0) rows.Element(e);

    // Each face's corners sorted as its key, with its turn from its
    // smallest corner: two faces run opposite ways round the same corners
    // exactly when one turns from it as the other turns back.
    std::map<std::array<int, 4>, std::vector<std::pair<int, int>>> users;  // key: (next, previous) of the smallest
    for (size_t e = 1; e < rows.elements.size(); ++e)
      for (const auto& f : hexa) {
        int c[4];
        for (int i = 0; i < 4; ++i) c[i] = rows.elements[e][static_cast<size_t>(f[i])];
        const int at = static_cast<int>(std::min_element(c, c + 4) - c);
        std::array<int, 4> key{c[0], c[1], c[2], c[3]};
        std::sort(key.begin(), key.end());
        users[key].push_back({c[(at + 1) % 4], c[(at + 3) % 4]});
      }
    Counts expected{0, 0, 0, 0, 0, 0, 0};
    std::map<std::pair<int, int>, std::vector<int>> edges;  // each boundary edge: its directions
    for (const auto& [key, turns] : users) {
      if (turns.size() >= 3) ++expected.overShared;
      if (turns.size() == 2 && !(turns[0].first == turns[1].second && turns[0].second == turns[1].first))
        ++expected.sameTurn;
      if (turns.size() != 1) continue;
      ++expected.openSection;
      // The face's cycle again, from its smallest corner onward.
      const int a = key[0], b = turns[0].first, d = turns[0].second;
      int c = 0;
      for (int k : key)
        if (k != a && k != b && k != d) c = k;
      const int cycle[4] = {a, b, c, d};
      for (int i = 0; i < 4; ++i) {
        const int from = cycle[i], to = cycle[(i + 1) % 4];
        edges[{std::min(from, to), std::max(from, to)}].push_back(from < to ? 1 : 0);
      }
    }
    for (const auto& [edge, directions] : edges)
      if (directions.size() != 2 || directions[0] == directions[1]) ++expected.openBoundary;
    const Counts found = Of(rows.Check());
    EXPECT_EQ(found.overShared, expected.overShared) << "seed " << seed;
    EXPECT_EQ(found.sameTurn, expected.sameTurn) << "seed " << seed;
    EXPECT_EQ(found.openSection, expected.openSection) << "seed " << seed;
    EXPECT_EQ(found.openBoundary, expected.openBoundary) << "seed " << seed;
    EXPECT_GT(expected.overShared * expected.sameTurn * expected.openSection, 0) << "seed " << seed;
  }
}
