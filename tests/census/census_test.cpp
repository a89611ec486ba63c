// The census: every junction the library is handed is either refused with a
// reason, leaving the host's container untouched, or meshed soundly. The judge
// is tests/census/soundness.h, which shares no code with the library.

#include "census_run.h"
#include "junction_generator.h"
#include "soundness.h"

#ifdef VELA_CENSUS_HAS_MESH_IO
#include "junction_file.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <map>
#include <set>
#include <sstream>

#ifndef VELA_CENSUS_COUNT
#define VELA_CENSUS_COUNT 1000
#endif

namespace {

using vela::census::CheckSoundness;
using vela::census::Fault;
using vela::census::Outcome;
using vela::census::Profile;
using vela::census::Verdict;

constexpr double kPi = 3.141592653589793;
constexpr std::uint64_t kCensusSeed = 20240611;

// --- the judge on hand-made meshes, one fault each --------------------------------------------

using Points = std::vector<std::array<double, 3>>;

MemoryMesh MeshOf(const Points& nodes, const std::vector<std::vector<int>>& elements) {
  MemoryMesh m;
  m.SetMeshSize(static_cast<int>(elements.size()), static_cast<int>(nodes.size()));
  for (size_t n = 0; n < nodes.size(); ++n) m.SetNodeCoord(static_cast<int>(n), nodes[n][0], nodes[n][1], nodes[n][2]);
  for (size_t i = 0; i < elements.size(); ++i) {
    const auto& c = elements[i];
    const int e = static_cast<int>(i);
    switch (c.size()) {
      case 4: m.SetTetraElement(e, c[0], c[1], c[2], c[3]); break;
      case 5: m.SetPyramidElement(e, c[0], c[1], c[2], c[3], c[4]); break;
      case 6: m.SetPrismElement(e, c[0], c[1], c[2], c[3], c[4], c[5]); break;
      default: m.SetHexaElement(e, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]); break;
    }
  }
  return m;
}

// The unit cube's corners, bottom (z = 0) then top, counter-clockwise seen
// from above, shifted by (dx, dy, dz).
Points Cube(double dx = 0, double dy = 0, double dz = 0) {
  Points p{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  for (auto& q : p) q = {q[0] + dx, q[1] + dy, q[2] + dz};
  return p;
}

Points Joined(Points a, const Points& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Points Mirrored(Points p) {
  for (auto& q : p) q[2] = -q[2];
  return p;
}

struct OneKind {
  const char* name;
  Points nodes;
  std::vector<int> corners;
};

std::vector<OneKind> UnitElements() {
  return {
      {"tetra", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {0, 1, 2, 3}},
      {"pyramid", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5, 0.5, 0.7}}, {0, 1, 2, 3, 4}},
      {"prism", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {0, 1, 1}}, {0, 1, 2, 3, 4, 5}},
      {"hexa", Cube(), {0, 1, 2, 3, 4, 5, 6, 7}},
  };
}

TEST(SoundnessJudge, PositiveElementOfEveryKindIsSoundAndItsMirrorInverted) {
  for (const OneKind& k : UnitElements()) {
    const auto good = CheckSoundness(MeshOf(k.nodes, {k.corners}));
    EXPECT_TRUE(good.Sound()) << k.name << ": " << good.Summary();
    const auto mirrored = CheckSoundness(MeshOf(Mirrored(k.nodes), {k.corners}));
    EXPECT_EQ(mirrored.Of(Fault::Inverted), 1) << k.name << ": " << mirrored.Summary();
  }
}

TEST(SoundnessJudge, PyramidWithItsApexInTheBasePlaneIsFlat) {
  const auto s = CheckSoundness(MeshOf({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5, 0.5, 0}}, {{0, 1, 2, 3, 4}}));
  EXPECT_EQ(s.Of(Fault::Inverted), 1) << s.Summary();
}

