#include "corner/corner_sweep.h"

#include <VelaRunnerMapping.h>

#include "mapper/module_state.h"
#include "sweep/point_rotation.h"
#include "vec3.h"

#include <cmath>

namespace vela {

namespace {
constexpr double kPi = 3.141592653589793;
}

HalfSectionCounts CountHalfSection(int halfRing, int innerRings, int outerLayers) {
  const int h = halfRing, c = innerRings, b = outerLayers;
  HalfSectionCounts counts;
  counts.innerDiscNodes = 1;
  for (int l = 1; l <= c; ++l) counts.innerDiscNodes += l * h + 1;
  counts.nodes = counts.innerDiscNodes + b * (c * h + 1);
  counts.faces = h;
  for (int l = 1; l <= c - 1; ++l) counts.faces += (2 * l + 1) * h;
  counts.faces += b * c * h;
  return counts;
}

std::vector<SectionFace> HalfSectionFaces(int halfRing, int innerRings, int outerLayers) {
  const int h = halfRing, c = innerRings, b = outerLayers;
  const HalfSectionCounts counts = CountHalfSection(h, c, b);
  std::vector<SectionFace> faces;
  faces.reserve(static_cast<size_t>(counts.faces) + 1);
  faces.push_back({0, 0, 0, 0});
  auto triangle = [&](int a, int p, int q) { faces.push_back({a, p, q, q}); };

  for (int l = 1; l <= h; ++l) triangle(1, l + 1, l + 2);

  int ringStart = 2;  // first node of ring l
  for (int l = 1; l <= c - 1; ++l) {
    const int nextStart = ringStart + l * h + 1;
    int a = ringStart - 1;
    int o = nextStart - 1;
    for (int s = 1; s <= l * h; ++s) {
      ++a;
      ++o;
      triangle(a, o, o + 1);
      triangle(a, o + 1, a + 1);
      // Ring l+1 has h more segments than ring l: every l-th node takes one.
      if (s % l == 0) {
        triangle(a + 1, o + 1, o + 2);
        ++o;
      }
    }
    ringStart = nextStart;
  }

  const int w = c * h + 1;
  for (int l = 1; l <= b; ++l) {
    const int t = counts.innerDiscNodes + (l - 1) * w;
    for (int k = 1; k <= c * h; ++k) faces.push_back({t - w + k, t + k, t + k + 1, t - w + k + 1});
  }
  return faces;
}

std::vector<bool> OnAxisNodes(int halfRing, int innerRings, int outerLayers) {
  const int h = halfRing, c = innerRings, b = outerLayers;
  const HalfSectionCounts counts = CountHalfSection(h, c, b);
  std::vector<bool> onAxis(static_cast<size_t>(counts.nodes) + 1, false);
  onAxis[1] = true;
  int first = 2;
  auto mark = [&](int ringNodes) {
    onAxis[static_cast<size_t>(first)] = true;
    onAxis[static_cast<size_t>(first + ringNodes - 1)] = true;
    first += ringNodes;
  };
  for (int l = 1; l <= c; ++l) mark(l * h + 1);
  for (int l = 1; l <= b; ++l) mark(c * h + 1);
  return onAxis;
}

std::array<int, 8> CornerElement(const SectionFace& face, const std::vector<bool>& onAxis,
                                 int lowerBase, int upperBase) {
  const bool triangle = face[2] == face[3];
  const int corners = triangle ? 3 : 4;
  int lo[4], up[4];
  bool axis[4];
  int onAxisCount = 0;
  for (int x = 0; x < corners; ++x) {
    lo[x] = lowerBase + face[static_cast<size_t>(x)];
    up[x] = upperBase + face[static_cast<size_t>(x)];
    axis[x] = onAxis[static_cast<size_t>(face[static_cast<size_t>(x)])];
    onAxisCount += axis[x] ? 1 : 0;
  }
  if (!triangle) {
    if (onAxisCount != 2) return {lo[0], lo[1], lo[2], lo[3], up[0], up[1], up[2], up[3]};
    if (axis[0]) return {lo[0], lo[3], up[3], lo[1], lo[2], up[2], 0, 0};
    return {lo[2], lo[1], up[1], lo[3], lo[0], up[0], 0, 0};
  }
  if (onAxisCount == 2) {
    const int x = !axis[0] ? 0 : !axis[1] ? 1 : 2;
    return {lo[0], lo[1], lo[2], up[x], 0, 0, 0, 0};
  }
  if (onAxisCount == 1) {
    if (!axis[2]) return {lo[1], up[1], up[2], lo[2], lo[0], 0, 0, 0};
    return {lo[1], lo[0], up[0], up[1], lo[2], 0, 0, 0};
  }
  return {lo[0], lo[1], lo[2], up[0], up[1], up[2], 0, 0};
}

}  // namespace vela

