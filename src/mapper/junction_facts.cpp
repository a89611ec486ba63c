#include "mapper/junction_facts.h"

#include "mapper/refusal.h"

namespace vela {

namespace {

JunctionFacts FactsOf(const JunctionPlan& plan, const MeshBuild& build) {
  const SectionSettings& s = plan.section;
  JunctionFacts facts;
  facts.section = CountSection(s.firstRing, s.innerRings, s.outerLayers);
  facts.layers = plan.layers;
  facts.nodesBeforeMerge = build.NodeCount();
  facts.elementCount = build.ElementCount();
  facts.mergeTol = plan.mergeTol;
  return facts;
}

}  // namespace

std::optional<JunctionFacts> DescribeJunction(const JunctionSettings& settings,
                                              const JunctionCall& call, bool bend) {
  ClearRefusal();
  if (bend) {
    const std::optional<BendPlan> plan = PlanBend(settings, call);
    if (!plan) return std::nullopt;
    return FactsOf(*plan, *SweepBend(*plan));
  }
  const std::optional<NWayPlan> plan = PlanNWay(settings, call);
  if (!plan) return std::nullopt;
  std::vector<ON_3fPoint> farNodes(static_cast<size_t>(plan->RunnerCount()));
  return FactsOf(*plan, *SweepNWay(*plan, farNodes.data()));
}

}  // namespace vela
