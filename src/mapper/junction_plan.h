#pragma once

// A junction's plan: its inputs judged by the guards, and everything the
// sweeps, the merge and the result need derived from them once. Planning is
// pure: it records a refusal (mapper/refusal.h) and touches nothing else.
//
// The two drivers, one per kind of junction, run the same pipeline over
// values: plan, sweep into a MeshBuild, merge and check, and answer with one
// JunctionOutcome. The exported class and the value API both call them.

#include <VelaJunction.h>

#include "mapper/junction_inputs.h"
#include "mapper/mesh_build.h"
#include "sweep/branch_sweep.h"
#include "sweep/profiles.h"
#include "sweep/ring_angles.h"
#include "sweep/section_pattern.h"
#include "vec3.h"

#include <memory>
#include <optional>
#include <vector>

namespace vela {

// Element layers along one branch (a branch stores one section more).
constexpr int kBranchLayers = 5;
// Steps of the half-section sweep round a bend.
constexpr int kCornerSteps = 5;

// The cross-section settings as a junction reads them.
struct JunctionSettings {
  int firstRing = 8;
  std::vector<double> inner;  // ring positions, 0 first
  std::vector<double> outer;  // boundary-layer positions, 0 first
  int layers = kBranchLayers;
  double (*circularProfile)(double) = CircularProfile;
  double (*linearProfile)(double) = LinearProfile;
};

// Which mesh a junction gets: the construction as the exported class makes
// it, or the value API's, which meshes a bend of a gentle or moderate turn
// as a mitre (and a straight pass too).
enum class Construction { AsConstructed, Improved };

// A junction's runners and shares, and how its points are taken.
struct JunctionCall {
  Point3 center{};
  std::vector<Point3> farPoints;
  std::vector<double> radii;  // two per runner: far end, junction end
  double innerShare = 0.8;
  double outerShare = 0.2;
  Precision precision = Precision::Double;
  Construction construction = Construction::AsConstructed;
  double memoryLimit = 0.0;  // bytes a call may take; 0: no bound
};

struct JunctionPlan {
  Point3 center{};
  std::vector<Point3> farPoints;
  std::vector<double> radii;  // the whole list: two per runner (far end, junction end), first
  SectionSettings section;    // ioRatio = innerShare / (innerShare + outerShare)
  int layers = kBranchLayers;
  double (*circularProfile)(double) = CircularProfile;
  double (*linearProfile)(double) = LinearProfile;
  MeshCapacity capacity;      // what the sweeps append, from the closed-form counts
  double mergeTol = 0.0;      // the merge's tolerance, share included
  Precision precision = Precision::Double;

