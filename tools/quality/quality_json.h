#pragma once

// The quality report's verdict as JSON, the one shape every host prints it
// in: vela-mesh's --json summaries and the Python module's quality() return
// the same keys, so a script written against one reads the other.

#include "quality.h"

#include <nlohmann/json.hpp>

namespace vela::quality {

// {"faults": {fault name: count, ... every class}, "has_faults",
//  "min_scaled_jacobian", "by_kind": {kind: {"count", "min_scaled_jacobian",
//  "mean_scaled_jacobian"}, ... the kinds the mesh has}, "finite_volume":
//  {"cells", "internal_faces", "min_determinant", "min_interpolation_weight",
//  "max_non_orthogonality" (degrees), "max_skewness"}, "limits":
//  {"min_scaled_jacobian", "min_determinant", "min_interpolation_weight",
//  "max_non_orthogonality", "max_skewness"; null where the report judged
//  nothing}, "volume", "coincidence_tolerance"}, keys in this order.
nlohmann::ordered_json QualityJson(const QualityReport& report);

}  // namespace vela::quality