TEST(SoundnessJudge, EachHandMadeFaultIsFoundInItsClass) {
  const std::vector<int> lower{0, 1, 2, 3, 4, 5, 6, 7};
  const std::vector<int> upper{4, 5, 6, 7, 8, 9, 10, 11};  // on top of lower, sharing its top face
  const Points twoHigh = Joined(Cube(), {{0, 0, 2}, {1, 0, 2}, {1, 1, 2}, {0, 1, 2}});
  struct Case {
    const char* name;
    MemoryMesh mesh;
    Fault fault;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<Case> cases;
  cases.push_back({"no elements", MeshOf(Cube(), {}), Fault::Empty});
  Points nanCube = Cube();
  nanCube[6][1] = nan;
  cases.push_back({"a NaN corner", MeshOf(nanCube, {lower}), Fault::NonFinite});
  cases.push_back({"a node named twice", MeshOf(Cube(), {{0, 1, 2, 3, 4, 5, 6, 6}}), Fault::RepeatedNode});
  // The same two cubes, the shared face's nodes kept twice.
  cases.push_back({"an unmerged face", MeshOf(Joined(Cube(), Cube(0, 0, 1)), {lower, {8, 9, 10, 11, 12, 13, 14, 15}}),
                   Fault::Crack});
  cases.push_back({"cubes half inside each other",
                   MeshOf(Joined(Cube(), Cube(0.5, 0.2, 0.1)), {lower, {8, 9, 10, 11, 12, 13, 14, 15}}), Fault::Overlap});
  // Three tetrahedra on the triangle (0, 1, 2): two above it, one below.
  cases.push_back({"a face shared by three",
                   MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0.2, 0.2, 1}, {0.3, 0.3, 2}, {0.2, 0.2, -1}},
                          {{0, 1, 2, 3}, {0, 1, 2, 4}, {0, 2, 1, 5}}),
                   Fault::OverShared});
  // The upper cube runs round the shared face the same way as the lower one.
  cases.push_back({"a shared quad in the same turn", MeshOf(twoHigh, {lower, {4, 7, 6, 5, 8, 11, 10, 9}}),
                   Fault::FaceTurn});
  // Two tetrahedra stand on the cube's top face, split along its diagonal.
  cases.push_back({"a quad against two triangles",
                   MeshOf(Joined(Cube(), {{0.5, 0.5, 1.5}}), {lower, {4, 5, 6, 8}, {4, 6, 7, 8}}), Fault::HangingFace});
  // Cubes that touch along one edge only: four boundary faces meet there.
  cases.push_back({"cubes joined by an edge",
                   MeshOf(Joined(Cube(), {{2, 1, 0}, {2, 2, 0}, {1, 2, 0}, {2, 1, 1}, {2, 2, 1}, {1, 2, 1}}),
                          {lower, {2, 8, 9, 10, 6, 11, 12, 13}}),
                   Fault::OpenBoundary});
  cases.push_back({"cubes apart", MeshOf(Joined(Cube(), Cube(1.5, 0, 0)), {lower, {8, 9, 10, 11, 12, 13, 14, 15}}),
                   Fault::Disconnected});
  for (const Case& c : cases) {
    const auto s = CheckSoundness(c.mesh);
    EXPECT_GT(s.Of(c.fault), 0) << c.name << " not found as " << vela::census::FaultName(c.fault) << ": "
                                << s.Summary();
  }
  // The faulty pairs fixed: the same elements, sound.
  const auto stacked = CheckSoundness(MeshOf(twoHigh, {lower, upper}));
  EXPECT_TRUE(stacked.Sound()) << stacked.Summary();
}

// A point at the far end of a long thin element is found inside it even when
// the element is much larger than its neighbours' grid cells.
TEST(SoundnessJudge, FindsOverlapInsideAnElementFarLargerThanTheOthers) {
  Points nodes = Cube();
  for (size_t k : {1, 2, 5, 6}) nodes[k][0] = 200.0;  // a 200 x 1 x 1 bar
  std::vector<std::vector<int>> elements{{0, 1, 2, 3, 4, 5, 6, 7}};
  for (int s = 0; s < 4; ++s) {  // small cubes inside the bar's far end
    const Points c = Cube(160.0 + 2.0 * s, 0.0, 0.0);
    std::vector<int> e;
    for (const auto& p : c) {
      e.push_back(static_cast<int>(nodes.size()));
      nodes.push_back({p[0], 0.1 + 0.8 * p[1], 0.1 + 0.8 * p[2]});
    }
    elements.push_back(e);
  }
  EXPECT_EQ(CheckSoundness(MeshOf(nodes, elements)).Of(Fault::Overlap), 4);
}

// --- the generator ---------------------------------------------------------------------------

bool RisesFromZeroToOne(const std::vector<double>& layers) {
  if (layers.size() < 2 || layers.front() != 0.0 || layers.back() != 1.0) return false;
  for (size_t i = 1; i < layers.size(); ++i)
    if (!(layers[i] > layers[i - 1])) return false;
  return true;
}

