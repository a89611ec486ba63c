#include "sweep/section_pattern.h"

namespace vela {

SectionCounts CountSection(int firstRing, int innerRings, int outerLayers) {
  const int f = firstRing, c = innerRings, b = outerLayers;
  SectionCounts counts;
  counts.nodes = 1;
  for (int i = 1; i <= c; ++i) counts.nodes += i * f;
  counts.innerDiscNodes = counts.nodes;
  counts.nodes += (c * f) * b;
  counts.faces = f;
  for (int i = 2; i <= c; ++i) counts.faces += (2 * i - 2) * f + f;
  counts.faces += (c * f) * b;
  return counts;
}

SectionSize SizeSection(int firstRing, int innerRings, int outerLayers) {
  const int f = firstRing, c = innerRings, b = outerLayers;
  return {1.0 + double(f) * c * (c + 1) / 2.0 + double(c) * f * b, double(f) * c * c + double(c) * f * b};
}

std::vector<SectionFace> SectionFaces(int firstRing, int innerRings, int outerLayers) {
  const int f = firstRing, c = innerRings, b = outerLayers;
  const SectionCounts counts = CountSection(f, c, b);
  std::vector<SectionFace> faces(static_cast<size_t>(counts.faces) + 1, SectionFace{0, 0, 0, 0});
  int row = 0;
  auto add = [&](int c1, int c2, int c3, int c4) { faces[static_cast<size_t>(++row)] = {c1, c2, c3, c4}; };

  for (int k = 1; k <= f; ++k) add(1, k + 1, k + 2, k + 2);
  faces[static_cast<size_t>(f)][2] = 2;  // the fan closes on the ring's first node
  faces[static_cast<size_t>(f)][3] = 2;

  // Ring i has i*F nodes and ring i+1 F more: every node of ring i carries two
  // triangles, and every i-th one a third that takes up the extra node.
  int a = 1;
  int o = f + 1;
  for (int i = 1; i <= c - 1; ++i) {
    const int ringNodes = i * f;
    for (int m = 1; m <= ringNodes; ++m) {
      ++a;
      ++o;
      const int aNext = m == ringNodes ? a + 1 - m : a + 1;
      add(a, o, o + 1, o + 1);
      add(a, o + 1, aNext, aNext);
      if (m % i == 0) {
        ++o;
        const int oNext = m == ringNodes ? o + 1 - m - f : o + 1;
        add(aNext, o, oNext, oNext);
      }
    }
  }

  const int ringNodes = c * f;
  int base = counts.innerDiscNodes;
  for (int j = 1; j <= b; ++j) {
    for (int k = 1; k <= ringNodes; ++k)
      add(base - ringNodes + k, base + k, base + k + 1, base - ringNodes + k + 1);
    faces[static_cast<size_t>(row)][2] = base + 1;
    faces[static_cast<size_t>(row)][3] = base - ringNodes + 1;
    base += ringNodes;
  }
  return faces;
}

std::array<int, 8> SweptElement(const SectionFace& face, const std::vector<bool>& onAxis,
                                int lowerBase, int upperBase) {
  std::array<int, 8> row;
  SweptElement(face, onAxis, lowerBase, upperBase, row.data());
  return row;
}

void SweptElement(const SectionFace& face, const std::vector<bool>& onAxis, int lowerBase, int upperBase,
                  int* out) {
  auto put = [out](int c0, int c1, int c2, int c3, int c4, int c5, int c6, int c7) {
    out[0] = c0;
    out[1] = c1;
    out[2] = c2;
    out[3] = c3;
    out[4] = c4;
    out[5] = c5;
    out[6] = c6;
    out[7] = c7;
  };
  const bool triangle = face[2] == face[3];
  const int corners = triangle ? 3 : 4;
  int lo[4], up[4];
  bool axis[4];
  int onAxisCount = 0;
  for (int x = 0; x < corners; ++x) {
    lo[x] = lowerBase + face[static_cast<size_t>(x)];
    up[x] = upperBase + face[static_cast<size_t>(x)];
    axis[x] = !onAxis.empty() && onAxis[static_cast<size_t>(face[static_cast<size_t>(x)])];
    onAxisCount += axis[x] ? 1 : 0;
  }
  if (!triangle) {
    if (onAxisCount != 2) return put(lo[0], lo[1], lo[2], lo[3], up[0], up[1], up[2], up[3]);
    if (axis[0]) return put(lo[0], lo[3], up[3], lo[1], lo[2], up[2], 0, 0);
    return put(lo[2], lo[1], up[1], lo[3], lo[0], up[0], 0, 0);
  }
  if (onAxisCount == 2) {
    const int x = !axis[0] ? 0 : !axis[1] ? 1 : 2;
    return put(lo[0], lo[1], lo[2], up[x], 0, 0, 0, 0);
  }
  if (onAxisCount == 1) {
    if (!axis[2]) return put(lo[1], up[1], up[2], lo[2], lo[0], 0, 0, 0);
    return put(lo[1], lo[0], up[0], up[1], lo[2], 0, 0, 0);
  }
  put(lo[0], lo[1], lo[2], up[0], up[1], up[2], 0, 0);
}

}  // namespace vela
