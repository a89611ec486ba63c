#include "mapper/junction_plan.h"

#include "mapper/junction_guards.h"
#include "mapper/refusal.h"

#include <algorithm>

namespace vela {

bool PlanSection(const JunctionSettings& settings, double ratio, JunctionPlan& plan) {
  if (!CheckSection(settings.firstRing, settings.inner, settings.outer, ratio)) return false;
  SectionSettings& section = plan.section;
  section.firstRing = settings.firstRing;
  section.innerRings = static_cast<int>(settings.inner.size()) - 1;
  section.outerLayers = std::max(static_cast<int>(settings.outer.size()) - 1, 0);
  section.ioRatio = ratio;
  section.inner = settings.inner;
  section.outer.clear();
  if (section.outerLayers > 0) section.outer = settings.outer;
  plan.layers = settings.layers;
  plan.circularProfile = settings.circularProfile;
  plan.linearProfile = settings.linearProfile;
  return true;
}

int AppendBranch(const JunctionPlan& plan, const BranchInput& in, const std::vector<SectionFace>& faces,
                 MeshBuild& build) {
  const SectionSettings& s = plan.section;
  // The rows of the last branch on this thread, refilled: Append copies
  // them into the build.
  thread_local std::vector<Point3> nodes;
  SweepBranch(in, s, plan.layers, plan.circularProfile, plan.linearProfile,
              ThreadRingAngles(s.firstRing, s.innerRings), nodes);
  return build.Append(nodes, CountSection(s.firstRing, s.innerRings, s.outerLayers).nodes, plan.layers + 1,
                      faces, {}, false);
}

int OutermostRingStart(const SectionSettings& s) {
  const int f = s.firstRing, c = s.innerRings, b = s.outerLayers;
  if (b == 0) return 1 + f * c * (c - 1) / 2;
  return CountSection(f, c, b).innerDiscNodes + (b - 1) * c * f;
}

JunctionOutcome RefusedOutcome() {
  JunctionOutcome out;
  out.refusal = LastJunctionRefusal();
  return out;
}

JunctionOutcome Finish(const JunctionPlan& plan, std::unique_ptr<MeshBuild> build,
                       const std::vector<int>& firstNodes) {
  JunctionOutcome out;
  out.nodesBeforeMerge = build->SweptNodeCount();
  out.mergeTol = plan.mergeTol;
  if (!MergeSound(*build, plan.mergeTol)) {
    out.refusal = LastJunctionRefusal();
    return out;
  }
  const SectionSettings& s = plan.section;
  const int sectionNodes = CountSection(s.firstRing, s.innerRings, s.outerLayers).nodes;
  // The far-end sections are never merge candidates: the merge keeps every
  // one of their nodes, in order.
  out.farNodeInSection = OutermostRingStart(s);
  out.farSections.resize(firstNodes.size());
  for (size_t i = 0; i < firstNodes.size(); ++i) {
    std::vector<int>& section = out.farSections[i];
    section.resize(static_cast<size_t>(sectionNodes));
    for (int p = 0; p < sectionNodes; ++p) section[static_cast<size_t>(p)] = build->MergedNumber(firstNodes[i] + p) - 1;
  }
  out.build = std::move(build);
  return out;
}

}  // namespace vela