TEST(JunctionGenerator, SameKeysGiveTheSameJunctionAndNeighbouringKeysAnother) {
  for (Profile p : {Profile::Plausible, Profile::Broad}) {
    const Junction a = vela::census::GenerateJunction(p, 7, 123);
    const Junction b = vela::census::GenerateJunction(p, 7, 123);
    EXPECT_EQ(vela::census::JunctionFileText(a), vela::census::JunctionFileText(b));
    EXPECT_NE(vela::census::JunctionFileText(a), vela::census::JunctionFileText(vela::census::GenerateJunction(p, 7, 124)));
    EXPECT_NE(vela::census::JunctionFileText(a), vela::census::JunctionFileText(vela::census::GenerateJunction(p, 8, 123)));
  }
}

TEST(JunctionGenerator, JunctionsStayWithinTheirProfile) {
  for (Profile p : {Profile::Plausible, Profile::Broad}) {
    const bool broad = p == Profile::Broad;
    std::set<size_t> runnerCounts;
    int oddRings = 0, unevenLayers = 0, narrow = 0;
    for (std::uint64_t i = 0; i < 500; ++i) {
      const Junction j = vela::census::GenerateJunction(p, 3, i);
      const size_t n = j.farPoints.size();
      SCOPED_TRACE(j.name);
      runnerCounts.insert(n);
      ASSERT_TRUE(n >= 2 && n <= 8);
      EXPECT_EQ(j.bend, n == 2);
      ASSERT_EQ(j.radii.size(), 2 * n);
      EXPECT_NEAR(j.innerShare + j.outerShare, 1.0, 1e-12);
      EXPECT_TRUE(RisesFromZeroToOne(j.inner));
      EXPECT_TRUE(j.outer.empty() || RisesFromZeroToOne(j.outer));
      EXPECT_LE(j.outer.size(), 4u);
      EXPECT_LE(j.inner.size(), broad ? 9u : 7u);
      EXPECT_GE(j.firstRing, 4);
      EXPECT_LE(j.firstRing, broad ? 32 : 16);
      const auto [lo, hi] = std::minmax_element(j.radii.begin(), j.radii.end());
      EXPECT_GT(*lo, 0.0);
      EXPECT_LE(*hi / *lo, broad ? 6.0 * 1.4 / 0.6 : 1.15 * 1.1 / (0.85 * 0.9));
      oddRings += j.firstRing % 2 != 0 ? 1 : 0;
      unevenLayers += j.inner.size() > 2 && std::fabs(2 * j.inner[1] - j.inner[2]) > 1e-9 ? 1 : 0;  // first two gaps differ
      narrow += vela::census::SmallestNeighbourAngleDeg(j) < 10.0 ? 1 : 0;
    }
    EXPECT_EQ(runnerCounts.size(), 7u) << "every runner count from 2 to 8 occurs";
    EXPECT_GT(oddRings, 0) << "odd first rings occur, to be refused";
    EXPECT_LT(oddRings, 100) << "most first rings are even, so that most junctions can be meshed";
    EXPECT_GT(unevenLayers, 0);
    if (broad) {
      EXPECT_GT(narrow, 10) << "neighbours closer than 10 degrees occur";
    } else {
      EXPECT_EQ(narrow, 0);
    }
  }
}

#ifdef VELA_CENSUS_HAS_MESH_IO
TEST(JunctionGenerator, JunctionFileReadsBackThroughTheToolsReader) {
  const Junction j = vela::census::GenerateJunction(Profile::Broad, 5, 17);
  const vela::io::JunctionFile f = vela::io::ParseJunction(vela::census::JunctionFileText(j), "hint");
  EXPECT_EQ(f.name, j.name);
  EXPECT_EQ(f.center, j.center);
  EXPECT_EQ(f.farPoints, j.farPoints);
  EXPECT_EQ(f.radii, j.radii);
  EXPECT_EQ(f.innerShare, j.innerShare);
  EXPECT_EQ(f.outerShare, j.outerShare);
  EXPECT_EQ(f.firstCircleNodes, j.firstRing);
  EXPECT_EQ(f.innerLayers, j.inner);
  EXPECT_EQ(f.outerLayers, j.outer);
  EXPECT_EQ(f.IsBend(), j.bend);
}
#endif

// --- the census ------------------------------------------------------------------------------

class Census : public testing::TestWithParam<Profile> {};

}  // namespace

namespace vela::census {
// Names the profile in the listing of parameterised tests.
void PrintTo(Profile p, std::ostream* os) { *os << ProfileName(p); }
}  // namespace vela::census