  int RunnerCount() const { return static_cast<int>(farPoints.size()); }
};

struct NWayPlan : JunctionPlan {
  Point3 normal{};             // unit normal of the junction plane
  ProjectedRunners projected;  // the runners turned into that plane
  double centerRadius = 0.0;   // the size of the junction centre
  Construction construction = Construction::AsConstructed;
  // The first bound of the runners' geometry that the junction lies beyond
  // (CheckNWayGeometry), or reason None: its mesh is then tested for
  // overlap too, and refused under this reason when it fails.
  JunctionRefusal beyondBounds;
  // The improved construction's second try: every branch leans back from
  // its neighbours only near the junction (BranchInput::gatherLean).
  bool gatherLean = false;
};

struct BendPlan : JunctionPlan {
  Point3 normal{};           // unit normal of the bend's plane, runner 0 turning to runner 1
  Point3 e0{}, e1{};         // unit directions of the two runners
  double meanJunction = 0.0; // mean junction-end radius: the centre's size
};

// A driver's answer: the merged and checked mesh, or the refusal.
struct JunctionOutcome {
  JunctionRefusal refusal;
  std::unique_ptr<MeshBuild> build;  // null when refused
  // Per runner, its far-end section's merged node numbers (0-based) in ring
  // order.
  std::vector<std::vector<int>> farSections;
  // Where in each far-end section the angle-0 node of its outermost ring is.
  int farNodeInSection = 0;
  int nodesBeforeMerge = 0;
  double mergeTol = 0.0;
  bool hub = false;  // meshed as a hub (mapper/hub_junction.h)
  // A hub with a branch whose junction-section fold was undone near the
  // junction rather than over its whole length.
  bool foldsGathered = false;
};

// The N-way junction's plan, or nothing with the refusal recorded; the
// guards in the order CVelaRunnerMapping::NConnectRunner lists them.
std::optional<NWayPlan> PlanNWay(const JunctionSettings& settings, const JunctionCall& call);
// The bend's plan, likewise (CVelaRunnerMapping::TwoConnectRunner).
std::optional<BendPlan> PlanBend(const JunctionSettings& settings, const JunctionCall& call);

// One branch per runner, in runner order; firstNodes[i] receives the swept
// number of runner i's first node (its far-end section's centre).
std::unique_ptr<MeshBuild> SweepNWay(const NWayPlan& plan, std::vector<int>& firstNodes);

// The drivers: plan, sweep, merge, check.
JunctionOutcome MeshNWay(const JunctionSettings& settings, const JunctionCall& call, bool gatherLean = false);
JunctionOutcome MeshBend(const JunctionSettings& settings, const JunctionCall& call);
// The improved bend by the construction MeshBend does not take for it: the
// corner where MeshBend mitres, the mitre where it turns a corner (when the
// legs are long enough for the mitre's inner wall at all). Refused where
// that construction does not apply.
JunctionOutcome MeshOtherBend(const JunctionSettings& settings, const JunctionCall& call);

// The mitred bend (mitre_bend.cpp): whether it suits the plan's bend, and its
// driver from the plan on.
bool MitreFits(const BendPlan& plan);
// Whether the legs leave the mitre's inner wall its share of their length,
// however steeply its last layers lean.
bool MitreLegsFit(const BendPlan& plan);
JunctionOutcome MeshMitreBend(const BendPlan& plan);
// A bend opening under 90 degrees fanned round the crease where its
// runners' walls cross (hairpin_bend.cpp), from the plan on; refused where
// the opening is wider or the legs too short for it, or where its sections
// would take more than memoryLimit (0: no bound).
// pullRings: the section's inner rings drawn out towards the wall where the
// section is long, so that the cells between them keep their shape there.
JunctionOutcome MeshHairpinBend(const BendPlan& plan, double memoryLimit, bool pullRings);
// The same from the junction's inputs.
JunctionOutcome MeshHairpin(const JunctionSettings& settings, const JunctionCall& call, bool pullRings);

// The part both plans share: checks the section settings for the share
// ratio and fills plan.section, plan.layers and the profiles.
bool PlanSection(const JunctionSettings& settings, double ratio, JunctionPlan& plan);

// Sweeps one branch (N-way branch or bend leg) with the plan's section and
// appends it, its junction-end section to be merged; returns the swept
// number of its first node. faces is the section's face list.
int AppendBranch(const JunctionPlan& plan, const BranchInput& in, const std::vector<SectionFace>& faces,
                 MeshBuild& build);

// The outcome of a junction refused with this thread's recorded reason.
JunctionOutcome RefusedOutcome();

// Merges and checks a swept junction and fills the outcome: the far-end
// section of runner i starts at swept node firstNodes[i].
JunctionOutcome Finish(const JunctionPlan& plan, std::unique_ptr<MeshBuild> build,
                       const std::vector<int>& firstNodes);

// Calls place(p, fraction, cos, sin) for every node of a section, p from 1
// in the section's node order: the centre, the inner rings, then the
// boundary layers on the last inner ring's angles; fraction of the radius.
template <typename Place>
void ForEachSectionNode(const SectionSettings& s, Place place) {
  const RingAngles& angles = ThreadRingAngles(s.firstRing, s.innerRings);
  int p = 1;
  place(p, 0.0, 1.0, 0.0);
  const double rho = s.ioRatio;
  for (int i = 1; i <= s.innerRings; ++i)
    for (int j = 0; j < i * s.firstRing; ++j)
      place(++p, rho * s.inner[static_cast<size_t>(i)], angles.Cos(i, j), angles.Sin(i, j));
  for (int q = 1; q <= s.outerLayers; ++q) {
    const double fraction = rho + (1.0 - rho) * s.outer[static_cast<size_t>(q)];
    for (int j = 0; j < s.firstRing * s.innerRings; ++j)
      place(++p, fraction, angles.Cos(s.innerRings, j), angles.Sin(s.innerRings, j));
  }
}

// The swept offset, within a section, of the angle-0 node of its outermost
// ring (the last boundary layer's, or ring C's without boundary layers).
int OutermostRingStart(const SectionSettings& section);

}  // namespace vela
