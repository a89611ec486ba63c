#include "mapper/mesh_soundness.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace vela {

namespace {

// A corner whose three edges span less than this share of the box they would
// span at right angles counts as flat: far beyond the rounding of doubles, far
// below any element the sweeps make on purpose.
constexpr double kFlatCorner = 1e-9;

// One kind of element in fixed rows, so that a corner's neighbours and a
// face's corners are constants the compiler sees.
struct KindTables {
  int corners;
  int frameCount;
  int frames[8][4];  // the corner, then its three neighbours, right-handed
  int faceCount;
  int faceSize[6];
  int faces[6][4];   // each counter-clockwise seen from outside
};

// A pyramid's apex has four edges; its two diagonal tetrahedra stand in.
constexpr KindTables kTetra{4,
                            4,
                            {{0, 1, 2, 3}, {1, 2, 0, 3}, {2, 0, 1, 3}, {3, 0, 2, 1}},
                            4,
                            {3, 3, 3, 3},
                            {{0, 2, 1}, {0, 1, 3}, {1, 2, 3}, {2, 0, 3}}};
constexpr KindTables kPyramid{5,
                              6,
                              {{0, 1, 3, 4}, {1, 2, 0, 4}, {2, 3, 1, 4}, {3, 0, 2, 4}, {4, 1, 0, 2}, {4, 3, 2, 0}},
                              5,
                              {4, 3, 3, 3, 3},
                              {{0, 3, 2, 1}, {0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}}};
constexpr KindTables kPrism{6,
                            6,
                            {{0, 1, 2, 3}, {1, 2, 0, 4}, {2, 0, 1, 5}, {3, 5, 4, 0}, {4, 3, 5, 1}, {5, 4, 3, 2}},
                            5,
                            {3, 3, 4, 4, 4},
                            {{0, 2, 1}, {3, 4, 5}, {0, 1, 4, 3}, {1, 2, 5, 4}, {2, 0, 3, 5}}};
constexpr KindTables kHexa{8,
                           8,
                           {{0, 1, 3, 4},
                            {1, 2, 0, 5},
                            {2, 3, 1, 6},
                            {3, 0, 2, 7},
                            {4, 7, 5, 0},
                            {5, 4, 6, 1},
                            {6, 5, 7, 2},
                            {7, 6, 4, 3}},
                           6,
                           {4, 4, 4, 4, 4, 4},
                           {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}}};

// What follows from a kind's rows, worked out by the compiler: the edges its
// frames use, each once, with which of them every frame reads and which way
// round; and each face's corners as one bit apiece. A corner's edge read the
// other way is its exact negative: the determinant it gives is the same but
// for its sign, and the squared lengths are the same to the last bit.
struct EdgeTables {
  int count = 0;
  int from[12] = {}, to[12] = {};  // edge k is p[to[k]] - p[from[k]]
  int frameEdges[8][3] = {};
  double frameSign[8] = {};        // +1 or -1: the product of the three edges' turns
  unsigned faceMask[6] = {};       // the corners of each face, one bit each
};

constexpr EdgeTables EdgesOf(const KindTables& k) {
  EdgeTables t;
  for (int f = 0; f < k.frameCount; ++f) {
    t.frameSign[f] = 1.0;
    const int o = k.frames[f][0];
    for (int j = 0; j < 3; ++j) {
      const int a = k.frames[f][j + 1];
      int found = -1;
      double sign = 1.0;
      for (int e = 0; e < t.count; ++e) {
        if (t.from[e] == o && t.to[e] == a) found = e;
        if (t.from[e] == a && t.to[e] == o) {
          found = e;
          sign = -1.0;
        }
      }
      if (found < 0) {
        found = t.count++;
        t.from[found] = o;
        t.to[found] = a;
      }
      t.frameEdges[f][j] = found;
      t.frameSign[f] *= sign;
    }
  }
  for (int f = 0; f < k.faceCount; ++f)
    for (int i = 0; i < k.faceSize[f]; ++i) t.faceMask[f] |= 1u << k.faces[f][i];
  return t;
}

template <const KindTables& K>
struct Derived {
  static constexpr EdgeTables edges = EdgesOf(K);
};

int CornerCount(const int* row) {
  if (row[4] == 0) return 4;
  if (row[5] == 0) return 5;
  return row[6] == 0 ? 6 : 8;
}

const KindTables& TablesFor(int cornerCount) {
  switch (cornerCount) {
    case 4: return kTetra;
    case 5: return kPyramid;
    case 6: return kPrism;
    default: return kHexa;
  }
}