int CVelaRunnerMapping::RunnerCorner(const double* center, double* axis, double* radial,
                                     int innerCircleCount, int outerLayerCount, double innerShare,
                                     double outerShare, double sweepAngle, int stepCount,
                                     int halfCircleNodeCount) {
  const int c = innerCircleCount, b = outerLayerCount, n = stepCount, h = halfCircleNodeCount;
  const vela::HalfSectionCounts counts = vela::CountHalfSection(h, c, b);
  const int s = counts.nodes;
  // The driver sizes the arrays exactly; this guard keeps any other caller
  // from writing past them.
  if (m_nNodeCount + (n + 1) * s > m_nNodeCapacity ||
      m_nElementCount + n * counts.faces > m_nElementCapacity)
    return 0;

  for (double* v : {axis, radial}) {
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    v[0] = v[0] / length;
    v[1] = v[1] / length;
    v[2] = v[2] / length;
  }
  const double R = axis[3];
  const double rho = innerShare / (innerShare + outerShare);
  std::vector<double> inner(static_cast<size_t>(c) + 1), outer(static_cast<size_t>(b) + 1);
  for (int l = 1; l <= c; ++l) inner[static_cast<size_t>(l)] = m_aInnerLayer.GetAt(l);
  for (int l = 1; l <= b; ++l) outer[static_cast<size_t>(l)] = m_aOuterLayer.GetAt(l);

  std::vector<vela::Point3> nodes(static_cast<size_t>((n + 1) * s) + 1, vela::Point3{0.0, 0.0, 0.0});
  for (int k = 0; k <= n; ++k) {
    const double rk = radial[3] + ((radial[4] - radial[3]) * k) / n;
    const double phi = (sweepAngle / n) * k;
    const double sinPhi = std::sin(phi), cosPhi = std::cos(phi);
    int slot = k * s + 1;
    nodes[static_cast<size_t>(slot)] = {center[0], center[1], center[2]};
    auto ring = [&](double alpha, double beta, int segments) {
      for (int j = 0; j <= segments; ++j) {
        const double theta = (j * vela::kPi) / segments;
        const double ca = alpha * std::cos(theta), sb = beta * std::sin(theta);
        double p[3];
        for (int a = 0; a < 3; ++a) p[a] = (center[a] + ca * axis[a]) + sb * radial[a];
        vela::Point3& node = nodes[static_cast<size_t>(++slot)];
        if (k == 0)
          node = {p[0], p[1], p[2]};
        else
          RotatePointAboutAxis(sinPhi, cosPhi, axis, center, p, node.data());
      }
    };
    for (int l = 1; l <= c; ++l) {
      const double a = inner[static_cast<size_t>(l)];
      ring((R * rho) * a, (rk * rho) * a, l * h);
    }
    for (int l = 1; l <= b; ++l) {
      const double q = outer[static_cast<size_t>(l)];
      ring(R * rho + (R - R * rho) * q, rk * rho + (rk - rk * rho) * q, c * h);
    }
  }

  const std::vector<bool> onAxis = vela::OnAxisNodes(h, c, b);
  const int first = m_nNodeCount;
  for (int k = 0; k <= n; ++k) {
    for (int p = 1; p <= s; ++p) {
      ++m_nNodeCount;
      const vela::Point3& node = nodes[static_cast<size_t>(k * s + p)];
      m_pNodes[m_nNodeCount][0] = node[0];
      m_pNodes[m_nNodeCount][1] = node[1];
      m_pNodes[m_nNodeCount][2] = node[2];
      // The end sections meet the legs; the axis nodes repeat in every section.
      if (k == 0 || k == n || onAxis[static_cast<size_t>(p)]) g_pMergeCandidate[m_nNodeCount] = 1;
    }
  }
  const std::vector<vela::SectionFace> faces = vela::HalfSectionFaces(h, c, b);
  for (int t = 1; t <= n; ++t) {
    for (int f = 1; f <= counts.faces; ++f) {
      const std::array<int, 8> row = vela::CornerElement(faces[static_cast<size_t>(f)], onAxis,
                                                         first + (t - 1) * s, first + t * s);
      std::copy(row.begin(), row.end(), m_pElements[++m_nElementCount]);
    }
  }
  return 0;
}
