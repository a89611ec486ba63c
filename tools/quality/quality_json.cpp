#include "quality_json.h"

#include <cmath>

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
  // An infinite limit judges nothing; JSON has no infinity, and null says as much.
  auto limit = [](double value) { return std::isfinite(value) ? nlohmann::ordered_json(value) : nullptr; };
  const Limits& l = report.limits;
  const FiniteVolumeMeasures& fv = report.finiteVolume;
  return {{"faults", faults},
          {"has_faults", HasFaults(report)},
          {"min_scaled_jacobian", SmallestScaledJacobian(report)},
          {"by_kind", byKind},
          {"finite_volume",
           {{"cells", fv.cells},
            {"internal_faces", fv.internalFaces},
            {"min_determinant", fv.minDeterminant},
            {"min_interpolation_weight", fv.minWeight},
            {"max_non_orthogonality", fv.maxNonOrthogonality},
            {"max_skewness", fv.maxSkewness}}},
          {"limits",
           {{"min_scaled_jacobian", limit(l.minScaledJacobian)},
            {"min_determinant", limit(l.minDeterminant)},
            {"min_interpolation_weight", limit(l.minWeight)},
            {"max_non_orthogonality", limit(l.maxNonOrthogonality)},
            {"max_skewness", limit(l.maxSkewness)},
            {"min_face_tet", limit(l.minFaceTet)}}},
          {"volume", report.volume},
          {"coincidence_tolerance", report.mergeTol}};
}

}  // namespace vela::quality
