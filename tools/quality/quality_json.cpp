#include "quality_json.h"

namespace vela::quality {

nlohmann::ordered_json QualityJson(const QualityReport& report) {
  nlohmann::ordered_json faults = nlohmann::ordered_json::object();
  for (int i = 0; i < kFaultClasses; ++i) {
    const auto fault = static_cast<Fault>(i);
    faults[FaultName(fault)] = report.Count(fault);
  }
  nlohmann::ordered_json byKind = nlohmann::ordered_json::object();
  for (const ElementKind kind : {ElementKind::Tetra, ElementKind::Pyramid, ElementKind::Prism, ElementKind::Hexa}) {
    const KindStats& stats = report.byKind[static_cast<size_t>(KindIndex(kind))];
    if (stats.count == 0) continue;
    byKind[ElementKindName(kind)] = {{"count", stats.count},
                                     {"min_scaled_jacobian", stats.minScaledJacobian},
                                     {"mean_scaled_jacobian", stats.meanScaledJacobian}};
  }
  return {{"faults", faults},
          {"has_faults", HasFaults(report)},
          {"min_scaled_jacobian", SmallestScaledJacobian(report)},
          {"by_kind", byKind},
          {"volume", report.volume},
          {"coincidence_tolerance", report.mergeTol}};
}

}  // namespace vela::quality
