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
// eight elements to a vector where double precision takes four: a corner
// passes it when its determinant clears kClearShare of M^3, M being the
// widest of the element's spans along the axes. Every coordinate is taken
// from the element's first corner's in double precision before it is
// rounded to single, so each edge component comes out within 3 single
// units of M of its true value, and the determinant within 5e-6 M^3 of
// its own: one that clears 1e-4 M^3 is positive by far, and its three
// edges, none longer than 1.8 M, leave kFlatCorner far behind. An element
// with a corner that does not clear it (near flat, turned, or with M out of
// the range where single precision keeps every product normal) takes the
// second look, the judgement itself: its corners in double precision, one
// by one. So the counts are those of double precision to the last bit, and
// the cells the sweeps make on purpose rarely need the second look.
constexpr int kBatch = 8;
constexpr float kClearShare = 1e-4f;
constexpr float kLeastSpan = 1e-9f, kMostSpan = 1e11f;

#if defined(__GNUC__)
#define VELA_LANE_VECTORS 1
typedef double Quad __attribute__((vector_size(4 * sizeof(double))));
typedef double Pair __attribute__((vector_size(2 * sizeof(double))));
typedef float Float4 __attribute__((vector_size(4 * sizeof(float))));
typedef float Octet __attribute__((vector_size(kBatch * sizeof(float))));
typedef int Mask __attribute__((vector_size(kBatch * sizeof(int))));
#else
#define VELA_LANE_VECTORS 0
#endif

template <const KindTables& K>
struct CornerBatch {
  static constexpr const EdgeTables& E = Derived<K>::edges;
  const int* rows[kBatch];           // each element's row of node numbers
  const double (*nodes)[3] = nullptr;
  int count = 0;

  explicit CornerBatch(const double (*meshNodes)[3]) : nodes(meshNodes) {}

  // Only the row is kept as an element comes: its corners are read when the
  // batch is full, with the element's place in the batch a constant, so that
  // every corner read lands in its own fixed slot.
  void Add(const int* row) { rows[count++] = row; }

#if VELA_LANE_VECTORS
  // Corner k's coordinates of elements h to h + 3, one vector per axis.
  VELA_INLINED void Gather(int k, int h, Quad (&xyz)[3]) const {
    const double* n0 = nodes[rows[h][k]];
    const double* n1 = nodes[rows[h + 1][k]];
    const double* n2 = nodes[rows[h + 2][k]];
    const double* n3 = nodes[rows[h + 3][k]];
    // x and y of a node are side by side: read as one pair, two nodes'
    // pairs make a vector and two such vectors interleave into the x and y
    // rows, where four single reads and their inserts per row cost about
    // half again as many instructions. z is read alone: a wider read would
    // pass the last node.
    Pair xy0, xy1, xy2, xy3;
    std::memcpy(&xy0, n0, sizeof xy0);
    std::memcpy(&xy1, n1, sizeof xy1);
    std::memcpy(&xy2, n2, sizeof xy2);
    std::memcpy(&xy3, n3, sizeof xy3);
    const Quad even = __builtin_shufflevector(xy0, xy2, 0, 1, 2, 3);  // x0 y0 x2 y2
    const Quad odd = __builtin_shufflevector(xy1, xy3, 0, 1, 2, 3);   // x1 y1 x3 y3
    xyz[0] = __builtin_shufflevector(even, odd, 0, 4, 2, 6);
    xyz[1] = __builtin_shufflevector(even, odd, 1, 5, 3, 7);
    const Pair z01 = {n0[2], n1[2]}, z23 = {n2[2], n3[2]};
    xyz[2] = __builtin_shufflevector(z01, z23, 0, 1, 2, 3);
  }

