#include "mapper/junction_facts.h"

#include "mapper/refusal.h"

namespace vela {

std::optional<JunctionFacts> DescribeJunction(const JunctionSettings& settings,
                                              const JunctionCall& call, bool bend) {
  ClearRefusal();
  JunctionFacts facts;
  std::unique_ptr<MeshBuild> build;
  const JunctionPlan* plan = nullptr;
  std::optional<BendPlan> bendPlan;
  std::optional<NWayPlan> nWayPlan;
  if (bend) {
    bendPlan = PlanBend(settings, call);
    if (!bendPlan) return std::nullopt;
    build = SweepBend(*bendPlan);
    plan = &*bendPlan;
  } else {
    nWayPlan = PlanNWay(settings, call);
    if (!nWayPlan) return std::nullopt;
    std::vector<ON_3fPoint> farNodes(static_cast<size_t>(nWayPlan->RunnerCount()));
    build = SweepNWay(*nWayPlan, farNodes.data());
    plan = &*nWayPlan;
  }
  const SectionSettings& s = plan->section;
  facts.section = CountSection(s.firstRing, s.innerRings, s.outerLayers);
  facts.layers = plan->layers;
  facts.nodesBeforeMerge = build->NodeCount();
  facts.elementCount = build->ElementCount();
  facts.mergeTol = plan->mergeTol;
  return facts;
}

}  // namespace vela