bool NamesANodeTwice(const int* row, int corners) {
  for (int a = 0; a < corners; ++a)
    for (int b = a + 1; b < corners; ++b)
      if (row[a] == row[b]) return true;
  return false;
}

// Where the compiler can build a function for wider vector instructions
// than the build's target and the processor tells which it has, the corners
// are judged with the widest: four elements to an instruction instead of two
// on x86-64. The arithmetic of each element is the same operations in the
// same order whichever instructions carry it, to the last bit; no multiply
// and add is fused (-ffp-contract=off, and no fused instructions are asked
// for).
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define VELA_WIDE_CORNERS 1
#define VELA_INLINED __attribute__((always_inline))
#else
#define VELA_WIDE_CORNERS 0
#define VELA_INLINED
#endif

// Elements of one kind are judged in batches: corner k's coordinates of
// every element side by side, one row per axis, so that each corner runs
// over the whole batch in the same operations, as vector instructions take
// them.
//
// The corners are judged in two looks. The first is in single precision,
// eight elements to a vector where double precision takes four, on the
// nodes less the first node, rounded to single once per check (SingleNodes).
// With G the largest shifted coordinate and M the widest of an element's
// spans along the axes, each shifted coordinate is within u G of its true
// value (u = 2^-24), each edge component within u (2 G + M), and the
// determinant of a corner within u M^2 (37 G + 49 M) of its own. A corner
// passes when its determinant clears M'^2 (kClearShare M' + kSlack G), M'
// being the span as rounded plus kReach G, which is at least M: the true
// determinant is then above 0.97 kClearShare M^3, positive by far, and its
// three edges, none longer than 1.8 M, leave kFlatCorner far behind. An
// element with a corner that does not clear it (near flat, turned, small
// beside G, or with M' out of the range where single precision keeps every
// product normal) takes the second look, the judgement itself: its corners
// in double precision, one by one. So the counts are those of double
// precision to the last bit, and the cells the sweeps make on purpose
// rarely need the second look.
constexpr int kBatch = 8;
constexpr float kClearShare = 1e-4f, kSlack = 1e-5f, kReach = 5e-7f;
constexpr float kLeastSpan = 1e-9f, kMostSpan = 1e11f;

#if defined(__GNUC__)
#define VELA_LANE_VECTORS 1
typedef float Float4 __attribute__((vector_size(4 * sizeof(float))));
typedef float Octet __attribute__((vector_size(kBatch * sizeof(float))));
typedef int Mask __attribute__((vector_size(kBatch * sizeof(int))));
#else
#define VELA_LANE_VECTORS 0
#endif

// The nodes as the first look reads them: each less the first node, in
// single precision, x y z and a fourth unused, so that a node is one read.
struct SingleNodes {
  const float* at = nullptr;  // four floats a node, 1-based as the nodes
  float slack = std::numeric_limits<float>::infinity();  // kSlack G, infinite where G is out of range
  float reach = 0.0f;                                    // kReach G
};

template <const KindTables& K>
struct CornerBatch {
  static constexpr const EdgeTables& E = Derived<K>::edges;
  const int* rows[kBatch];           // each element's row of node numbers
  const double (*nodes)[3] = nullptr;
  SingleNodes single;
  int count = 0;

  CornerBatch(const double (*meshNodes)[3], const SingleNodes& singleNodes)
      : nodes(meshNodes), single(singleNodes) {}

  // Only the row is kept as an element comes: its corners are read when the
  // batch is full, with the element's place in the batch a constant, so that
  // every corner read lands in its own fixed slot.
  void Add(const int* row) { rows[count++] = row; }

#if VELA_LANE_VECTORS
  // Corner k's shifted coordinates of the whole batch, one vector per axis:
  // the eight nodes read whole and turned from rows into columns.
  VELA_INLINED void Gather(int k, Octet (&xyz)[3]) const {
    Float4 n[kBatch];
    for (int l = 0; l < kBatch; ++l) std::memcpy(&n[l], single.at + 4 * rows[l][k], sizeof n[l]);
    // Nodes l and l + 4 side by side, each half of a vector then turned on
    // its own as vector instructions turn halves.
    const Octet p0 = __builtin_shufflevector(n[0], n[4], 0, 1, 2, 3, 4, 5, 6, 7);
    const Octet p1 = __builtin_shufflevector(n[1], n[5], 0, 1, 2, 3, 4, 5, 6, 7);
    const Octet p2 = __builtin_shufflevector(n[2], n[6], 0, 1, 2, 3, 4, 5, 6, 7);
    const Octet p3 = __builtin_shufflevector(n[3], n[7], 0, 1, 2, 3, 4, 5, 6, 7);
    const Octet xy01 = __builtin_shufflevector(p0, p1, 0, 8, 1, 9, 4, 12, 5, 13);   // x0 x1 y0 y1
    const Octet xy23 = __builtin_shufflevector(p2, p3, 0, 8, 1, 9, 4, 12, 5, 13);   // x2 x3 y2 y3
    const Octet zw01 = __builtin_shufflevector(p0, p1, 2, 10, 3, 11, 6, 14, 7, 15); // z0 z1 . .
    const Octet zw23 = __builtin_shufflevector(p2, p3, 2, 10, 3, 11, 6, 14, 7, 15); // z2 z3 . .
    xyz[0] = __builtin_shufflevector(xy01, xy23, 0, 1, 8, 9, 4, 5, 12, 13);
    xyz[1] = __builtin_shufflevector(xy01, xy23, 2, 3, 10, 11, 6, 7, 14, 15);
    xyz[2] = __builtin_shufflevector(zw01, zw23, 0, 1, 8, 9, 4, 5, 12, 13);
  }