namespace {

TEST_P(Census, EveryJunctionIsRefusedWithAReasonOrMeshedSoundly) {
  const Profile profile = GetParam();
  std::map<std::string, int> tally;  // outcome, or "refused: <reason>"
  std::map<std::string, int> faults;
  std::vector<std::string> failures;
  for (std::uint64_t i = 0; i < VELA_CENSUS_COUNT; ++i) {
    const Junction j = vela::census::GenerateJunction(profile, kCensusSeed, i);
    const Verdict v = vela::census::Judge(j);
    ++tally[v.outcome == Outcome::Refused ? std::string("refused: ") + vela::RefusalName(v.refusal.reason)
                                          : std::string(vela::census::OutcomeName(v.outcome))];
    for (int f = 0; f < vela::census::Soundness::kFaultCount; ++f)
      faults[vela::census::FaultName(static_cast<Fault>(f))] += v.soundness.count[static_cast<size_t>(f)] > 0 ? 1 : 0;
    if (!v.Passed())
      failures.push_back(std::string(vela::census::ProfileName(profile)) + " seed " + std::to_string(kCensusSeed) +
                         " index " + std::to_string(i) + ": " + v.Describe());
  }
  std::ostringstream report;
  report << vela::census::ProfileName(profile) << ", seed " << kCensusSeed << ", " << VELA_CENSUS_COUNT
         << " junctions:\n";
  for (const auto& [what, n] : tally) report << "  " << what << ": " << n << '\n';
  for (const auto& [what, n] : faults)
    if (n > 0) report << "  unsound with " << what << ": " << n << '\n';
  std::cout << report.str();

  constexpr size_t kListed = 25;
  std::ostringstream listed;
  for (size_t k = 0; k < std::min(kListed, failures.size()); ++k) listed << "  " << failures[k] << '\n';
  EXPECT_EQ(failures.size(), 0u) << "junctions accepted with an unsound mesh, or refused without a reason "
                                    "(replay one with vela_census --profile P --seed S --start INDEX --count 1 --verbose); "
                                    "the first "
                                 << std::min(kListed, failures.size()) << ":\n"
                                 << listed.str();
}

INSTANTIATE_TEST_SUITE_P(Profiles, Census, testing::Values(Profile::Plausible, Profile::Broad),
                         [](const testing::TestParamInfo<Profile>& param) {
                           return std::string(vela::census::ProfileName(param.param));
                         });

// --- junctions frozen from the fault classes the census met ----------------------------------

std::array<double, 3> Direction(double azimuthDeg, double elevationDeg, double distance) {
  const double a = azimuthDeg * kPi / 180, e = elevationDeg * kPi / 180;
  return {distance * std::cos(e) * std::cos(a), distance * std::cos(e) * std::sin(a), distance * std::sin(e)};
}

std::vector<double> Even(int intervals) {
  std::vector<double> v;
  for (int k = 0; k <= intervals; ++k) v.push_back(static_cast<double>(k) / intervals);
  return v;
}

Junction Ring(const std::string& name, int runners, double r) {
  std::vector<double> degrees;
  for (int k = 0; k < runners; ++k) degrees.push_back(360.0 * k / runners);
  return Planar(name, degrees, r);
}

Junction Bend(const std::string& name, double openingDeg, const std::vector<double>& radii) {
  Junction j = Planar(name, {0.0, openingDeg});
  j.radii = radii;
  j.bend = true;
  return j;
}

std::vector<Junction> FrozenJunctions() {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double big = 0.999 * static_cast<double>(FLT_MAX);
  std::vector<Junction> out{
      // Merging the junction ends collapsed elements.
      With(Planar("yF16NoOuterLayerRadii13to1", {90, 210, 330}, 1.0),
           [](Junction& j) {
             j.radii[2] = j.radii[3] = 1.3;
             j.firstRing = 16;
             j.outer = {};
           }),
      With(Planar("xRadius2F32EightRingsTwoLayers", {0, 90, 180, 270}, 2.0),
           [](Junction& j) {
             j.firstRing = 32;
             j.inner = Even(8);
             j.outer = {0, 0.5, 1};
           }),
      // Neighbours too close for their radii: inverted elements and walls cut
      // through each other.
      With(Planar("neighbours10DegreesApart", {0, 10, 180}), [](Junction& j) { j.outer = {0, 0.5, 1}; }),
      Planar("neighbours5DegreesApart", {0, 5, 120, 240}),
      Planar("neighbours1DegreeApart", {0, 1, 180}),
      Ring("ringOf40", 40, 2.0),
      Ring("ringOf100", 100, 2.0),
      // Steep runners ran through non-neighbouring branches without inverting
      // any element.
      With(Planar("leaving46Degrees", {0, 90, 180, 270}),
           [](Junction& j) {
             j.farPoints[1] = Direction(90, 46, 20);
             j.farPoints[3] = Direction(270, 46, 20);
           }),
      With(Planar("fiveLeaving70DegreesUpAndDown", {0, 72, 144, 216, 288}),
           [](Junction& j) {
             for (size_t k = 0; k < 5; ++k) j.farPoints[k] = Direction(72.0 * static_cast<double>(k), k % 2 ? 70 : -70, 20);
             j.outer = {0, 0.5, 1};
           }),
      Bend("bend90p6Ratio2p4", 90.6, {2.4, 2.4, 1.0, 1.0}),
      Bend("bend90p6Ratio2p4Reversed", 90.6, {1.0, 1.0, 2.4, 2.4}),
      With(Planar("teeSideThreeTimesRun", {0, 90, 180}), [](Junction& j) { j.radii = {1, 1, 3, 3, 1, 1}; }),
      Planar("twoRunnersOneDirection", {0, 0, 180}),
      With(Planar("twoRunnersOneDirectionTapered", {0, 0, 180}), [](Junction& j) { j.radii = {2.5, 2, 1.5, 2, 2, 2}; }),
      With(Planar("twoRunnersOneDirectionShorter", {0, 0, 180}), [](Junction& j) { j.farPoints[1] = {10, 0, 0}; }),
      With(Planar("at4And110And316", {4, 110, 316}), [](Junction& j) { j.radii = {2, 2, 3, 3, 1.5, 1.5}; }),
      // Magnitudes beyond what single-precision far points and doubles carry.
      With(Planar("farPointsNearFloatMax", {0, 120, 240}),
           [&](Junction& j) {
             for (auto& p : j.farPoints)
               for (double& c : p) c *= big / 20.0;
           }),
      With(Planar("farPointsNearMinusFloatMax", {0, 120, 240}),
           [&](Junction& j) { j.farPoints = {{-big, 0, 0}, {0, -big, 0}, {big, big, 0}}; }),
      With(Planar("radii1e300", {0, 120, 240}), [](Junction& j) { j.radii.assign(6, 1e300); }),
      With(Bend("bendRadii1e300", 90, {2, 2, 2, 2}), [](Junction& j) { j.radii.assign(4, 1e300); }),
  };
  // Layer lists a host could get wrong; as inner and as outer list, on a Y and on a bend.
  const std::vector<std::pair<std::string, std::vector<double>>> badLayers{
      {"NaN", {0, nan, 1}},          {"Inf", {0, 0.5, inf}},      {"Unsorted", {0, 0.6, 0.3, 1}},
      {"Duplicate", {0, 0.5, 0.5, 1}}, {"AboveOne", {0, 0.5, 1.5}}, {"BelowZero", {-0.5, 0, 1}},
      {"NotFromZero", {0.2, 0.6, 1}}, {"NotToOne", {0, 0.3, 0.6}},
  };
  for (const auto& bad : badLayers) {
    const std::string& what = bad.first;
    const std::vector<double>& layers = bad.second;
    out.push_back(With(Planar("innerLayers" + what, {0, 120, 240}), [&](Junction& j) { j.inner = layers; }));
    out.push_back(With(Planar("outerLayers" + what, {0, 120, 240}), [&](Junction& j) { j.outer = layers; }));
    out.push_back(With(Bend("bendInnerLayers" + what, 90, {2, 2, 2, 2}), [&](Junction& j) { j.inner = layers; }));
  }
  return out;
}

class FrozenJunction : public testing::TestWithParam<Junction> {};

TEST_P(FrozenJunction, IsRefusedWithAReasonOrMeshedSoundly) {
  const Verdict v = vela::census::Judge(GetParam());
  std::cout << GetParam().name << ": " << v.Describe() << '\n';
  EXPECT_TRUE(v.Passed()) << v.Describe();
}

INSTANTIATE_TEST_SUITE_P(FaultClasses, FrozenJunction, testing::ValuesIn(FrozenJunctions()),
                         [](const testing::TestParamInfo<Junction>& param) { return param.param.name; });

}  // namespace
