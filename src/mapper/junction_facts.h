#pragma once

// What a junction call builds, for the reports of the tool, the tests and the
// benchmarks, so that none of them repeats the library's formulas: the
// section counts, the element layers, what the sweeps store before merging
// and the tolerance the merge joins nodes within.

#include "mapper/junction_plan.h"
#include "sweep/section_pattern.h"

#include <optional>

namespace vela {

struct JunctionFacts {
  SectionCounts section;     // one full cross-section
  int layers = 0;            // element layers along a branch or leg
  int nodesBeforeMerge = 0;  // every node the sweeps stored
  int elementCount = 0;      // the merge keeps every element
  double mergeTol = 0.0;
};

// Plans and sweeps the junction as TwoConnectRunner (bend) or NConnectRunner
// would, without merging. Empty, with the refusal recorded, where the call
// refuses before sweeping; a junction that sweeps may still be refused after
// merging (unsound-result).
std::optional<JunctionFacts> DescribeJunction(const JunctionSettings& settings,
                                              const JunctionCall& call, bool bend);

}  // namespace vela
