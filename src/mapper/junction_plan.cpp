#include "mapper/junction_plan.h"

#include "mapper/junction_guards.h"

#include <algorithm>

namespace vela {

bool PlanSection(const JunctionSettings& settings, double ratio, JunctionPlan& plan) {
  const CArray<double, double>& inner = *settings.inner;
  const CArray<double, double>& outer = *settings.outer;
  if (!CheckSection(settings.firstRing, inner, outer, ratio)) return false;
  SectionSettings& section = plan.section;
  section.firstRing = settings.firstRing;
  section.innerRings = inner.GetSize() - 1;
  section.outerLayers = std::max(outer.GetSize() - 1, 0);
  section.ioRatio = ratio;
  section.inner.assign(static_cast<size_t>(section.innerRings) + 1, 0.0);
  for (int i = 0; i <= section.innerRings; ++i) section.inner[static_cast<size_t>(i)] = inner.GetAt(i);
  section.outer.clear();
  for (int i = 0; i <= section.outerLayers && section.outerLayers > 0; ++i)
    section.outer.push_back(outer.GetAt(i));
  plan.layers = settings.layers;
  plan.circularProfile = settings.circularProfile;
  plan.linearProfile = settings.linearProfile;
  return true;
}

ON_3fPoint AppendBranch(const JunctionPlan& plan, const BranchInput& in,
                        const std::vector<SectionFace>& faces, MeshBuild& build) {
  const SectionSettings& s = plan.section;
  const SweptBranch branch = SweepBranch(in, s, plan.layers, plan.circularProfile, plan.linearProfile);
  build.Append(branch.nodes, CountSection(s.firstRing, s.innerRings, s.outerLayers).nodes,
               plan.layers + 1, faces, {}, false);
  return branch.farNode;
}

}  // namespace vela
