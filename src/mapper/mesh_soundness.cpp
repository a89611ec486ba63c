#include "mapper/mesh_soundness.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace vela {

namespace {

// A corner whose three edges span less than this share of the box they would
// span at right angles counts as flat: far beyond the rounding of doubles, far
// below any element the sweeps make on purpose.
constexpr double kFlatCorner = 1e-9;

using Corner = std::array<int, 4>;  // the corner, then its three neighbours, right-handed

struct KindTables {
  int corners;
  std::vector<Corner> frames;
  std::vector<std::vector<int>> faces;  // each counter-clockwise seen from outside
};

const KindTables& TablesFor(int cornerCount) {
  // A pyramid's apex has four edges; its two diagonal tetrahedra stand in.
  static const KindTables tetra{4,
                                {{0, 1, 2, 3}, {1, 2, 0, 3}, {2, 0, 1, 3}, {3, 0, 2, 1}},
                                {{0, 2, 1}, {0, 1, 3}, {1, 2, 3}, {2, 0, 3}}};
  static const KindTables pyramid{
      5,
      {{0, 1, 3, 4}, {1, 2, 0, 4}, {2, 3, 1, 4}, {3, 0, 2, 4}, {4, 1, 0, 2}, {4, 3, 2, 0}},
      {{0, 3, 2, 1}, {0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}}};
  static const KindTables prism{
      6,
      {{0, 1, 2, 3}, {1, 2, 0, 4}, {2, 0, 1, 5}, {3, 5, 4, 0}, {4, 3, 5, 1}, {5, 4, 3, 2}},
      {{0, 2, 1}, {3, 4, 5}, {0, 1, 4, 3}, {1, 2, 5, 4}, {2, 0, 3, 5}}};
  static const KindTables hexa{8,
                               {{0, 1, 3, 4},
                                {1, 2, 0, 5},
                                {2, 3, 1, 6},
                                {3, 0, 2, 7},
                                {4, 7, 5, 0},
                                {5, 4, 6, 1},
                                {6, 5, 7, 2},
                                {7, 6, 4, 3}},
                               {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}}};
  switch (cornerCount) {
    case 4: return tetra;
    case 5: return pyramid;
    case 6: return prism;
    default: return hexa;
  }
}

int CornerCount(const int* row) {
  if (row[4] == 0) return 4;
  if (row[5] == 0) return 5;
  return row[6] == 0 ? 6 : 8;
}

bool NamesANodeTwice(const int* row, int corners) {
  for (int a = 0; a < corners; ++a)
    for (int b = a + 1; b < corners; ++b)
      if (row[a] == row[b]) return true;
  return false;
}

// The corners of one element, read once.
struct ElementCorners {
  double p[8][3];
  int count;
};

ElementCorners ReadCorners(const double (*nodes)[3], const int* row, int count) {
  ElementCorners c;
  c.count = count;
  for (int k = 0; k < count; ++k)
    for (int a = 0; a < 3; ++a) c.p[k][a] = nodes[row[k]][a];
  return c;
}

// Positive beyond rounding: det > kFlatCorner * |e1| |e2| |e3|, squared so
// that no root is taken.
bool CornerPositive(const double* p, const double* a, const double* b, const double* c) {
  const double e1[3] = {a[0] - p[0], a[1] - p[1], a[2] - p[2]};
  const double e2[3] = {b[0] - p[0], b[1] - p[1], b[2] - p[2]};
  const double e3[3] = {c[0] - p[0], c[1] - p[1], c[2] - p[2]};
  const double det = e1[0] * (e2[1] * e3[2] - e2[2] * e3[1]) -
                     e1[1] * (e2[0] * e3[2] - e2[2] * e3[0]) +
                     e1[2] * (e2[0] * e3[1] - e2[1] * e3[0]);
  if (!(det > 0.0)) return false;
  const double s1 = e1[0] * e1[0] + e1[1] * e1[1] + e1[2] * e1[2];
  const double s2 = e2[0] * e2[0] + e2[1] * e2[1] + e2[2] * e2[2];
  const double s3 = e3[0] * e3[0] + e3[1] * e3[1] + e3[2] * e3[2];
  return det * det > kFlatCorner * kFlatCorner * s1 * s2 * s3;
}

