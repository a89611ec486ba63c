// Crossing boundary faces. Branches that run into each other cut through each
// other's walls, however shallow the cut; sample points inside elements would
// need to be as fine as the cut is shallow. So the boundary surface is tested
// against itself: two boundary faces that share no node must not pass through
// each other.

#include "direction_grid.h"
#include "parallel.h"
#include "quality_detail.h"
#include "vec.h"

#include <algorithm>
#include <cmath>

namespace vela::quality::detail {

namespace {

// A segment crosses a triangle when its ends lie, and the triangle's corners
// lie around it, beyond this share of the measures' scale: far above
// rounding, far below any real cut.
constexpr double kCrossingMargin = 1e-9;


// One triangle of the boundary surface: a triangular face, or a quarter of a
// quadrilateral fanned from its centre.
struct Patch {
  std::array<Vec, 3> at{};
  Vec normal{};  // of the triangle's plane, unscaled
};

// Whether the segment pq passes through the inside of triangle abc, both
// beyond rounding: touching, grazing and lying in the plane do not count.
bool SegmentCrosses(const Vec& p, const Vec& q, const Vec& a, const Vec& b, const Vec& c) {
  const double scale = Norm(Cross(Sub(b, a), Sub(c, a))) * Norm(Sub(q, p));
  const double dp = Orient(a, b, c, p), dq = Orient(a, b, c, q);
  const double eps = kCrossingMargin * scale;
  if (!((dp > eps && dq < -eps) || (dp < -eps && dq > eps))) return false;
  const double side = std::max({Norm(Sub(b, a)), Norm(Sub(c, b)), Norm(Sub(a, c))});
  const double epsSide = kCrossingMargin * Norm(Sub(q, p)) * side * side;
  const double s0 = Orient(p, q, a, b), s1 = Orient(p, q, b, c), s2 = Orient(p, q, c, a);
  return (s0 > epsSide && s1 > epsSide && s2 > epsSide) || (s0 < -epsSide && s1 < -epsSide && s2 < -epsSide);
}

// Whether the corners of u all lie strictly on one side of t's plane, which
// settles most pairs before any segment is tried.
bool OneSide(const Patch& t, const Patch& u) {
  const double off = Dot(t.normal, t.at[0]);
  int above = 0, below = 0;
  for (const Vec& p : u.at) {
    const double d = Dot(t.normal, p) - off;
    above += d > 0.0 ? 1 : 0;
    below += d < 0.0 ? 1 : 0;
  }
  return above == 3 || below == 3;
}

bool PatchesCross(const Patch& t, const Patch& u) {
  if (OneSide(t, u) || OneSide(u, t)) return false;
  for (size_t k = 0; k < 3; ++k) {
    if (SegmentCrosses(t.at[k], t.at[(k + 1) % 3], u.at[0], u.at[1], u.at[2])) return true;
    if (SegmentCrosses(u.at[k], u.at[(k + 1) % 3], t.at[0], t.at[1], t.at[2])) return true;
  }
  return false;
}

// A face's triangles, quadrilaterals fanned from their centre.
struct Patches {
  int count = 0;
  std::array<Patch, 4> patch{};
};

Patches PatchesOf(const Piece& face) {
  Patches out;
  const auto add = [&](const Vec& a, const Vec& b, const Vec& c) {
    out.patch[static_cast<size_t>(out.count++)] = {{a, b, c}, Cross(Sub(b, a), Sub(c, a))};
  };
  if (face.corners == 3) {
    add(face.at[0], face.at[1], face.at[2]);
    return out;
  }
  Vec mid{};
  for (size_t k = 0; k < 4; ++k)
    for (size_t a = 0; a < 3; ++a) mid[a] += 0.25 * face.at[k][a];
  for (size_t k = 0; k < 4; ++k) add(face.at[k], face.at[(k + 1) % 4], mid);
  return out;
}

bool FacesCross(const Patches& a, const Patches& b) {
  for (int i = 0; i < a.count; ++i)
    for (int j = 0; j < b.count; ++j)
      if (PatchesCross(a.patch[static_cast<size_t>(i)], b.patch[static_cast<size_t>(j)])) return true;
  return false;
}

bool SharesNode(const BoundaryFace& a, const BoundaryFace& b) {
  for (size_t i = 0; i < static_cast<size_t>(a.size); ++i)
    for (size_t j = 0; j < static_cast<size_t>(b.size); ++j)
      if (a.nodes[i] == b.nodes[j]) return true;
  return false;
}

}  // namespace

FaultList FindCrossingFaces(const MemoryMesh& mesh, const std::vector<BoundaryFace>& boundary, int threads,
                            const Focus& focus) {
  FaultList out;
  const auto pieceOf = [&](const BoundaryFace& face) {
    Piece p;
    p.face = true;
    p.corners = face.size;
    for (size_t c = 0; c < static_cast<size_t>(face.size); ++c) p.at[c] = mesh.nodes[static_cast<size_t>(face.nodes[c])];
    return p;
  };
  std::vector<const BoundaryFace*> faces;  // the finite ones the focus keeps
  for (const BoundaryFace& face : boundary) {
    if (!focus.Needed(static_cast<size_t>(face.element))) continue;
    bool finite = true;
    for (size_t c = 0; c < static_cast<size_t>(face.size); ++c)
      finite = finite && IsFinite(mesh.nodes[static_cast<size_t>(face.nodes[c])]);
    if (finite) faces.push_back(&face);  // else the non-finite node is the fault
  }
  if (faces.size() < 2) return out;
  const DirectionGrid grid(faces.size(), [&](size_t k) { return pieceOf(*faces[k]); }, threads);

  // Every pair once (the grid may offer a pair twice, or from either side
  // when both faces share a group; a pair already known to cross on both
  // sides has nothing more to tell). The pair is tested with its earlier
  // face first, whichever side finds it. The patches are made as they are
  // needed: most faces meet few candidates. Each thread marks what it finds
  // in a list of its own; a face crosses when any list says so.
  std::vector<std::vector<char>> crossedBy(static_cast<size_t>(ThreadCount(threads)));
  ForRanges(threads, faces.size(), [&](size_t begin, size_t end, int worker) {
    std::vector<char>& crossed = crossedBy[static_cast<size_t>(worker)];
    if (crossed.empty()) crossed.assign(faces.size(), 0);
    for (size_t k = begin; k < end; ++k) {
      const Piece mine = pieceOf(*faces[k]);
      const Patches minePatches = PatchesOf(mine);
      const size_t group = grid.GroupOf(k);
      grid.AnyPartnerNear(k, mine, [&](int other) {
        const size_t o = static_cast<size_t>(other);
        if (o == k || (o < k && grid.GroupOf(o) == group) || (crossed[k] && crossed[o]) ||
            SharesNode(*faces[k], *faces[o]) || focus.SameSweep(faces[k]->element, faces[o]->element))
          return false;
        const bool cross = o > k ? FacesCross(minePatches, PatchesOf(pieceOf(*faces[o])))
                                 : FacesCross(PatchesOf(pieceOf(*faces[o])), minePatches);
        if (cross) crossed[k] = crossed[o] = 1;
        return false;
      });
    }
  });
  std::vector<char> crossed(faces.size(), 0);
  for (const std::vector<char>& mine : crossedBy)
    for (size_t k = 0; k < mine.size(); ++k) crossed[k] = crossed[k] || mine[k];
  std::vector<int> elements;
  for (size_t k = 0; k < faces.size(); ++k)
    if (crossed[k]) {
      ++out.count;
      elements.push_back(faces[k]->element);
    }
  NameSmallest(out, std::move(elements));
  return out;
}

}  // namespace vela::quality::detail