  // Every corner's shifted coordinates, one vector per axis over the batch;
  // returns in clear what the corners must clear, or infinity where M' is
  // out of range (not a number included).
  VELA_INLINED void Corners(Octet (&g)[K.corners][3], Octet& clear) const {
    for (int k = 0; k < K.corners; ++k) Gather(k, g[k]);
    Octet widest = {};
    for (int a = 0; a < 3; ++a) {
      Octet lo = g[0][a], hi = g[0][a];
      for (int k = 1; k < K.corners; ++k) {
        lo = g[k][a] < lo ? g[k][a] : lo;
        hi = hi < g[k][a] ? g[k][a] : hi;
      }
      const Octet span = hi - lo;
      widest = widest < span ? span : widest;
    }
    const Octet reach = widest + single.reach;
    const Octet share = reach * reach * (kClearShare * reach + single.slack);
    const Octet infinity = Octet{} + std::numeric_limits<float>::infinity();
    clear = (reach > kLeastSpan) & (reach < kMostSpan) ? share : infinity;
  }

  // Edge k of every element. Every index is a constant here, so that the
  // compiler sees the rows apart.
  template <int k>
  static VELA_INLINED void Edge(const Octet (&g)[K.corners][3], Octet (&e)[E.count][3]) {
    constexpr int from = E.from[k], to = E.to[k];
    for (int a = 0; a < 3; ++a) e[k][a] = g[to][a] - g[from][a];
  }

  // Corner f of every element from its three edges, in the first look: marks
  // the elements whose corner does not clear its share (a determinant not
  // a number included). The sign turns the determinant of the edges as
  // stored into the corner's own.
  template <int f>
  static VELA_INLINED void Corner(const Octet (&e)[E.count][3], Octet clear, Mask& doubt) {
    constexpr int i = E.frameEdges[f][0], j = E.frameEdges[f][1], k = E.frameEdges[f][2];
    constexpr float sign = static_cast<float>(E.frameSign[f]);
    const Octet det = e[i][0] * (e[j][1] * e[k][2] - e[j][2] * e[k][1]) -
                      e[i][1] * (e[j][0] * e[k][2] - e[j][2] * e[k][0]) +
                      e[i][2] * (e[j][0] * e[k][1] - e[j][1] * e[k][0]);
    doubt |= ~(sign * det > clear);
  }

  template <int... k>
  static VELA_INLINED void Edges(const Octet (&g)[K.corners][3], Octet (&e)[E.count][3],
                                 std::integer_sequence<int, k...>) {
    (Edge<k>(g, e), ...);
  }
  template <int... f>
  static VELA_INLINED void Frames(const Octet (&e)[E.count][3], Octet clear, Mask& doubt,
                                  std::integer_sequence<int, f...>) {
    (Corner<f>(e, clear, doubt), ...);
  }
#endif