bool ElementPositive(const double (*nodes)[3], const int* row, const KindTables& kind) {
  const ElementCorners c = ReadCorners(nodes, row, kind.corners);
  for (const Corner& f : kind.frames)
    if (!CornerPositive(c.p[f[0]], c.p[f[1]], c.p[f[2]], c.p[f[3]])) return false;
  return true;
}

struct Face {
  std::array<int, 4> key;    // corners sorted, 0 for the absent fourth
  std::array<int, 4> cycle;  // in the element's turn, starting at the smallest corner
  int size;
  unsigned long long high, low;  // the sorted corners packed, for a cheap sort

  bool SameCorners(const Face& other) const { return high == other.high && low == other.low; }
};

Face MakeFace(const int* row, const std::vector<int>& local) {
  Face f{{0, 0, 0, 0}, {0, 0, 0, 0}, static_cast<int>(local.size()), 0, 0};
  int start = 0;
  for (int i = 0; i < f.size; ++i) {
    f.key[static_cast<size_t>(i)] = row[local[static_cast<size_t>(i)]];
    if (f.key[static_cast<size_t>(i)] < f.key[static_cast<size_t>(start)]) start = i;
  }
  for (int i = 0; i < f.size; ++i)
    f.cycle[static_cast<size_t>(i)] = row[local[static_cast<size_t>((start + i) % f.size)]];
  std::sort(f.key.begin(), f.key.begin() + f.size);
  auto word = [](int a, int b) {
    return (static_cast<unsigned long long>(static_cast<unsigned>(a)) << 32) | static_cast<unsigned>(b);
  };
  f.high = word(f.key[0], f.key[1]);
  f.low = word(f.key[2], f.key[3]);
  return f;
}

// Two faces on the same corners that run round them in opposite turns.
bool OppositeTurns(const Face& a, const Face& b) {
  if (a.size != b.size) return false;
  for (int i = 1; i < a.size; ++i)
    if (a.cycle[static_cast<size_t>(i)] != b.cycle[static_cast<size_t>(a.size - i)]) return false;
  return true;
}

bool TouchesCandidate(const int* row, const std::vector<int>& local, const unsigned char* candidates) {
  for (int c : local)
    if (candidates[row[c]] != 0) return true;
  return false;
}

bool TouchesCandidate(const int* row, int corners, const unsigned char* candidates) {
  for (int c = 0; c < corners; ++c)
    if (candidates[row[c]] != 0) return true;
  return false;
}

bool AllCandidates(const Face& f, const unsigned char* candidates) {
  for (int i = 0; i < f.size; ++i)
    if (candidates[f.key[static_cast<size_t>(i)]] == 0) return false;
  return true;
}

// Edges of boundary faces that touch a candidate: each must be closed by
// exactly one other boundary face running the other way.
int OpenEdges(const std::vector<Face>& boundary, const unsigned char* candidates) {
  struct Edge {
    int lo, hi, forward;
  };
  // Kept between calls: fresh pages for every junction cost more than the check.
  thread_local std::vector<Edge> edges;
  edges.clear();
  for (const Face& f : boundary)
    for (int i = 0; i < f.size; ++i) {
      const int a = f.cycle[static_cast<size_t>(i)];
      const int b = f.cycle[static_cast<size_t>((i + 1) % f.size)];
      if (candidates[a] == 0 && candidates[b] == 0) continue;
      edges.push_back({std::min(a, b), std::max(a, b), a < b ? 1 : 0});
    }
  std::sort(edges.begin(), edges.end(), [](const Edge& x, const Edge& y) {
    return x.lo != y.lo ? x.lo < y.lo : x.hi < y.hi;
  });
  int open = 0;
  for (size_t i = 0; i < edges.size();) {
    size_t j = i;
    while (j < edges.size() && edges[j].lo == edges[i].lo && edges[j].hi == edges[i].hi) ++j;
    if (j - i != 2 || edges[i].forward == edges[i + 1].forward) ++open;
    i = j;
  }
  return open;
}

}  // namespace

