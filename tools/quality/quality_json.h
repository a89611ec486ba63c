#pragma once

// The quality report's verdict as JSON, the one shape every host prints it
// in: vela-mesh's --json summaries and the Python module's quality() return
// the same keys, so a script written against one reads the other.

#include "quality.h"

#include <nlohmann/json.hpp>

namespace vela::quality {

// {"faults": {fault name: count, ... every class}, "has_faults",
//  "min_scaled_jacobian", "by_kind": {kind: {"count", "min_scaled_jacobian",
//  "mean_scaled_jacobian"}, ... the kinds the mesh has}, "volume",
//  "coincidence_tolerance"}, keys in this order.
nlohmann::ordered_json QualityJson(const QualityReport& report);

}  // namespace vela::quality