  // The second look: whether every corner of the element on row is positive
  // beyond rounding, det > kFlatCorner * |e1| |e2| |e3| squared so that no
  // root is taken, in double precision.
  bool Sound(const int* row) const {
    double e[E.count][3], squared[E.count];
    for (int k = 0; k < E.count; ++k) {
      const double* from = nodes[row[E.from[k]]];
      const double* to = nodes[row[E.to[k]]];
      for (int a = 0; a < 3; ++a) e[k][a] = to[a] - from[a];
      squared[k] = e[k][0] * e[k][0] + e[k][1] * e[k][1] + e[k][2] * e[k][2];
    }
    for (int f = 0; f < K.frameCount; ++f) {
      const int i = E.frameEdges[f][0], j = E.frameEdges[f][1], k = E.frameEdges[f][2];
      const double det = e[i][0] * (e[j][1] * e[k][2] - e[j][2] * e[k][1]) -
                         e[i][1] * (e[j][0] * e[k][2] - e[j][2] * e[k][0]) +
                         e[i][2] * (e[j][0] * e[k][1] - e[j][1] * e[k][0]);
      const double threshold = kFlatCorner * kFlatCorner * squared[i] * squared[j] * squared[k];
      if (!(E.frameSign[f] * det > 0.0 && det * det > threshold)) return false;
    }
    return true;
  }

  // The elements of the batch with a corner not positive beyond rounding.
  // Empties the batch.
  VELA_INLINED int Inverted() {
    int inverted = 0;
#if VELA_LANE_VECTORS
    // A part batch repeats its first element in the lanes it does not use.
    for (int l = count; l < kBatch; ++l) rows[l] = rows[0];
    Octet g[K.corners][3], clear;
    Corners(g, clear);
    Octet e[E.count][3];
    Edges(g, e, std::make_integer_sequence<int, E.count>());
    Mask doubt = {};
    Frames(e, clear, doubt, std::make_integer_sequence<int, K.frameCount>());
    for (int l = 0; l < count; ++l)
      if (doubt[l] != 0 && !Sound(rows[l])) ++inverted;
#else
    for (int l = 0; l < count; ++l)
      if (!Sound(rows[l])) ++inverted;
#endif
    count = 0;
    return inverted;
  }
};

thread_local CornerInstructions t_cornerInstructions = CornerInstructions::Widest;

#if VELA_WIDE_CORNERS
template <const KindTables& K>
__attribute__((target("avx2"))) int InvertedWide(CornerBatch<K>& batch) {
  return batch.Inverted();
}

bool WideCornersAvailable() {
  static const bool available = __builtin_cpu_supports("avx2") != 0;
  return available;
}
#endif

// The instructions that judge the corners, chosen once per check.
struct CornerJudge {
  bool wide = false;

  // The elements of a full or last batch with a corner not positive.
  template <const KindTables& K>
  int Inverted(CornerBatch<K>& batch) const {
#if VELA_WIDE_CORNERS
    if (wide) return InvertedWide(batch);
#endif
    return batch.Inverted();
  }
};

unsigned long long Word(int a, int b) {
  return (static_cast<unsigned long long>(static_cast<unsigned>(a)) << 32) | static_cast<unsigned>(b);
}

// Which way a face runs round its corners, in a few bits beside its sorted
// corners: two faces on the same corners run round them in opposite turns
// exactly when these bits differ in kTurnBit alone.
//
// Three corners run round one way or the other: kTurnBit is the parity of
// the times the turn climbs from a corner to the next. Four corners are
// also joined in one of three ways, told by which corner faces the
// smallest across the face (1, 2 or 3 for the second, third or fourth
// smallest; 0 on three corners); kTurnBit then says whether the smallest's
// next corner is below its previous one. Bits rather than the turn itself:
// they come from comparisons made side by side, where the turn from its
// smallest corner was a chain of selections, and a face is then 24 bytes
// instead of 40.
constexpr unsigned kAcrossBits = 3u, kTurnBit = 4u, kTurnBits = kAcrossBits | kTurnBit;
constexpr int kFaceShift = 3;  // above them, which face of its element it is

struct Face {
  unsigned long long high, low;  // the sorted corners packed, 0 for an absent fourth
  unsigned turn;                 // the kTurnBits, and the face's place in its element
  int element;                   // whose face it is

  bool SameCorners(const Face& other) const { return high == other.high && low == other.low; }
  bool OppositeTurn(const Face& other) const { return ((turn ^ other.turn) & kTurnBits) == kTurnBit; }
  int Place() const { return static_cast<int>(turn >> kFaceShift); }
  int Size() const { return (low & 0xFFFFFFFFull) == 0 ? 3 : 4; }
  int Corner(int i) const {
    const unsigned long long word = i < 2 ? high : low;
    return static_cast<int>(static_cast<unsigned>(i % 2 == 0 ? word >> 32 : word));
  }
};