double ShortestCandidateEdge(const double (*nodes)[3], const int (*elements)[8], int elementCount,
                             const unsigned char* candidates) {
  double shortestSq = std::numeric_limits<double>::infinity();
  for (int e = 1; e <= elementCount; ++e) {
    const int* row = elements[e];
    for (const std::vector<int>& local : TablesFor(CornerCount(row)).faces)
      for (size_t i = 0; i < local.size(); ++i) {
        const int a = row[local[i]], b = row[local[(i + 1) % local.size()]];
        if (candidates[a] == 0 || candidates[b] == 0 || a == b) continue;
        const double dx = nodes[a][0] - nodes[b][0], dy = nodes[a][1] - nodes[b][1],
                     dz = nodes[a][2] - nodes[b][2];
        shortestSq = std::min(shortestSq, dx * dx + dy * dy + dz * dz);
      }
  }
  return std::sqrt(shortestSq);
}

MeshSoundness CheckMesh(const double (*nodes)[3], int nodeCount, const int (*elements)[8],
                        int elementCount, const unsigned char* candidates) {
  MeshSoundness out;
  for (int n = 1; n <= nodeCount; ++n)
    if (!(std::isfinite(nodes[n][0]) && std::isfinite(nodes[n][1]) && std::isfinite(nodes[n][2])))
      ++out.nonFiniteNodes;

  // Kept between calls, like the edges: fresh pages for every junction cost
  // more than the check itself.
  thread_local std::vector<Face> faces;
  thread_local std::vector<Face> boundary;
  faces.clear();
  boundary.clear();
  for (int e = 1; e <= elementCount; ++e) {
    const int* row = elements[e];
    const KindTables& kind = TablesFor(CornerCount(row));
    // The merge joins candidates only: an element with none is as the sweep
    // made it, its corners distinct and its faces those of the pattern.
    const bool touched = TouchesCandidate(row, kind.corners, candidates);
    if (touched && NamesANodeTwice(row, kind.corners)) {
      ++out.collapsedElements;
      continue;  // its faces and corners mean nothing
    }
    if (!ElementPositive(nodes, row, kind)) ++out.invertedElements;
    if (!touched) continue;
    for (const std::vector<int>& local : kind.faces)
      if (TouchesCandidate(row, local, candidates)) faces.push_back(MakeFace(row, local));
  }

  // Sorted by their packed corners through a small key, not moved whole.
  struct Key {
    unsigned long long high, low;
    size_t face;
    bool operator<(const Key& other) const {
      return high != other.high ? high < other.high : (low != other.low ? low < other.low : face < other.face);
    }
  };
  thread_local std::vector<Key> keys;
  keys.clear();
  for (size_t i = 0; i < faces.size(); ++i) keys.push_back({faces[i].high, faces[i].low, i});
  std::sort(keys.begin(), keys.end());
  auto face = [&](size_t k) -> const Face& { return faces[keys[k].face]; };
  for (size_t i = 0; i < keys.size();) {
    size_t j = i;
    while (j < keys.size() && face(j).SameCorners(face(i))) ++j;
    if (j - i == 1) {
      if (AllCandidates(face(i), candidates)) ++out.openSectionFaces;
      boundary.push_back(face(i));
    } else if (j - i == 2) {
      if (!OppositeTurns(face(i), face(i + 1))) ++out.sameTurnFaces;
    } else {
      ++out.overSharedFaces;
    }
    i = j;
  }
  out.openBoundaryEdges = OpenEdges(boundary, candidates);
  return out;
}

}  // namespace vela
