#include "JunctionMesher.h"

#include <VelaRunnerMapping.h>

#include <algorithm>

namespace vela::cli {

namespace {

ON_3fPoint ToFloat(const std::array<double, 3>& p) {
  return ON_3fPoint(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]));
}

CArray<double, double> ToArray(const std::vector<double>& values) {
  CArray<double, double> out;
  for (double v : values) out.Add(v);
  return out;
}

// Section counts as the library lays a cross-section out: F nodes on the
// first ring, C inner rings, B outer layers; the corner uses half of it.
// In 64 bits: the counts are the library's before merging, which it keeps
// within an int only after it has merged.
long long SectionNodes(long long f, long long c, long long b) { return 1 + f * c * (c + 1) / 2 + c * f * b; }
long long HalfSectionNodes(long long h, long long c, long long b) { return 1 + h * c * (c + 1) / 2 + c + (c * h + 1) * b; }

}  // namespace

MeshedJunction MeshJunction(const io::JunctionFile& junction) {
  CVelaRunnerMapping mapper;
  const CArray<double, double> inner = ToArray(junction.innerLayers);
  const CArray<double, double> outer = ToArray(junction.outerLayers);
  const CArray<double, double> radii = ToArray(junction.radii);
  CArray<ON_3fPoint, ON_3fPoint> far;
  for (const auto& p : junction.farPoints) far.Add(ToFloat(p));

  MeshedJunction out;
  // The setters refuse without a record; only a negative count can fail here.
  if (!mapper.SetFirstCircleNodeCount(junction.firstCircleNodes)) {
    out.refusal.reason = vela::Refusal::FirstRingTooSmall;
    return out;
  }
  mapper.SetIOBoundaryLayer(&inner, &outer);
  io::MeshDocument& doc = out.document;
  const ON_3fPoint center = ToFloat(junction.center);
  if (junction.IsBend()) {
    doc.kind = "bend";
    out.ok = mapper.TwoConnectRunner(center, &far, &radii, junction.innerShare, junction.outerShare, &doc.mesh);
  } else {
    doc.kind = "nway";
    std::vector<ON_3fPoint> farNodes(junction.farPoints.size());
    out.ok = mapper.NConnectRunner(center, &far, &radii, junction.innerShare, junction.outerShare, &doc.mesh,
                                   farNodes.data());
    for (const ON_3fPoint& p : farNodes) doc.farNodes.push_back({p.x, p.y, p.z});
  }
  if (!out.ok) {
    out.refusal = vela::LastJunctionRefusal();
    return out;
  }

  const long long f = junction.firstCircleNodes;
  const long long c = static_cast<long long>(junction.innerLayers.size()) - 1;
  const long long b = std::max(static_cast<long long>(junction.outerLayers.size()) - 1, 0LL);
  const long long sections = 6;  // five element layers per branch, five corner steps
  out.nodesBeforeMerge = junction.IsBend()
                             ? 2 * sections * SectionNodes(f, c, b) + sections * HalfSectionNodes(f / 2, c, b)
                             : junction.RunnerCount() * sections * SectionNodes(f, c, b);
  return out;
}

std::vector<double> RunnerLengths(const io::JunctionFile& junction) {
  if (junction.margin[1] == 0) return {};
  CVelaRunnerMapping mapper;
  CArray<ON_3fPoint, ON_3fPoint> far;
  CArray<double, double> radii, lengths;
  for (int i = 0; i < junction.RunnerCount(); ++i) {
    far.Add(ToFloat(junction.farPoints[static_cast<size_t>(i)]));
    radii.Add(junction.radii[static_cast<size_t>(2 * i)]);
  }
  lengths.SetSize(far.GetSize());
  mapper.RunnerLength(ToFloat(junction.center), &far, &radii, junction.margin[0], &lengths, junction.margin[1]);
  std::vector<double> out;
  for (int i = 0; i < lengths.GetSize(); ++i) out.push_back(lengths.GetAt(i));
  return out;
}

}  // namespace vela::cli