// Face `place` of element `element`, on corners c (size of them, in the
// element's turn, all apart), filled in place: built aside and copied, a
// face costs more than its sorting. The sorted corners come from a fixed
// network of minima and maxima, without a branch.
template <int size>
inline VELA_INLINED void FillFace(Face& f, const int (&c)[size], int element, int place) {
  f.element = element;
  if constexpr (size == 3) {
    const unsigned climbs = static_cast<unsigned>(c[0] < c[1]) ^ static_cast<unsigned>(c[1] < c[2]) ^
                            static_cast<unsigned>(c[2] < c[0]);
    f.turn = climbs * kTurnBit | static_cast<unsigned>(place) << kFaceShift;
    const int lo = std::min(std::min(c[0], c[1]), c[2]);
    const int hi = std::max(std::max(c[0], c[1]), c[2]);
    const int mid = std::max(std::min(c[0], c[1]), std::min(std::max(c[0], c[1]), c[2]));
    f.high = Word(lo, mid);
    f.low = Word(hi, 0);
  } else {
    // The network sorts each diagonal first: the smallest corner is then at
    // one end of the diagonal with the smaller least end, and faces the
    // other end. Whether the smallest's next corner is below its previous:
    // c1 < c3 for the smallest at c0, c3 < c1 at c2, c2 < c0 at c1 and
    // c0 < c2 at c3. The first term answers for c0; c2 < c0 flips it for
    // c2, and the smallest on the other diagonal flips it again for c1 and
    // c3 (the corners being all apart).
    const int a = std::min(c[0], c[2]), b = std::max(c[0], c[2]);
    const int d = std::min(c[1], c[3]), e = std::max(c[1], c[3]);
    const bool smallestOnFirst = a < d;
    const unsigned bit = static_cast<unsigned>(c[1] < c[3]) ^ static_cast<unsigned>(c[2] < c[0]) ^
                         static_cast<unsigned>(!smallestOnFirst);
    const int lo = std::min(a, d), hi = std::max(b, e);
    const int x = std::max(a, d), y = std::min(b, e);
    const int second = std::min(x, y), third = std::max(x, y);
    const int across = smallestOnFirst ? b : e;
    const unsigned rank = 1u + static_cast<unsigned>(across > second) + static_cast<unsigned>(across > third);
    f.turn = rank | bit * kTurnBit | static_cast<unsigned>(place) << kFaceShift;
    f.high = Word(lo, second);
    f.low = Word(third, hi);
  }
}

bool AllCandidates(const Face& f, const unsigned char* candidates) {
  for (int i = 0; i < f.Size(); ++i)
    if (candidates[f.Corner(i)] == 0) return false;
  return true;
}

struct Edge {
  int lo, hi, forward;
};

// What the check keeps beside the mesh, per thread between calls: a
// thread's later junctions find it allocated and touched already.
struct Scratch {
  std::vector<Face> faces;
  std::vector<int> boundary;  // faces used once
  std::vector<Edge> edges;
  std::vector<int> table;     // open addressing: an item of each key met, or -1
  std::vector<int> users;     // per item: how many items share its key, 0 past the first
  std::vector<int> second;    // per first item: the second with its key
  std::vector<float> single;  // the nodes as the corners' first look reads them
};

thread_local Scratch t_scratch;

// Empties the hash table for count items, at least twice their number of
// slots, and makes room for their counts; returns the table's bits.
int PrepareTable(int count, Scratch& s) {
  int bits = 6;
  while ((size_t{1} << bits) < 2 * static_cast<size_t>(count)) ++bits;
  s.table.assign((size_t{1} << bits), -1);
  // Grown only: the faces and then the far fewer edges share these rows, and
  // a vector resized down and up again clears what it regrows.
  if (s.users.size() < static_cast<size_t>(count)) {
    s.users.resize(static_cast<size_t>(count));
    s.second.resize(static_cast<size_t>(count));
  }
  return bits;
}

// Calls group(first, second, users) once for every key among items
// 0..count-1: the first item with it, the second (-1 for none) and how many
// items have it. Items are filed by a hash of their key in a table of at
// least twice their number, so that a search meets few others.
template <typename HashOf, typename Same, typename Group>
void ForEachGroup(int count, HashOf hashOf, Same same, Group group, Scratch& s) {
  const int bits = PrepareTable(count, s);
  const size_t mask = (size_t{1} << bits) - 1;
  int* table = s.table.data();
  int* users = s.users.data();
  int* second = s.second.data();
  for (int i = 0; i < count; ++i) {
    size_t slot = static_cast<size_t>(hashOf(i) >> (64 - bits));
    for (;; slot = (slot + 1) & mask) {
      const int first = table[slot];
      if (first < 0) {
        table[slot] = i;
        users[i] = 1;
        second[i] = -1;
        break;
      }
      if (same(first, i)) {
        if (++users[first] == 2) second[first] = i;
        users[i] = 0;
        break;
      }
    }
  }
  for (int i = 0; i < count; ++i)
    if (users[i] > 0) group(i, second[i], users[i]);
}

