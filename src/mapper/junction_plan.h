#pragma once

// A junction call's plan: the host's lists read once, judged by the guards,
// and everything the sweeps, the merge and the stored inputs need derived
// from them once. Planning is pure: it records a refusal (mapper/refusal.h)
// and touches no mapper. Sweeping a plan builds the unmerged junction mesh.

#include <VelaArray.h>
#include <VelaGeometry.h>

#include "mapper/junction_inputs.h"
#include "mapper/mesh_build.h"
#include "sweep/branch_sweep.h"
#include "sweep/profiles.h"
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

// The mapper's settings as a junction call reads them.
struct JunctionSettings {
  int firstRing = 8;
  const CArray<double, double>* inner = nullptr;  // ring positions, 0 first
  const CArray<double, double>* outer = nullptr;  // boundary-layer positions, 0 first
  int layers = kBranchLayers;
  double (*circularProfile)(double) = CircularProfile;
  double (*linearProfile)(double) = LinearProfile;
};

// A junction call's arguments as the host gave them.
struct JunctionCall {
  ON_3fPoint center;
  const CArray<ON_3fPoint, ON_3fPoint>* farPoints = nullptr;
  const CArray<double, double>* radii = nullptr;
  double innerShare = 0.8;
  double outerShare = 0.2;
};

struct JunctionPlan {
  ON_3fPoint center;
  std::vector<ON_3fPoint> farPoints;
  std::vector<double> radii;  // the whole list: two per runner (far end, junction end), first
  SectionSettings section;    // ioRatio = innerShare / (innerShare + outerShare)
  int layers = kBranchLayers;
  double (*circularProfile)(double) = CircularProfile;
  double (*linearProfile)(double) = LinearProfile;
  MeshCapacity capacity;      // what the sweeps append, from the closed-form counts
  double mergeTol = 0.0;      // the merge's tolerance, share included

  int RunnerCount() const { return static_cast<int>(farPoints.size()); }
};

struct NWayPlan : JunctionPlan {
  Point3 normal{};             // unit normal of the junction plane
  ProjectedRunners projected;  // the runners turned into that plane
  double centerRadius = 0.0;   // the size of the junction centre
};

struct BendPlan : JunctionPlan {
  Point3 normal{};           // unit normal of the bend's plane, runner 0 turning to runner 1
  Point3 e0{}, e1{};         // unit directions of the two runners
  double meanJunction = 0.0; // mean junction-end radius: the centre's size
};

// The N-way junction's plan, or nothing with the refusal recorded; the
// guards in the order CVelaRunnerMapping::NConnectRunner lists them. Throws
// CArray's std::invalid_argument for an empty far-point list.
std::optional<NWayPlan> PlanNWay(const JunctionSettings& settings, const JunctionCall& call);
// One branch per runner, in runner order; farNodes[i] receives runner i's
// far node. Never null.
std::unique_ptr<MeshBuild> SweepNWay(const NWayPlan& plan, ON_3fPoint* farNodes);
// Keeps the N-way call's centre size and layer counts in this thread's
// module state (mapper/module_state.h).
void KeepNWayState(const NWayPlan& plan);

// The bend's plan, or nothing with the refusal recorded; the guards in the
// order CVelaRunnerMapping::TwoConnectRunner lists them.
std::optional<BendPlan> PlanBend(const JunctionSettings& settings, const JunctionCall& call);
// The two legs, then the corner. Never null.
std::unique_ptr<MeshBuild> SweepBend(const BendPlan& plan);

// The part both plans share: checks the section settings for the share
// ratio and fills plan.section, plan.layers and the profiles.
bool PlanSection(const JunctionSettings& settings, double ratio, JunctionPlan& plan);

// Sweeps one branch (N-way branch or bend leg) with the plan's section and
// appends it, its junction-end section to be merged; returns its far node.
// faces is the section's face list.
ON_3fPoint AppendBranch(const JunctionPlan& plan, const BranchInput& in,
                        const std::vector<SectionFace>& faces, MeshBuild& build);

}  // namespace vela
