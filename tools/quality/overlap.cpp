// Overlapping elements: sample points of each element that lie inside
// another. A centroid alone misses elements that overlap by a corner or along
// a long side; the points half way from the centroid to each corner catch
// them, and lie inside their own element as long as it is not twisted (see
// FillShape).

#include "direction_grid.h"
#include "parallel.h"
#include "quality_detail.h"
#include "vec.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>

namespace vela::quality::detail {

namespace {

// A sample point counts as inside an element when it lies deeper than this
// share of a piece's height below the element's surface; points on shared
// faces stay outside.
constexpr double kInsideMargin = 1e-6;
// How far a sample is pulled from the centroid towards a corner.
constexpr double kSamplePull = 0.5;


// An element's corners, read from the mesh where they are.
struct Corners {
  const MemoryMesh* mesh;
  const MeshElement* element;
  const Vec& operator()(int k) const {
    return mesh->nodes[static_cast<size_t>(element->nodes[static_cast<size_t>(k)])];
  }
};

// A bound of an element along one direction: every point of the element
// lies below `reach` along `normal`, measured from its centroid. Floats
// halve the shapes, which are many; the normal is a unit vector taken as it
// rounds and the reach rounded up, which keeps the bound a bound.
struct Bound {
  std::array<float, 3> normal;
  float reach;
};

// What the test needs of an element beyond its corners, computed once.
struct Shape {
  Vec centroid{};
  int id = -1;
  // A point inside the element lies inside the hull of its corners, so below
  // the corners' highest reach along every direction; the face normals make
  // the cheapest such directions, and most candidates fail one of them at once.
  int directions = 0;
  std::array<Bound, 6> bound{};
};

// Left to free() unseen, as the shapes are many and nothing in them owns anything.
static_assert(std::is_trivially_destructible<Shape>::value, "a shape is plain data");

// Calls piece(a, b, c) for each triangle of the element's surface, turned so
// that (a, b, c, centroid) is a positive tetrahedron of the element.
// Quadrilaterals are fanned from their centre, so that two elements sharing
// a warped face split it alike and never seem to overlap there. Stops and
// returns true when piece does.
template <class PieceOfSurface>
bool ForEachPiece(const Corners& at, PieceOfSurface&& piece) {
  const FaceTable& faces = LocalFaces(at.element->kind);
  for (int f = 0; f < faces.count; ++f) {
    const LocalFace& face = faces.faces[static_cast<size_t>(f)];
    const auto corner = [&](int k) -> const Vec& { return at(face.corners[static_cast<size_t>(k % face.size)]); };
    if (face.size == 3) {
      if (piece(corner(0), corner(2), corner(1))) return true;
      continue;
    }
    Vec mid{};
    for (int k = 0; k < 4; ++k)
      for (size_t a = 0; a < 3; ++a) mid[a] += 0.25 * corner(k)[a];
    for (int k = 0; k < 4; ++k)
      if (piece(corner(k), mid, corner(k + 1))) return true;
  }
  return false;
}

// The element's bound along a face's normal, for an element whose corners
// lie within `radius` of its centroid. A normal of no length, or one that
// does not survive the trip to unit length and float, bounds nothing.
Bound BoundAlong(const Corners& at, const Vec& centroid, double radius, const Vec& normal) {
  constexpr float kNone = std::numeric_limits<float>::infinity();
  const double length = Norm(normal);
  Bound bound{{0.0f, 0.0f, 0.0f}, kNone};
  if (!(length > 0.0) || !std::isfinite(length)) return bound;
  for (size_t a = 0; a < 3; ++a) bound.normal[a] = static_cast<float>(normal[a] / length);
  const Vec unit{bound.normal[0], bound.normal[1], bound.normal[2]};
  double reach = -std::numeric_limits<double>::infinity();
  for (int k = 0; k < at.element->CornerCount(); ++k) reach = std::max(reach, Dot(unit, Sub(at(k), centroid)));
  // Widened far past the rounding of these products and of the query's,
  // then rounded up to a float; a reach beyond the float range bounds nothing.
  reach += 1e-12 * radius;
  if (reach <= static_cast<double>(std::numeric_limits<float>::max()))
    bound.reach = std::nextafter(static_cast<float>(reach), kNone);
  return bound;
}

// False for an element whose centroid sees one of its faces from behind:
// its pieces then reach beyond it and would report overlaps that are not
// there, so it sits the test out.
bool FillShape(const Corners& at, int id, Shape& s) {
  const int corners = at.element->CornerCount();
  s.id = id;
  for (int k = 0; k < corners; ++k)
    for (size_t a = 0; a < 3; ++a) s.centroid[a] += at(k)[a] / corners;
  double radius = 0.0;
  for (int k = 0; k < corners; ++k) radius = std::max(radius, Norm(Sub(at(k), s.centroid)));
  const FaceTable& faces = LocalFaces(at.element->kind);
  for (int f = 0; f < faces.count; ++f) {
    const LocalFace& face = faces.faces[static_cast<size_t>(f)];
    const Vec& a = at(face.corners[0]);
    const Vec& b = at(face.corners[1]);
    const Vec& c = at(face.corners[2]);
    // Newell's normal of a quadrilateral is the cross product of its diagonals.
    const Vec normal = face.size == 3 ? Cross(Sub(b, a), Sub(c, a)) : Cross(Sub(c, a), Sub(at(face.corners[3]), b));
    s.bound[static_cast<size_t>(s.directions++)] = BoundAlong(at, s.centroid, radius, normal);
  }
  return !ForEachPiece(at, [&](const Vec& a, const Vec& b, const Vec& c) { return !(Orient(a, b, c, s.centroid) > 0.0); });
}

// The tetrahedron (a, b, c, centre) is one piece of an element: (a, b, c)
// lies on the element's surface, the other three faces inside it. A point
// counts as inside when it lies a margin within the surface face and anywhere
// up to rounding on the inner faces, so that points on the seams between
// pieces (the centroid of a neighbour on a symmetry line) still count.
bool InsidePiece(const Vec& p, const Vec& a, const Vec& b, const Vec& c, const Vec& centre) {
  const double v = Orient(a, b, c, centre);
  if (!(v > 0.0)) return false;
  const double seam = -1e-12 * v;
  return Orient(a, b, c, p) > kInsideMargin * v && Orient(p, b, c, centre) >= seam &&
         Orient(a, p, c, centre) >= seam && Orient(a, b, p, centre) >= seam;
}

bool Inside(const Vec& p, const Corners& at, const Shape& s) {
  const Vec fromCentroid = Sub(p, s.centroid);
  for (size_t d = 0; d < static_cast<size_t>(s.directions); ++d) {
    const Bound& b = s.bound[d];
    if (Dot({b.normal[0], b.normal[1], b.normal[2]}, fromCentroid) >= b.reach) return false;
  }
  return ForEachPiece(at, [&](const Vec& a, const Vec& b, const Vec& c) { return InsidePiece(p, a, b, c, s.centroid); });
}

}  // namespace

FaultList FindOverlaps(const MemoryMesh& mesh, const std::vector<char>& usable, int threads, const Focus& focus) {
  FaultList out;
  const auto cornersOf = [&](int id) { return Corners{&mesh, &mesh.elements[static_cast<size_t>(id)]}; };
  // Every usable element's shape, in element order, filled on the threads:
  // each thread is the first to write the pages of its own elements' shapes,
  // and nothing is copied after. shapes[k] is the shape of element ids[k].
  const size_t count = mesh.elements.size();
  std::vector<char> shaped(count, 0);
  struct Free {
    void operator()(Shape* p) const { std::free(p); }
  };
  std::unique_ptr<Shape, Free> storage(static_cast<Shape*>(std::malloc(std::max<size_t>(1, count) * sizeof(Shape))));
  if (!storage) throw std::bad_alloc();
  Shape* const all = storage.get();
  ForRanges(threads, count, [&](size_t begin, size_t end, int) {
    for (size_t i = begin; i < end; ++i) {
      new (all + i) Shape();
      if (usable[i] && focus.Needed(i))
        shaped[i] = FillShape(cornersOf(static_cast<int>(i)), static_cast<int>(i), all[i]) ? 1 : 0;
    }
  });
  std::vector<int> ids;
  for (size_t i = 0; i < count; ++i)
    if (shaped[i]) ids.push_back(static_cast<int>(i));
  struct Shapes {
    const Shape* all;
    const std::vector<int>* ids;
    const Shape& operator[](size_t k) const { return all[static_cast<size_t>((*ids)[k])]; }
    size_t size() const { return ids->size(); }
  } const shapes{all, &ids};
  if (shapes.size() < 2) return out;
  const DirectionGrid grid(shapes.size(), [&](size_t k) {
    const Corners at = cornersOf(shapes[k].id);
    Piece p;
    p.corners = at.element->CornerCount();
    for (int c = 0; c < p.corners; ++c) p.at[static_cast<size_t>(c)] = at(c);
    return p;
  }, threads);

  std::vector<char> overlapping(shapes.size(), 0);
  ForRanges(threads, shapes.size(), [&](size_t begin, size_t end, int) {
    DirectionGrid::LastCells last;
    for (size_t k = begin; k < end; ++k) {
      const Shape& s = shapes[k];
      const Corners at = cornersOf(s.id);
      // The samples lie part of the way from the centroid to the corners.
      double reach = 0.0;
      for (int c = 0; c < at.element->CornerCount(); ++c) reach = std::max(reach, Norm(Sub(at(c), s.centroid)));
      grid.Narrow(k, s.centroid, kSamplePull * reach, last);
      Vec samples[1 + 8];
      int sampleCount = 0;
      samples[sampleCount++] = s.centroid;
      for (int c = 0; c < at.element->CornerCount(); ++c) {
        Vec& p = samples[sampleCount++];
        p = s.centroid;
        for (size_t a = 0; a < 3; ++a) p[a] += kSamplePull * (at(c)[a] - p[a]);
      }
      const bool overlaps = grid.AnyAtEach(samples, sampleCount, last, [&](int sample, int other) {
        const Shape& o = shapes[static_cast<size_t>(other)];
        return static_cast<size_t>(other) != k && !focus.SameSweep(s.id, o.id) &&
               Inside(samples[sample], cornersOf(o.id), o);
      });
      overlapping[k] = overlaps ? 1 : 0;
    }
  });
  for (size_t k = 0; k < shapes.size(); ++k)
    if (overlapping[k]) Note(out, shapes[k].id);
  return out;
}

}  // namespace vela::quality::detail