// A hash of two 64-bit words, its high bits the well mixed ones.
unsigned long long HashOf(unsigned long long high, unsigned long long low) {
  return (high * 0x9E3779B97F4A7C15ull ^ low) * 0xC2B2AE3D27D4EB4Full;
}

// Files the collected faces by their corners, counting as it goes what
// their sharing tells: a second face on the same corners must run round
// them the other way, and a third makes the face over-shared (its pair is
// then judged no longer). The faces used once are the boundary's, kept in
// s.boundary; those all of whose corners are candidates are junction
// sections that nothing covers. A pair is judged as its second face comes,
// so that the pass after the filing only picks out the faces used once.
void GroupFaces(int count, const unsigned char* candidates, MeshSoundness& out, Scratch& s) {
  const int bits = PrepareTable(count, s);
  const size_t mask = (size_t{1} << bits) - 1;
  const Face* faces = s.faces.data();
  int* table = s.table.data();
  int* users = s.users.data();
  int* second = s.second.data();
  for (int i = 0; i < count; ++i) {
    const Face& face = faces[i];
    size_t slot = static_cast<size_t>(HashOf(face.high, face.low) >> (64 - bits));
    for (;; slot = (slot + 1) & mask) {
      const int first = table[slot];
      if (first < 0) {
        table[slot] = i;
        users[i] = 1;
        break;
      }
      if (!faces[first].SameCorners(face)) continue;
      users[i] = 0;
      const int sharing = ++users[first];
      if (sharing == 2) {
        second[first] = i;
        if (!faces[first].OppositeTurn(face)) ++out.sameTurnFaces;
      } else if (sharing == 3) {
        ++out.overSharedFaces;
        if (!faces[first].OppositeTurn(faces[second[first]])) --out.sameTurnFaces;
      }
      break;
    }
  }
  for (int i = 0; i < count; ++i) {
    if (users[i] != 1) continue;
    if (AllCandidates(faces[i], candidates)) ++out.openSectionFaces;
    s.boundary.push_back(i);
  }
}

// The corners of face f in its element's turn, their number returned.
int CycleOf(const Face& f, const int (*elements)[8], int (&cycle)[4]) {
  const int* row = elements[f.element];
  const KindTables& kind = TablesFor(CornerCount(row));
  const int place = f.Place();
  for (int i = 0; i < kind.faceSize[place]; ++i) cycle[i] = row[kind.faces[place][i]];
  return kind.faceSize[place];
}

// Edges of boundary faces that touch a candidate: each must be closed by
// exactly one other boundary face running the other way.
int OpenEdges(Scratch& s, const int (*elements)[8], const unsigned char* candidates) {
  s.edges.clear();
  for (int index : s.boundary) {
    int cycle[4];
    const int size = CycleOf(s.faces[static_cast<size_t>(index)], elements, cycle);
    for (int i = 0; i < size; ++i) {
      const int a = cycle[i];
      const int b = cycle[i + 1 < size ? i + 1 : 0];
      if (candidates[a] == 0 && candidates[b] == 0) continue;
      s.edges.push_back({std::min(a, b), std::max(a, b), a < b ? 1 : 0});
    }
  }
  const Edge* edges = s.edges.data();
  int open = 0;
  ForEachGroup(
      static_cast<int>(s.edges.size()), [edges](int i) { return HashOf(Word(edges[i].lo, edges[i].hi), 0); },
      [edges](int x, int y) { return edges[x].lo == edges[y].lo && edges[x].hi == edges[y].hi; },
      [&](int first, int second, int users) {
        if (users != 2 || edges[first].forward == edges[second].forward) ++open;
      },
      s);
  return open;
}

// Face f of an element of kind K, collected where it touches a candidate.
template <const KindTables& K, int f>
void TakeFace(const int* row, int element, unsigned touching, Scratch& s, int& faceCount) {
  constexpr const EdgeTables& E = Derived<K>::edges;
  if ((touching & E.faceMask[f]) == 0) return;
  constexpr int size = K.faceSize[f];
  int c[size];
  for (int i = 0; i < size; ++i) c[i] = row[K.faces[f][i]];
  FillFace<size>(s.faces[static_cast<size_t>(faceCount++)], c, element, f);
}

