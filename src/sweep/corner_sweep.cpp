#include "sweep/corner_sweep.h"

#include "sweep/point_rotation.h"
#include "vec3.h"

#include <array>
#include <cmath>
#include <cstring>
#include <optional>

namespace vela {

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

SectionSize SizeHalfSection(int halfRing, int innerRings, int outerLayers) {
  const int h = halfRing, c = innerRings, b = outerLayers;
  return {1.0 + double(h) * c * (c + 1) / 2.0 + c + (double(c) * h + 1.0) * b,
          double(h) * c * c + double(c) * h * b};
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

std::vector<Point3> SweepCorner(const CornerInput& in, const SectionSettings& section) {
  std::vector<Point3> nodes;
  SweepCorner(in, section, nodes);
  return nodes;
}

void SweepCorner(const CornerInput& in, const SectionSettings& section, std::vector<Point3>& nodes) {
  const int c = section.innerRings, b = section.outerLayers, n = in.steps, h = in.halfRing;
  const int s = CountHalfSection(h, c, b).nodes;
  // Every rotation normalises the axis again in place, and the rings read
  // it as the rotations leave it.
  Point3 axis = Unit(in.axis);
  const Point3 radial = Unit(in.radial);
  const double R = in.axisRadius;
  const double rho = section.ioRatio;
  const std::vector<double>& inner = section.inner;
  const std::vector<double>& outer = section.outer;

  // The node angles of ring l (l * h segments; the outer layers as ring c)
  // are the same in every section: their cosines and sines are taken once,
  // ring after ring, and every section reads them.
  thread_local std::vector<std::array<double, 2>> trig;
  trig.clear();
  for (int l = 1; l <= c; ++l) {
    const int segments = l * h;
    for (int j = 0; j <= segments; ++j) {
      const double theta = (j * kPi) / segments;
      trig.push_back({std::cos(theta), std::sin(theta)});
    }
  }

  nodes.assign(static_cast<size_t>((n + 1) * s) + 1, Point3{0.0, 0.0, 0.0});
  for (int k = 0; k <= n; ++k) {
    const double rk = in.startRadius + ((in.endRadius - in.startRadius) * k) / n;
    const double phi = (in.sweepAngle / n) * k;
    const double sinPhi = std::sin(phi), cosPhi = std::cos(phi);
    int slot = k * s + 1;
    nodes[static_cast<size_t>(slot)] = in.center;
    // Each rotation is prepared from the axis as the one before left it, and
    // leaves it normalised again. Once normalising leaves the axis as it
    // was, to the last bit, every further node would prepare the same
    // rotation: it is prepared again only when the axis has moved.
    std::optional<AxisRotation> rotation;
    Point3 preparedFrom{};
    auto rotate = [&](const double* p, double* out) {
      if (!rotation || std::memcmp(preparedFrom.data(), axis.data(), sizeof(Point3)) != 0) {
        preparedFrom = axis;
        rotation.emplace(sinPhi, cosPhi, axis.data(), in.center.data());
        if (!(sinPhi == 0.0 && cosPhi == 1.0))
          for (size_t a = 0; a < 3; ++a) axis[a] = rotation->Axis()[a];
      }
      rotation->Apply(p, out);
    };
    size_t ringStart = 0;  // ring l's first entry of trig
    auto ring = [&](double alpha, double beta, int segments, size_t first) {
      for (int j = 0; j <= segments; ++j) {
        const std::array<double, 2>& angle = trig[first + static_cast<size_t>(j)];
        const double ca = alpha * angle[0], sb = beta * angle[1];
        double p[3];
        for (size_t a = 0; a < 3; ++a) p[a] = (in.center[a] + ca * axis[a]) + sb * radial[a];
        Point3& node = nodes[static_cast<size_t>(++slot)];
        if (k == 0)
          node = {p[0], p[1], p[2]};
        else
          rotate(p, node.data());
      }
    };
    for (int l = 1; l <= c; ++l) {
      const double a = inner[static_cast<size_t>(l)];
      ring((R * rho) * a, (rk * rho) * a, l * h, ringStart);
      if (l < c) ringStart += static_cast<size_t>(l * h + 1);
    }
    for (int l = 1; l <= b; ++l) {
      const double q = outer[static_cast<size_t>(l)];
      ring(R * rho + (R - R * rho) * q, rk * rho + (rk - rk * rho) * q, c * h, ringStart);
    }
  }
}

}  // namespace vela