  // Every corner from the first, in single precision, one vector per axis
  // over the batch (r[0] is left alone); returns what the corners must
  // clear: kClearShare of the widest span cubed, or infinity where the span
  // is out of range (not a number included).
  VELA_INLINED void FromFirstCorner(Octet (&r)[K.corners][3], Octet& clear) const {
    Quad first[2][3];
    Gather(0, 0, first[0]);
    Gather(0, 4, first[1]);
    const Octet zero = {};
    Octet lo[3] = {zero, zero, zero}, hi[3] = {zero, zero, zero};
    for (int k = 1; k < K.corners; ++k) {
      Quad corner[2][3];
      Gather(k, 0, corner[0]);
      Gather(k, 4, corner[1]);
      for (int a = 0; a < 3; ++a) {
        const Float4 low = __builtin_convertvector(corner[0][a] - first[0][a], Float4);
        const Float4 high = __builtin_convertvector(corner[1][a] - first[1][a], Float4);
        r[k][a] = __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7);
        lo[a] = r[k][a] < lo[a] ? r[k][a] : lo[a];
        hi[a] = hi[a] < r[k][a] ? r[k][a] : hi[a];
      }
    }
    Octet widest = hi[0] - lo[0];
    for (int a = 1; a < 3; ++a) {
      const Octet span = hi[a] - lo[a];
      widest = widest < span ? span : widest;
    }
    const Octet share = kClearShare * widest * widest * widest;
    const Octet infinity = zero + std::numeric_limits<float>::infinity();
    clear = (widest > kLeastSpan) & (widest < kMostSpan) ? share : infinity;
  }

  // Edge k of every element. Every index is a constant here, so that the
  // compiler sees the rows apart.
  template <int k>
  static VELA_INLINED void Edge(const Octet (&r)[K.corners][3], Octet (&e)[E.count][3]) {
    constexpr int from = E.from[k], to = E.to[k];
    for (int a = 0; a < 3; ++a) {
      if constexpr (from == 0)
        e[k][a] = r[to][a];
      else if constexpr (to == 0)
        e[k][a] = -r[from][a];
      else
        e[k][a] = r[to][a] - r[from][a];
    }
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
  static VELA_INLINED void Edges(const Octet (&r)[K.corners][3], Octet (&e)[E.count][3],
                                 std::integer_sequence<int, k...>) {
    (Edge<k>(r, e), ...);
  }
  template <int... f>
  static VELA_INLINED void Corners(const Octet (&e)[E.count][3], Octet clear, Mask& doubt,
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
    Octet r[K.corners][3], clear;
    FromFirstCorner(r, clear);
    Octet e[E.count][3];
    Edges(r, e, std::make_integer_sequence<int, E.count>());
    Mask doubt = {};
    Corners(e, clear, doubt, std::make_integer_sequence<int, K.frameCount>());
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

// Whether any coordinate is infinite or not a number: its exponent bits
// are then all set, and adding one to the lowest of them carries into the
// top bit. Integer adds and ors only, which the compiler takes many at a
// time.
inline VELA_INLINED bool AnyNonFinite(const double (*nodes)[3], int nodeCount) {
  constexpr std::uint64_t kExponent = 0x7FF0000000000000ull, kExponentOne = 0x0010000000000000ull;
  std::uint64_t carried = 0;
  for (int n = 1; n <= nodeCount; ++n)
    for (int a = 0; a < 3; ++a) {
      std::uint64_t bits;
      std::memcpy(&bits, &nodes[n][a], sizeof bits);
      carried |= (bits & kExponent) + kExponentOne;
    }
  return (carried >> 63) != 0;
}

#if VELA_WIDE_CORNERS
__attribute__((target("avx2"))) bool AnyNonFiniteWide(const double (*nodes)[3], int nodeCount) {
  return AnyNonFinite(nodes, nodeCount);
}
#endif

// Nodes with a coordinate that is infinite or not a number, the search for
// any made with the same instructions as the corners.
int NonFiniteNodes(const double (*nodes)[3], int nodeCount, const CornerJudge& judge) {
#if VELA_WIDE_CORNERS
  const bool any = judge.wide ? AnyNonFiniteWide(nodes, nodeCount) : AnyNonFinite(nodes, nodeCount);
#else
  static_cast<void>(judge);
  const bool any = AnyNonFinite(nodes, nodeCount);
#endif
  if (!any) return 0;
  // Then, with some found, which nodes: a finite x gives x - x == 0
  // exactly, an infinite one or one not a number gives not a number.
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
  out.nonFiniteNodes = NonFiniteNodes(nodes, nodeCount, judge);

  Scratch& s = t_scratch;
  // faces holds rows from earlier calls past faceCount: only the first
  // faceCount are this mesh's.
  int faceCount = 0;
  s.boundary.clear();
  CornerBatch<kTetra> tetra(nodes);
  CornerBatch<kPyramid> pyramid(nodes);
  CornerBatch<kPrism> prism(nodes);
  CornerBatch<kHexa> hexa(nodes);
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