template <const KindTables& K, int... f>
void TakeFaces(const int* row, int element, unsigned touching, Scratch& s, int& faceCount,
               std::integer_sequence<int, f...>) {
  // Room for every face of the element, so that none is checked for it.
  if (s.faces.size() < static_cast<size_t>(faceCount + K.faceCount))
    s.faces.resize(std::max<size_t>(2 * s.faces.size(), 64));
  (TakeFace<K, f>(row, element, touching, s, faceCount), ...);
}

// One element of kind K: counted collapsed, or batched for its corners, and
// where it touches a candidate its faces that do collected.
template <const KindTables& K>
void Take(const int* row, int element, const unsigned char* candidates, const CornerJudge& judge,
          CornerBatch<K>& batch, MeshSoundness& out, Scratch& s, int& faceCount) {
  // The merge joins candidates only: an element with none is as the sweep
  // made it, its corners distinct and its faces those of the pattern. Most
  // elements have none, which one pass of ors tells; only the others learn
  // which corners are candidates.
  unsigned any = 0;
  for (int k = 0; k < K.corners; ++k) any |= candidates[row[k]];
  unsigned touching = 0;
  if (any != 0) {
    for (int k = 0; k < K.corners; ++k) touching |= (candidates[row[k]] != 0 ? 1u : 0u) << k;
    if (NamesANodeTwice(row, K.corners)) {
      ++out.collapsedElements;
      return;  // its faces and corners mean nothing
    }
  }
  batch.Add(row);
  if (batch.count == kBatch) out.invertedElements += judge.Inverted(batch);
  if (touching != 0)
    TakeFaces<K>(row, element, touching, s, faceCount, std::make_integer_sequence<int, K.faceCount>());
}

// Each node less the first, rounded to single precision, into at; returns
// the largest of them, G, and whether any is infinite or not a number,
// which every coordinate of a node not finite is (and one beyond single
// precision's range).
struct Shifted {
  float largest = 0.0f;
  bool anyNotFinite = false;
};

inline VELA_INLINED Shifted ShiftNodes(const double (*nodes)[3], int nodeCount, float* at) {
  Shifted out;
  if (nodeCount < 1) return out;
#if VELA_LANE_VECTORS
  typedef double Quad __attribute__((vector_size(4 * sizeof(double))));
  typedef double Pair __attribute__((vector_size(2 * sizeof(double))));
  typedef unsigned Bits4 __attribute__((vector_size(4 * sizeof(unsigned))));
  const Quad origin = {nodes[1][0], nodes[1][1], nodes[1][2], 0.0};
  Float4 largest = {};
  Bits4 carried = {};
  for (int n = 1; n <= nodeCount; ++n) {
    Pair xy;
    std::memcpy(&xy, nodes[n], sizeof xy);
    const Pair z = {nodes[n][2], 0.0};
    const Quad shifted = __builtin_shufflevector(xy, z, 0, 1, 2, 3) - origin;
    const Float4 g = __builtin_convertvector(shifted, Float4);
    std::memcpy(at + 4 * n, &g, sizeof g);
    Bits4 bits;
    std::memcpy(&bits, &g, sizeof bits);
    // Not finite: the exponent bits all set, and one more carries into the
    // top bit.
    carried |= (bits & 0x7F800000u) + 0x00800000u;
    bits &= 0x7FFFFFFFu;
    Float4 size;
    std::memcpy(&size, &bits, sizeof size);
    largest = largest < size ? size : largest;
  }
  out.largest = std::max(std::max(largest[0], largest[1]), largest[2]);
  out.anyNotFinite = ((carried[0] | carried[1] | carried[2]) >> 31) != 0;
#else
  const double* origin = nodes[1];
  for (int n = 1; n <= nodeCount; ++n) {
    for (int a = 0; a < 3; ++a) {
      const float g = static_cast<float>(nodes[n][a] - origin[a]);
      at[4 * n + a] = g;
      const float size = std::fabs(g);
      out.anyNotFinite |= !(size <= std::numeric_limits<float>::max());
      out.largest = out.largest < size ? size : out.largest;
    }
    at[4 * n + 3] = 0.0f;
  }
#endif
  return out;
}

#if VELA_WIDE_CORNERS
__attribute__((target("avx2"))) Shifted ShiftNodesWide(const double (*nodes)[3], int nodeCount, float* at) {
  return ShiftNodes(nodes, nodeCount, at);
}
#endif

// The nodes as the corners' first look reads them, kept in s; and whether
// some coordinate may be infinite or not a number.
SingleNodes SingleNodesOf(const double (*nodes)[3], int nodeCount, const CornerJudge& judge, Scratch& s,
                          bool& anyNotFinite) {
  const size_t size = 4 * (static_cast<size_t>(nodeCount) + 1);
  if (s.single.size() < size) s.single.resize(size);
  float* at = s.single.data();
#if VELA_WIDE_CORNERS
  const Shifted shifted = judge.wide ? ShiftNodesWide(nodes, nodeCount, at) : ShiftNodes(nodes, nodeCount, at);
#else
  static_cast<void>(judge);
  const Shifted shifted = ShiftNodes(nodes, nodeCount, at);
#endif
  anyNotFinite = shifted.anyNotFinite;
  SingleNodes single;
  single.at = at;
  if (!shifted.anyNotFinite && shifted.largest < kMostSpan) {
    single.slack = kSlack * shifted.largest;
    single.reach = kReach * shifted.largest;
  }
  return single;
}

// Nodes with a coordinate that is infinite or not a number: a finite x
// gives x - x == 0 exactly, an infinite one or one not a number gives not a
// number.
int NonFiniteNodes(const double (*nodes)[3], int nodeCount) {
  int count = 0;
  for (int n = 1; n <= nodeCount; ++n) {
    const double* p = nodes[n];
    const bool finite = (p[0] - p[0] == 0.0) & (p[1] - p[1] == 0.0) & (p[2] - p[2] == 0.0);
    count += finite ? 0 : 1;
  }
  return count;
}

}  // namespace

void UseCornerInstructions(CornerInstructions which) { t_cornerInstructions = which; }

double ShortestCandidateEdge(const double (*nodes)[3], const int (*elements)[8], int elementCount,
                             const unsigned char* candidates) {
  double shortestSq = std::numeric_limits<double>::infinity();
  for (int e = 1; e <= elementCount; ++e) {
    const int* row = elements[e];
    const KindTables& kind = TablesFor(CornerCount(row));
    for (int face = 0; face < kind.faceCount; ++face) {
      const int* local = kind.faces[face];
      const int size = kind.faceSize[face];
      for (int i = 0; i < size; ++i) {
        const int a = row[local[i]], b = row[local[(i + 1) % size]];
        if (candidates[a] == 0 || candidates[b] == 0 || a == b) continue;
        const double dx = nodes[a][0] - nodes[b][0], dy = nodes[a][1] - nodes[b][1],
                     dz = nodes[a][2] - nodes[b][2];
        shortestSq = std::min(shortestSq, dx * dx + dy * dy + dz * dz);
      }
    }
  }
  return std::sqrt(shortestSq);
}

MeshSoundness CheckMesh(const double (*nodes)[3], int nodeCount, const int (*elements)[8],
                        int elementCount, const unsigned char* candidates) {
  MeshSoundness out;
  CornerJudge judge;
#if VELA_WIDE_CORNERS
  judge.wide = t_cornerInstructions == CornerInstructions::Widest && WideCornersAvailable();
#endif
  Scratch& s = t_scratch;
  bool anyNotFinite = false;
  const SingleNodes single = SingleNodesOf(nodes, nodeCount, judge, s, anyNotFinite);
  if (anyNotFinite) out.nonFiniteNodes = NonFiniteNodes(nodes, nodeCount);

  // faces holds rows from earlier calls past faceCount: only the first
  // faceCount are this mesh's.
  int faceCount = 0;
  s.boundary.clear();
  CornerBatch<kTetra> tetra(nodes, single);
  CornerBatch<kPyramid> pyramid(nodes, single);
  CornerBatch<kPrism> prism(nodes, single);
  CornerBatch<kHexa> hexa(nodes, single);
  for (int e = 1; e <= elementCount; ++e) {
    const int* row = elements[e];
    switch (CornerCount(row)) {
      case 4: Take(row, e, candidates, judge, tetra, out, s, faceCount); break;
      case 5: Take(row, e, candidates, judge, pyramid, out, s, faceCount); break;
      case 6: Take(row, e, candidates, judge, prism, out, s, faceCount); break;
      default: Take(row, e, candidates, judge, hexa, out, s, faceCount);
    }
  }
  if (tetra.count > 0) out.invertedElements += judge.Inverted(tetra);
  if (pyramid.count > 0) out.invertedElements += judge.Inverted(pyramid);
  if (prism.count > 0) out.invertedElements += judge.Inverted(prism);
  if (hexa.count > 0) out.invertedElements += judge.Inverted(hexa);

  GroupFaces(faceCount, candidates, out, s);
  out.openBoundaryEdges = OpenEdges(s, elements, candidates);
  return out;
}

}  // namespace vela
