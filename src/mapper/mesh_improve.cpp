#include "mapper/mesh_improve.h"

#include "vec3.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <queue>
#include <utility>

namespace vela {

namespace {

// A wall node outside the channel by less than this share of the local
// radius is on it: the sweeps' rounding, not a bulge.
constexpr double kOnWall = 1e-3;
// Sweeps of the inside nodes' moves out from the wall: enough to carry a
// move through the boundary layers and the outer rings.
constexpr int kFollowSweeps = 12;
// Halvings of the wall's move where it costs a cell its shape, before the
// move is given up.
constexpr int kBackOffs = 6;
// Past this round every move is given up: the nodes go back where they were.
constexpr int kLastRound = 3 * kBackOffs;
// Moves of the wall, each followed by smoothing.
constexpr int kWallPasses = 3;
// The floor a solver wants, with a margin: moving the wall may cost a cell
// shape down to it, no further; a cell below it already may not lose any.
constexpr double kKeepCorner = 0.25;
// Where the wall stays further outside the channel than a solver's floor
// after those moves (runners overlapping at a hairpin, whose cells there are
// poor as swept), it is moved again on easier terms: a wall outside is a
// channel the mould does not have, a poorer cell only a harder one for the
// solver. A cell under the solver's floor may then lose up to kWallCost of
// its shape, and, in a mesh with such a cell, any other may fall to the
// floor itself, no further.
constexpr double kWallCost = 0.5;
constexpr int kEasierWallPasses = 5;
// No edge may shrink under this share of its length as swept.
constexpr double kKeepEdge = 0.5;
// Cells under this are smoothed; the search stops when none is left.
constexpr double kPoorCorner = 0.3;
// A mesh still under the solver's floor once the wall has moved is smoothed
// again, at most this many times. Each pass takes every poor cell afresh: a
// cell that no search of its corners bettered, as its neighbours stood, is
// given up only for that pass, and once they have moved it often rises.
constexpr int kLastSmooths = 2;
// Steps of one node's pattern search, and its first step as a share of the
// node's shortest edge.
constexpr int kSearchRounds = 4;
constexpr double kFirstStep = 0.2;
// After its pattern search, a node climbs along the way its worst cells
// rise together (AscentOf), at most kClimbs times, each step halved at most
// kClimbHalvings times; cells within kAscentBand of the worst count as
// worst, and slopes are taken over kSlopeStep of the shortest edge.
constexpr int kClimbs = 4;
constexpr int kClimbHalvings = 4;
constexpr double kAscentBand = 0.02;
constexpr double kSlopeStep = 1e-3;
// The cells round a node count as level, with no way up, where they rise
// together by less than kLevel of the steepest of them.
constexpr double kLevel = 1e-2;
// A move betters a cell only by more than this: a junction moved or turned
// rounds its corners a little differently, and must take the same moves.
constexpr double kBetter = 1e-9;
// A finite-volume solver splits each face into triangles about its centre
// and each cell into tetrahedra on them about the cell's centre; a cell
// whose centre lies beyond one of those triangles' planes has a tetrahedron
// turned over, which the solver refuses, whatever its corners look like.
// A split counts as upright with the centre this far inside every such
// plane, as the sine of its angle below it, and a move must leave an
// upright split's centre at least kFaceTetKept inside: a margin for how
// the solver rounds, without holding back moves that cost next to nothing.
constexpr double kFaceTetRise = 0.01;
constexpr double kFaceTetKept = 0.002;
// A solver reads a face as skewed by how far the line between its two
// cells' centres passes from its own centre, against the face's size that
// way; past 4 it counts a fault. A move may make a face no skewer than this,
// or than the face was as swept where it was skewer already.
constexpr double kKeepSkew = 3.5;
// Where faces are judged as a solver judges them, a cell's shape counts the
// cosine of its worst face's non-orthogonality (the angle between the face's
// normal and the line to the centre beyond) at this weight: a face at 70
// degrees, the solver's bound for a severe one, weighs as the floor
// kKeepCorner, and one past about 66 makes its cells poor.
constexpr double kSquareWeight = 0.25 / 0.3420201433256687;
// Halvings of the way into a crease of the channel: to a ten-millionth of
// it.
constexpr int kCreaseHalvings = 24;
// Doublings of the way out of the channel from a point inside it, before
// the point is taken as it is.
constexpr int kReachDoublings = 8;

using Corner = std::array<int, 4>;  // the corner, then its three neighbours, right-handed

struct KindTables {
  std::vector<Corner> corners;
  std::vector<std::array<int, 2>> edges;
  std::vector<std::vector<int>> faces;
  double ideal;  // the worst corner of the kind's ideal shape
};

const KindTables& TablesOf(ElementKind kind) {
  // A pyramid's apex has four edges; its two diagonal tetrahedra stand in.
  static const KindTables tetra{{{0, 1, 2, 3}, {1, 2, 0, 3}, {2, 0, 1, 3}, {3, 0, 2, 1}},
                                {{0, 1}, {1, 2}, {2, 0}, {0, 3}, {1, 3}, {2, 3}},
                                {{0, 2, 1}, {0, 1, 3}, {1, 2, 3}, {2, 0, 3}},
                                0.7071067811865476};
  static const KindTables pyramid{{{0, 1, 3, 4}, {1, 2, 0, 4}, {2, 3, 1, 4}, {3, 0, 2, 4}, {4, 1, 0, 2}, {4, 3, 2, 0}},
                                  {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {0, 4}, {1, 4}, {2, 4}, {3, 4}},
                                  {{0, 3, 2, 1}, {0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}},
                                  0.7071067811865476};
  static const KindTables prism{{{0, 1, 2, 3}, {1, 2, 0, 4}, {2, 0, 1, 5}, {3, 5, 4, 0}, {4, 3, 5, 1}, {5, 4, 3, 2}},
                                {{0, 1}, {1, 2}, {2, 0}, {3, 4}, {4, 5}, {5, 3}, {0, 3}, {1, 4}, {2, 5}},
                                {{0, 2, 1}, {3, 4, 5}, {0, 1, 4, 3}, {1, 2, 5, 4}, {2, 0, 3, 5}},
                                0.8660254037844386};
  static const KindTables hexa{
      {{0, 1, 3, 4}, {1, 2, 0, 5}, {2, 3, 1, 6}, {3, 0, 2, 7}, {4, 7, 5, 0}, {5, 4, 6, 1}, {6, 5, 7, 2}, {7, 6, 4, 3}},
      {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6}, {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}},
      {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}},
      1.0};
  switch (kind) {
    case ElementKind::Tetra: return tetra;
    case ElementKind::Pyramid: return pyramid;
    case ElementKind::Prism: return prism;
    default: return hexa;
  }
}

int CornerOf(const Element& e, int local) { return e.corners[static_cast<size_t>(local)]; }

// One corner's Jacobian over the product of its three edge lengths, scaled
// by the kind's ideal: 1 at the ideal shape, 0 flat, negative turned over,
// -1 where an edge has no length.
double CornerJacobian(const std::vector<Point3>& nodes, const Element& element, const Corner& c, double ideal) {
  const Point3& o = nodes[static_cast<size_t>(CornerOf(element, c[0]))];
  const Point3 a = Sub(nodes[static_cast<size_t>(CornerOf(element, c[1]))], o);
  const Point3 b = Sub(nodes[static_cast<size_t>(CornerOf(element, c[2]))], o);
  const Point3 d = Sub(nodes[static_cast<size_t>(CornerOf(element, c[3]))], o);
  const double lengths = std::sqrt(Dot(a, a) * Dot(b, b) * Dot(d, d));
  return lengths > 0.0 ? Dot(Cross(a, b), d) / lengths / ideal : -1.0;
}

// A face's centre and area as a finite-volume solver takes them: triangles
// fanned from the mean of its corners, their centroids weighed by their
// areas along the face's normal. The area points out of the element.
struct FaceGeometry {
  Point3 centre{};
  Point3 area{};
};

FaceGeometry FaceOf(const std::vector<Point3>& nodes, const Element& e, const std::vector<int>& face) {
  const size_t n = face.size();
  std::array<Point3, 4> corner{};
  Point3 mean{0, 0, 0};
  for (size_t i = 0; i < n; ++i) {
    corner[i] = nodes[static_cast<size_t>(CornerOf(e, face[i]))];
    mean = Add(mean, corner[i]);
  }
  mean = Scale(mean, 1.0 / static_cast<double>(n));
  if (n == 3) return {mean, Scale(Cross(Sub(corner[1], corner[0]), Sub(corner[2], corner[0])), 0.5)};
  Point3 area{0, 0, 0};
  std::array<Point3, 4> normals{}, centroids{};
  for (size_t i = 0; i < n; ++i) {
    const Point3& p = corner[i];
    const Point3& q = corner[i + 1 < n ? i + 1 : 0];
    normals[i] = Scale(Cross(Sub(q, p), Sub(mean, p)), 0.5);
    centroids[i] = Scale(Add(Add(p, q), mean), 1.0 / 3.0);
    area = Add(area, normals[i]);
  }
  const double norm = Norm(area);
  if (!(norm > 0.0)) return {mean, area};
  const Point3 unit = Scale(area, 1.0 / norm);
  Point3 centre{0, 0, 0};
  double weights = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double w = Dot(normals[i], unit);
    centre = Add(centre, Scale(centroids[i], w));
    weights += w;
  }
  return {std::fabs(weights) > 0.0 ? Scale(centre, 1.0 / weights) : mean, area};
}

// The element's faces as FaceOf takes them, and its centre as a
// finite-volume solver does: the volume-weighted centroid of the pyramids
// from the mean of its faces' centres to each face. False for an element of
// no volume.
struct CellGeometry {
  std::array<FaceGeometry, 6> faces{};
  Point3 centre{};
};

// The centre of a cell whose faces are known. False for a cell of no
// volume, whose centre is left as it was.
bool CentreFromFaces(size_t count, CellGeometry& cell) {
  Point3 estimate{0, 0, 0};
  for (size_t f = 0; f < count; ++f) estimate = Add(estimate, cell.faces[f].centre);
  estimate = Scale(estimate, 1.0 / static_cast<double>(count));
  Point3 centre{0, 0, 0};
  double volume = 0.0;
  for (size_t f = 0; f < count; ++f) {
    const double v = Dot(cell.faces[f].area, Sub(cell.faces[f].centre, estimate));
    centre = Add(centre, Scale(Add(Scale(cell.faces[f].centre, 0.75), Scale(estimate, 0.25)), v));
    volume += v;
  }
  if (!(volume > 0.0)) return false;
  cell.centre = Scale(centre, 1.0 / volume);
  return true;
}

bool CellOf(const std::vector<Point3>& nodes, const Element& e, CellGeometry& cell) {
  const KindTables& tables = TablesOf(e.kind);
  for (size_t f = 0; f < tables.faces.size(); ++f) cell.faces[f] = FaceOf(nodes, e, tables.faces[f]);
  return CentreFromFaces(tables.faces.size(), cell);
}

// CellOf for a cell of which only the node `moved` has moved since its
// faces were found: the faces away from it are kept.
bool CellOfMoved(const std::vector<Point3>& nodes, const Element& e, int moved, CellGeometry& cell) {
  const KindTables& tables = TablesOf(e.kind);
  for (size_t f = 0; f < tables.faces.size(); ++f)
    for (int local : tables.faces[f])
      if (CornerOf(e, local) == moved) {
        cell.faces[f] = FaceOf(nodes, e, tables.faces[f]);
        break;
      }
  return CentreFromFaces(tables.faces.size(), cell);
}

// A face's skewness as the solver measures it, from the centres of the
// cells on its two sides (`beyond` null on the wall, where the foot of the
// cell's own centre on the face's plane stands in for the cell beyond).
double Skewness(const std::vector<Point3>& nodes, const Element& e, const std::vector<int>& face,
                const FaceGeometry& geometry, const Point3& own, const Point3* beyond) {
  const Point3 toFace = Sub(geometry.centre, own);
  const double area = Norm(geometry.area);
  if (!(area > 0.0)) return 0.0;
  const Point3 unit = Scale(geometry.area, 1.0 / area);
  const Point3 d = beyond ? Sub(*beyond, own) : Scale(unit, Dot(unit, toFace));
  const double across = Dot(geometry.area, d);
  const Point3 sv = std::fabs(across) > 0.0 ? Sub(toFace, Scale(d, Dot(geometry.area, toFace) / across)) : toFace;
  const double skew = Norm(sv);
  if (!(skew > 0.0)) return 0.0;
  const Point3 way = Scale(sv, 1.0 / skew);
  double reach = 0.2 * Norm(d);
  for (int local : face)
    reach = std::max(reach, std::fabs(Dot(way, Sub(nodes[static_cast<size_t>(CornerOf(e, local))], geometry.centre))));
  return reach > 0.0 ? skew / reach : 0.0;
}

// Which of a finite-volume solver's splits of the element into tetrahedra
// have every tetrahedron upright, with the element's centre (the pyramids'
// volume-weighted centroid) at least kFaceTetRise below each triangle's
// plane (as kFaceTetRise): three bits per face, in order, for its triangles about the face's
// centre, and for its two splits along a diagonal (a triangle's single
// triangle stands for both). A face between two cells needs one diagonal
// upright in both.
std::uint32_t FaceTetMask(const std::vector<Point3>& nodes, const Element& e, double rise = kFaceTetRise,
                          const CellGeometry* known = nullptr) {
  const KindTables& tables = TablesOf(e.kind);
  const size_t count = tables.faces.size();
  CellGeometry cell;
  if (known) {
    cell = *known;
  } else if (!CellOf(nodes, e, cell)) {
    return 0;
  }
  const Point3& centre = cell.centre;
  const std::array<FaceGeometry, 6>& faces = cell.faces;
  // Whether the centre lies below the triangle a, b, c (turning out of the
  // element) by the rise.
  auto below = [&centre, rise](const Point3& a, const Point3& b, const Point3& c) {
    const Point3 normal = Cross(Sub(b, a), Sub(c, a));
    const Point3 down = Sub(centre, c);
    return -Dot(normal, down) > rise * Norm(normal) * Norm(down);
  };
  std::uint32_t mask = 0;
  for (size_t f = 0; f < count; ++f) {
    const std::vector<int>& face = tables.faces[f];
    const size_t n = face.size();
    auto at = [&](size_t i) -> const Point3& { return nodes[static_cast<size_t>(CornerOf(e, face[i % n]))]; };
    bool aboutCentre = true;
    for (size_t i = 0; i < n; ++i) aboutCentre = aboutCentre && below(at(i), at(i + 1), faces[f].centre);
    bool split[2] = {true, true};
    for (size_t b = 0; b < 2; ++b)
      for (size_t t = 1; t + 1 < n; ++t) split[b] = split[b] && below(at(b + t), at(b + t + 1), at(b));
    mask |= (std::uint32_t(aboutCentre) | std::uint32_t(split[0]) << 1 | std::uint32_t(split[1]) << 2) << (3 * f);
  }
  return mask;
}

// One runner's solid at p: how far outside it p lies (negative inside), and
// the nearest point of its surface.
struct Nearest {
  double outside;
  Point3 surface;
};

Nearest OnBall(const Point3& p, const Point3& at, double radius) {
  const Point3 d = Sub(p, at);
  const double r = Norm(d);
  const Point3 dir = r > 0.0 ? Scale(d, 1.0 / r) : Point3{0, 0, 1};
  return Nearest{r - radius, Add(at, Scale(dir, radius))};
}

Nearest NearestOf(const Point3& center, const MachinedRunner& runner, const Point3& p) {
  const Point3& a = runner.axis;
  const double t = Dot(Sub(p, center), a);
  if (t <= 0.0) return OnBall(p, center, runner.junctionRadius);
  if (t >= runner.length) return OnBall(p, runner.far, runner.farRadius);
  const Point3 onAxis = Add(center, Scale(a, t));
  const double radius = runner.junctionRadius + (runner.farRadius - runner.junctionRadius) * (t / runner.length);
  const Point3 d = Sub(p, onAxis);
  const double r = Norm(d);
  if (!(r > 0.0)) return OnBall(p, center, runner.junctionRadius);
  const Nearest side{r - radius, Add(onAxis, Scale(d, radius / r))};
  const Nearest ball = OnBall(p, center, runner.junctionRadius);
  return ball.outside < side.outside ? ball : side;
}

// How far p lies outside one runner, as NearestOf(...).outside, without the
// surface point.
double OutsideOf(const Point3& center, const MachinedRunner& runner, const Point3& p) {
  const Point3 fromCentre = Sub(p, center);
  const double t = Dot(fromCentre, runner.axis);
  const double ball = Norm(fromCentre) - runner.junctionRadius;
  if (t <= 0.0) return ball;
  if (t >= runner.length) return Norm(Sub(p, runner.far)) - runner.farRadius;
  const double radius = runner.junctionRadius + (runner.farRadius - runner.junctionRadius) * (t / runner.length);
  const double side = std::sqrt(std::max(0.0, Dot(fromCentre, fromCentre) - t * t)) - radius;
  return std::min(side, ball);
}

// Compressed lists by node: the elements a node is a corner of, and its edge
// neighbours.
struct Adjacency {
  std::vector<int> elementStart, elementList;
  std::vector<int> nodeStart, nodeList;

  const int* ElementsBegin(size_t n) const { return elementList.data() + elementStart[n]; }
  const int* ElementsEnd(size_t n) const { return elementList.data() + elementStart[n + 1]; }
  const int* NodesBegin(size_t n) const { return nodeList.data() + nodeStart[n]; }
  const int* NodesEnd(size_t n) const { return nodeList.data() + nodeStart[n + 1]; }
};

Adjacency AdjacencyOf(const JunctionMesh& mesh) {
  const size_t n = mesh.nodes.size();
  Adjacency out;
  out.elementStart.assign(n + 1, 0);
  for (const Element& e : mesh.elements)
    for (int c = 0; c < e.CornerCount(); ++c) ++out.elementStart[static_cast<size_t>(CornerOf(e, c)) + 1];
  for (size_t k = 0; k < n; ++k) out.elementStart[k + 1] += out.elementStart[k];
  out.elementList.resize(static_cast<size_t>(out.elementStart[n]));
  std::vector<int> fill(out.elementStart.begin(), out.elementStart.end() - 1);
  for (size_t k = 0; k < mesh.elements.size(); ++k) {
    const Element& e = mesh.elements[k];
    for (int c = 0; c < e.CornerCount(); ++c)
      out.elementList[static_cast<size_t>(fill[static_cast<size_t>(CornerOf(e, c))]++)] = static_cast<int>(k);
  }
  // Edge neighbours: every edge of every element round the node, once.
  std::vector<std::vector<int>> neighbours(n);
  for (const Element& e : mesh.elements)
    for (const auto& edge : TablesOf(e.kind).edges) {
      const int a = CornerOf(e, edge[0]), b = CornerOf(e, edge[1]);
      neighbours[static_cast<size_t>(a)].push_back(b);
      neighbours[static_cast<size_t>(b)].push_back(a);
    }
  out.nodeStart.assign(n + 1, 0);
  for (size_t k = 0; k < n; ++k) {
    std::vector<int>& list = neighbours[k];
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
    out.nodeStart[k + 1] = out.nodeStart[k] + static_cast<int>(list.size());
  }
  out.nodeList.reserve(static_cast<size_t>(out.nodeStart[n]));
  for (const std::vector<int>& list : neighbours) out.nodeList.insert(out.nodeList.end(), list.begin(), list.end());
  return out;
}

// The nodes of faces that only one element uses. A face's other user has
// its first two corners too: the elements round each are listed in order, so
// walking the two lists together finds it.
std::vector<char> BoundaryNodes(const JunctionMesh& mesh, const Adjacency& around) {
  std::vector<char> boundary(mesh.nodes.size(), 0);
  for (size_t k = 0; k < mesh.elements.size(); ++k) {
    const Element& e = mesh.elements[k];
    for (const std::vector<int>& face : TablesOf(e.kind).faces) {
      const auto a = static_cast<size_t>(CornerOf(e, face[0])), b = static_cast<size_t>(CornerOf(e, face[1]));
      const int* i = around.ElementsBegin(a);
      const int* j = around.ElementsBegin(b);
      bool shared = false;
      while (i != around.ElementsEnd(a) && j != around.ElementsEnd(b) && !shared) {
        if (*i < *j) {
          ++i;
        } else if (*j < *i) {
          ++j;
        } else {
          const auto other = static_cast<size_t>(*i);
          if (other != k) {
            const Element& o = mesh.elements[other];
            size_t found = 0;
            for (size_t f = 2; f < face.size(); ++f)
              for (int c = 0; c < o.CornerCount(); ++c)
                if (CornerOf(o, c) == CornerOf(e, face[f])) ++found;
            shared = found == face.size() - 2;
          }
          ++i;
          ++j;
        }
      }
      if (!shared)
        for (int local : face) boundary[static_cast<size_t>(CornerOf(e, local))] = 1;
    }
  }
  return boundary;
}

// For each element's faces in turn (six slots an element), the element on
// the face's other side, or -1 on the wall: any other element round the
// face's first corner with the same corners.
std::vector<int> FacesAcross(const JunctionMesh& mesh, const Adjacency& around) {
  auto sorted = [&mesh](size_t e, const std::vector<int>& face) {
    std::array<int, 4> key{-1, -1, -1, -1};
    for (size_t i = 0; i < face.size(); ++i) key[i] = CornerOf(mesh.elements[e], face[i]);
    // Three or four corners in order by insertion: std::sort's general
    // machinery on a short array makes GCC see reads past its end.
    for (size_t i = 1; i < face.size(); ++i)
      for (size_t j = i; j > 0 && key[j - 1] > key[j]; --j) std::swap(key[j - 1], key[j]);
    return key;
  };
  std::vector<int> across(6 * mesh.elements.size(), -1);
  for (size_t e = 0; e < mesh.elements.size(); ++e) {
    const std::vector<std::vector<int>>& faces = TablesOf(mesh.elements[e].kind).faces;
    for (size_t f = 0; f < faces.size(); ++f) {
      if (across[6 * e + f] >= 0) continue;
      const std::array<int, 4> key = sorted(e, faces[f]);
      const auto first = static_cast<size_t>(CornerOf(mesh.elements[e], faces[f][0]));
      for (const int* o = around.ElementsBegin(first); o != around.ElementsEnd(first); ++o) {
        const auto other = static_cast<size_t>(*o);
        if (other == e) continue;
        const std::vector<std::vector<int>>& its = TablesOf(mesh.elements[other].kind).faces;
        for (size_t g = 0; g < its.size(); ++g)
          if (its[g].size() == faces[f].size() && sorted(other, its[g]) == key) {
            across[6 * e + f] = static_cast<int>(other);
            across[6 * other + g] = static_cast<int>(e);
          }
      }
    }
  }
  return across;
}

double WallDistance(const JunctionMesh& mesh, const Channel& channel, const std::vector<char>& wall) {
  double worst = 0.0;
  for (size_t k = 0; k < mesh.nodes.size(); ++k) {
    if (!wall[k]) continue;
    double radius = 1.0;
    const double outside = channel.Outside(mesh.nodes[k], &radius);
    worst = std::max(worst, outside / radius);
  }
  return worst;
}

// WorstCorner, and in `capped` the element's corners, each scored as
// WorstCorner scores them and capped at kPoorCorner, summed, where no corner
// stopped it: how far the cell stands from flat at all its corners, which a
// move of one node changes where the worst corner, at a node the move does
// not touch, stays as it is.
double WorstCornerSummed(const std::vector<Point3>& nodes, const Element& element, double stopAt, double& capped);

// The shortest vector of the convex hull of vectors: the direction that
// raises every one of their linear functions at once, and by the most at the
// least of them; near zero where no direction raises them all. A few dozen
// of Gilbert's steps, each towards the vector furthest behind, settle the
// handful of cells round a node.
Point3 ShortestInHull(const std::vector<Point3>& vectors) {
  Point3 x = vectors.front();
  for (int step = 0; step < 64; ++step) {
    const Point3* behind = &vectors.front();
    for (const Point3& v : vectors)
      if (Dot(v, x) < Dot(*behind, x)) behind = &v;
    const Point3 toward = Sub(*behind, x);
    const double gap = -Dot(toward, x);
    const double length = Dot(toward, toward);
    if (gap <= 1e-12 * Dot(x, x) || length <= 0.0) break;
    x = Add(x, Scale(toward, std::min(1.0, gap / length)));
  }
  return x;
}

// The pass's working state: the mesh, what may move, and each element's
// shape, kept up to date as nodes move; where faces are judged as a solver
// judges them, also each element's neighbours across its faces, its faces
// and centre, and its faces' skewness as swept.
class Improver {
public:
  Improver(JunctionMesh& mesh, const Channel& channel, const std::vector<char>& fixed, const Smoothing& smoothing)
      : m_mesh(mesh), m_channel(channel), m_fixed(fixed), m_smoothing(smoothing), m_around(AdjacencyOf(mesh)),
        m_wall(BoundaryNodes(mesh, m_around)),
        m_across(smoothing.solverFaces ? FacesAcross(mesh, m_around) : std::vector<int>{}),
        m_quality(mesh.elements.size()), m_upright(mesh.elements.size()),
        m_cells(smoothing.solverFaces ? mesh.elements.size() : 0), m_current(m_cells.size(), 0),
        m_skew(m_across.size(), 0.0),
        m_shortest(mesh.nodes.size()) {
    for (size_t k = 0; k < m_wall.size(); ++k) m_wall[k] = m_wall[k] && !m_fixed[k];
    for (size_t e = 0; e < m_quality.size(); ++e) {
      m_upright[e] = FaceTetMask(m_mesh.nodes, m_mesh.elements[e]);
      CentreOf(e);
    }
    for (size_t e = 0; e < m_quality.size(); ++e) {
      m_quality[e] = CellQuality(e);
      if (!m_smoothing.solverFaces) continue;
      const std::vector<std::vector<int>>& faces = TablesOf(m_mesh.elements[e].kind).faces;
      for (size_t f = 0; f < faces.size(); ++f) m_skew[6 * e + f] = SkewOf(e, f);
    }
    for (size_t k = 0; k < m_shortest.size(); ++k) m_shortest[k] = ShortestEdge(k);
  }

  double WorstCell() const { return *std::min_element(m_quality.begin(), m_quality.end()); }
  double Wall() const { return WallDistance(m_mesh, m_channel, m_wall); }
  bool OutsideChannel(size_t node) const {
    double radius = 1.0;
    return m_wall[node] && m_channel.Outside(m_mesh.nodes[node], &radius) > kOnWall * radius;
  }

  void FollowWall();
  void Smooth();
  // The easier terms for the wall's moves from now on.
  void EaseWallFloors() {
    const double kept = WorstCell() < kSolverCorner ? kSolverCorner : kKeepCorner;
    m_wallFloor.resize(m_quality.size());
    for (size_t e = 0; e < m_quality.size(); ++e)
      m_wallFloor[e] = m_quality[e] < kSolverCorner ? (1.0 - kWallCost) * m_quality[e] : kept;
  }

private:
  // A cell's shape: its worst corner, and where faces are judged as a
  // solver judges them, how square its faces stand to the centres beyond
  // (with the centres as m_cells holds them); or any value not above
  // stopAt as soon as one part is not. `corner`, where given, is the cell's
  // WorstCorner as the nodes stand.
  double CellQuality(size_t cell, double stopAt = -2.0, const double* corner = nullptr) const {
    const Element& e = m_mesh.elements[cell];
    double quality = corner ? *corner : WorstCorner(m_mesh.nodes, e, stopAt);
    if (!m_smoothing.solverFaces || quality <= stopAt) return quality;
    const std::vector<std::vector<int>>& faces = TablesOf(e.kind).faces;
    for (size_t f = 0; f < faces.size(); ++f) {
      const int beyond = m_across[6 * cell + f];
      if (beyond < 0) continue;
      const Point3& area = m_cells[cell].faces[f].area;
      const Point3 d = Sub(m_cells[static_cast<size_t>(beyond)].centre, m_cells[cell].centre);
      const double lengths = Norm(area) * Norm(d);
      quality = std::min(quality, lengths > 0.0 ? kSquareWeight * Dot(area, d) / lengths : -1.0);
    }
    return quality;
  }
  // The worst shape of the cells round node, or any value not above stopAt
  // as soon as one is not; `corners`, where given, their WorstCorner in
  // turn.
  double WorstAround(size_t node, double stopAt = -2.0, const double* corners = nullptr) const {
    const int* begin = m_around.ElementsBegin(node);
    double worst = 1.0;
    for (const int* e = begin; e != m_around.ElementsEnd(node) && worst > stopAt; ++e)
      worst = std::min(worst, CellQuality(static_cast<size_t>(*e), stopAt, corners ? corners + (e - begin) : nullptr));
    return worst;
  }
  // The corners of the cells round node, each capped at kPoorCorner, summed
  // (WorstCornerSummed): what a move that leaves the worst cell as it is can
  // still better.
  double SoftAround(size_t node) const {
    double sum = 0.0;
    for (const int* e = m_around.ElementsBegin(node); e != m_around.ElementsEnd(node); ++e) {
      double capped = 0.0;
      WorstCornerSummed(m_mesh.nodes, m_mesh.elements[static_cast<size_t>(*e)], -2.0, capped);
      sum += capped;
    }
    return sum;
  }
  // The centres of the cells round node where it stands now, the ones of
  // where it stood kept aside; RestoreCentres puts them back. Only the
  // faces at node are found again: the rest are known as the other nodes
  // stand, unless the cell had no volume when it was last found.
  void Recentre(size_t node) {
    m_savedCentres.clear();
    for (const int* e = m_around.ElementsBegin(node); e != m_around.ElementsEnd(node); ++e) {
      const auto cell = static_cast<size_t>(*e);
      m_savedCentres.push_back(m_cells[cell]);
      const Element& element = m_mesh.elements[cell];
      const bool found = m_current[cell] ? CellOfMoved(m_mesh.nodes, element, static_cast<int>(node), m_cells[cell])
                                         : CellOf(m_mesh.nodes, element, m_cells[cell]);
      if (!found) m_cells[cell] = m_savedCentres.back();
    }
  }
  void RestoreCentres(size_t node) {
    const int* begin = m_around.ElementsBegin(node);
    for (const int* e = begin; e != m_around.ElementsEnd(node); ++e)
      m_cells[static_cast<size_t>(*e)] = m_savedCentres[static_cast<size_t>(e - begin)];
  }
  // Shapes brought up to date where cells moved, and, as a face's
  // non-orthogonality is its two cells', in the cells beyond their faces.
  void Requalify(const std::vector<size_t>& cells) {
    for (size_t cell : cells) {
      m_quality[cell] = CellQuality(cell);
      if (!m_smoothing.solverFaces) continue;
      for (size_t f = 0; f < 6; ++f)
        if (m_across[6 * cell + f] >= 0)
          m_quality[static_cast<size_t>(m_across[6 * cell + f])] = CellQuality(static_cast<size_t>(m_across[6 * cell + f]));
    }
  }
  void Settle(size_t node) {
    m_settled.clear();
    for (const int* e = m_around.ElementsBegin(node); e != m_around.ElementsEnd(node); ++e) {
      CentreOf(static_cast<size_t>(*e));
      m_settled.push_back(static_cast<size_t>(*e));
    }
    Requalify(m_settled);
  }
  bool SearchFrom(size_t node);
  Point3 AscentOf(size_t node, double step, double& reach);
  // Whether every split of the cell into tetrahedra that stood upright as
  // swept still does.
  bool KeepsUpright(size_t cell) const {
    const CellGeometry* known = m_smoothing.solverFaces ? &m_cells[cell] : nullptr;
    return (FaceTetMask(m_mesh.nodes, m_mesh.elements[cell], kFaceTetKept, known) & m_upright[cell]) == m_upright[cell];
  }
  void CentreOf(size_t cell) {
    if (!m_smoothing.solverFaces) return;
    CellGeometry geometry;
    m_current[cell] = CellOf(m_mesh.nodes, m_mesh.elements[cell], geometry);
    if (m_current[cell]) m_cells[cell] = geometry;
  }
  double SkewOf(size_t cell, size_t f) const {
    const Element& e = m_mesh.elements[cell];
    const std::vector<int>& face = TablesOf(e.kind).faces[f];
    const int beyond = m_across[6 * cell + f];
    return Skewness(m_mesh.nodes, e, face, m_cells[cell].faces[f], m_cells[cell].centre,
                    beyond >= 0 ? &m_cells[static_cast<size_t>(beyond)].centre : nullptr);
  }
  // Whether no face of the cell is skewer than kKeepSkew, or than it was as
  // swept, with the centres as m_cells holds them.
  bool KeepsSkew(size_t cell) const {
    if (!m_smoothing.solverFaces) return true;
    const size_t faces = TablesOf(m_mesh.elements[cell].kind).faces.size();
    for (size_t f = 0; f < faces; ++f)
      if (SkewOf(cell, f) > std::max(kKeepSkew, m_skew[6 * cell + f]) + kBetter) return false;
    return true;
  }
  // The same for every cell round node.
  bool KeepsSkewAround(size_t node) const {
    for (const int* e = m_around.ElementsBegin(node); e != m_around.ElementsEnd(node); ++e)
      if (!KeepsSkew(static_cast<size_t>(*e))) return false;
    return true;
  }
  bool KeepsUprightAround(size_t node) const {
    for (const int* e = m_around.ElementsBegin(node); e != m_around.ElementsEnd(node); ++e)
      if (!KeepsUpright(static_cast<size_t>(*e))) return false;
    return true;
  }
  double ShortestEdge(size_t node) const {
    double shortest = 1e300;
    for (const int* j = m_around.NodesBegin(node); j != m_around.NodesEnd(node); ++j)
      shortest = std::min(shortest, Norm(Sub(m_mesh.nodes[static_cast<size_t>(*j)], m_mesh.nodes[node])));
    return shortest;
  }
  // Whether every edge of node keeps a share of the shorter of its two ends'
  // shortest edges as swept: a cell may keep its shape and still shrink
  // until two of its nodes all but meet, which a solver reads as a cell of
  // no size.
  bool KeepsSize(size_t node) const {
    for (const int* j = m_around.NodesBegin(node); j != m_around.NodesEnd(node); ++j) {
      const auto other = static_cast<size_t>(*j);
      const double shortest = std::min(m_shortest[node], m_shortest[other]);
      // Two nodes within the merge tolerance would read as one node missed.
      const double floor = std::max(kKeepEdge * shortest, std::min(shortest, 2.0 * m_mesh.mergeTolerance));
      if (Norm(Sub(m_mesh.nodes[other], m_mesh.nodes[node])) < floor) return false;
    }
    return true;
  }

  JunctionMesh& m_mesh;
  const Channel& m_channel;
  const std::vector<char>& m_fixed;
  const Smoothing m_smoothing;
  const Adjacency m_around;
  std::vector<char> m_wall;
  const std::vector<int> m_across;  // FacesAcross
  std::vector<double> m_quality;
  std::vector<double> m_wallFloor;  // each cell's floor for the wall's moves on easier terms
  std::vector<std::uint32_t> m_upright;  // each cell's upright splits as swept (FaceTetMask)
  std::vector<CellGeometry> m_cells;     // each cell's faces and centre, as the nodes stand
  std::vector<char> m_current;           // whether m_cells holds the cell as its nodes stand
  std::vector<double> m_skew;            // each face's skewness as swept, by FacesAcross's slots
  std::vector<CellGeometry> m_savedCentres;
  std::vector<size_t> m_settled;
  std::vector<double> m_shortest;  // each node's shortest edge as swept
  std::vector<double> m_shapes;    // AscentOf's scratch
  std::vector<double> m_trialCorners, m_trialCapped;  // SearchFrom's, by the cells round the node
  std::vector<Point3> m_slopes, m_active;
};

// Moves the wall onto the channel and the nodes inside along with it, as far
// as no cell falls under its floor.
void Improver::FollowWall() {
  const size_t n = m_mesh.nodes.size();
  std::vector<Point3> move(n, Point3{0, 0, 0});
  std::vector<size_t> moving;
  for (size_t k = 0; k < n; ++k) {
    if (!OutsideChannel(k)) continue;
    move[k] = Sub(m_channel.Project(m_mesh.nodes[k]), m_mesh.nodes[k]);
    moving.push_back(k);
  }
  if (moving.empty()) return;
  // The moves spread inwards one edge per sweep; only the nodes they have
  // reached are swept.
  std::vector<char> reached(n, 0);
  for (size_t k : moving) reached[k] = 1;
  std::vector<size_t> front = moving;
  for (int sweep = 0; sweep < kFollowSweeps && !front.empty(); ++sweep) {
    std::vector<size_t> next;
    for (size_t k : front)
      for (const int* j = m_around.NodesBegin(k); j != m_around.NodesEnd(k); ++j) {
        const auto m = static_cast<size_t>(*j);
        if (reached[m] || m_wall[m] || m_fixed[m]) continue;
        reached[m] = 1;
        next.push_back(m);
        moving.push_back(m);
      }
    front.swap(next);
    for (size_t k : moving) {
      if (m_wall[k]) continue;
      // Short edges weigh most: a node of a thin boundary layer follows the
      // wall node across the layer, not its neighbours along it.
      Point3 sum{0, 0, 0};
      double weights = 0.0;
      for (const int* j = m_around.NodesBegin(k); j != m_around.NodesEnd(k); ++j) {
        const Point3 edge = Sub(m_mesh.nodes[static_cast<size_t>(*j)], m_mesh.nodes[k]);
        const double w = 1.0 / Dot(edge, edge);
        sum = Add(sum, Scale(move[static_cast<size_t>(*j)], w));
        weights += w;
      }
      move[k] = Scale(sum, 1.0 / weights);
    }
  }
  // The cells the moves touch, each with the floor it may fall to.
  std::vector<char> touched(m_quality.size(), 0);
  std::vector<size_t> cells;
  for (size_t k : moving)
    for (const int* e = m_around.ElementsBegin(k); e != m_around.ElementsEnd(k); ++e)
      if (!touched[static_cast<size_t>(*e)]) {
        touched[static_cast<size_t>(*e)] = 1;
        cells.push_back(static_cast<size_t>(*e));
      }
  std::vector<Point3> original(moving.size());
  for (size_t i = 0; i < moving.size(); ++i) original[i] = m_mesh.nodes[moving[i]];
  // Where a cell would fall under its floor, its corners take half their
  // move, and after kBackOffs halvings none: the cells round a node that
  // keeps its place are as they were, so the rounds end.
  std::vector<double> share(n, 1.0);
  for (int round = 0; round <= kLastRound; ++round) {
    if (round == kLastRound) std::fill(share.begin(), share.end(), 0.0);
    for (size_t i = 0; i < moving.size(); ++i)
      m_mesh.nodes[moving[i]] = Add(original[i], Scale(move[moving[i]], share[moving[i]]));
    bool kept = true;
    for (size_t k : moving) {
      if (KeepsSize(k)) continue;
      kept = false;
      share[k] = round >= kBackOffs ? 0.0 : 0.5 * share[k];
      for (const int* j = m_around.NodesBegin(k); j != m_around.NodesEnd(k); ++j) {
        double& s = share[static_cast<size_t>(*j)];
        s = round >= kBackOffs ? 0.0 : 0.5 * s;
      }
    }
    for (size_t cell : cells) CentreOf(cell);
    for (size_t cell : cells) {
      const Element& e = m_mesh.elements[cell];
      const double worst = CellQuality(cell);
      const double eased = m_wallFloor.empty() ? kKeepCorner : m_wallFloor[cell];
      const double floor = std::min({kKeepCorner, m_quality[cell], eased});
      if (worst >= floor && KeepsUpright(cell) && KeepsSkew(cell)) continue;
      kept = false;
      for (int c = 0; c < e.CornerCount(); ++c) {
        double& s = share[static_cast<size_t>(CornerOf(e, c))];
        s = round >= kBackOffs ? 0.0 : 0.5 * s;
      }
    }
    if (kept) break;
  }
  for (size_t cell : cells) CentreOf(cell);
  Requalify(cells);
}

// A pattern search for one node: towards the middle of its neighbours, then
// along the axes in shrinking steps, wherever the worst corner of the cells
// around it gets better; a wall node slides on the channel. Whether it moved.
//
// A step that leaves that worst corner as it is (to kBetter) is still taken
// where the cells' corners below kPoorCorner, summed, get better. Where a
// folded section is carried along a branch, the wedges round its axis lie
// flat in a column, each cell flattest at a corner of its neighbour's
// section: no single node's move betters the worst cell round it, and a
// search that looked at nothing else left the whole column flat (census
// hubs at 0.02 to 0.09). Bettered at the corners a move does touch, the
// column rises a node at a time, and the worst cell with it.
//
// Last the node climbs. Where two or three cells round it are worst
// together, each axis step raises one and lowers another, and the search
// stops on a ridge it could walk along; their slopes give the slant that
// raises them all (AscentOf). Climbing before the axes instead led the
// wedge columns above elsewhere, and left some of them lower.
bool Improver::SearchFrom(size_t node) {
  Point3& at = m_mesh.nodes[node];
  const Point3 start = at;
  const bool onWall = m_wall[node] != 0;
  double best = WorstAround(node);
  double bestSoft = SoftAround(node);
  Point3 bestAt = start;
  auto tryAt = [&](const Point3& trial, double floor, bool tie = false) {
    const double lower = tie ? floor - kBetter : floor + kBetter;
    const Point3 from = bestAt;
    at = onWall ? m_channel.Project(trial) : trial;
    // Near a crease the channel's nearest point can lie far from the step:
    // a wall node goes no further than twice its step, or it could pass
    // over cells that do not share it.
    if (onWall && Norm(Sub(at, from)) > 2.0 * Norm(Sub(trial, from)) + kBetter * m_shortest[node]) {
      at = bestAt;
      return;
    }
    // The corners alone settle most trials, before any centre is found;
    // each cell's worst corner and its poor corners summed are kept for
    // what follows.
    const int* around = m_around.ElementsBegin(node);
    const auto cells = static_cast<size_t>(m_around.ElementsEnd(node) - around);
    m_trialCorners.assign(cells, 0.0);
    m_trialCapped.assign(cells, 0.0);
    double corners = 1.0;
    for (size_t i = 0; i < cells && corners > lower; ++i) {
      const Element& e = m_mesh.elements[static_cast<size_t>(around[i])];
      m_trialCorners[i] = WorstCornerSummed(m_mesh.nodes, e, lower, m_trialCapped[i]);
      corners = std::min(corners, m_trialCorners[i]);
    }
    double soft = 0.0;
    for (size_t i = 0; i < cells; ++i) soft += m_trialCapped[i];
    const bool softer = tie && soft > bestSoft + kBetter;
    // A cell's shape is no better than its corners: where they leave the
    // worst as it is, only the poor corners summed can make the move
    // better, and the centres are not needed to turn it down.
    if (!(corners > lower) || (!(corners > floor + kBetter) && !softer) || !KeepsSize(node)) {
      at = bestAt;
      return;
    }
    if (m_smoothing.solverFaces) Recentre(node);
    const double worst = WorstAround(node, lower, m_trialCorners.data());
    bool better = worst > floor + kBetter || (softer && worst > lower);
    better = better && KeepsUprightAround(node) && KeepsSkewAround(node);
    if (m_smoothing.solverFaces) RestoreCentres(node);
    if (better) {
      best = worst;
      bestSoft = soft;
      bestAt = at;
    }
    at = bestAt;
  };
  // A wall node outside the channel takes the channel first, at any cost
  // down to the floor.
  if (OutsideChannel(node)) tryAt(start, std::min(kKeepCorner, best) - 2.0 * kBetter);
  double step = 1e300;
  Point3 middle{0, 0, 0};
  for (const int* j = m_around.NodesBegin(node); j != m_around.NodesEnd(node); ++j) {
    const Point3& q = m_mesh.nodes[static_cast<size_t>(*j)];
    step = std::min(step, Norm(Sub(q, start)));
    middle = Add(middle, q);
  }
  middle = Scale(middle, 1.0 / static_cast<double>(m_around.NodesEnd(node) - m_around.NodesBegin(node)));
  step *= kFirstStep;
  const double climbStep = 2.0 * step;
  if (!onWall) tryAt(middle, best, true);
  for (int round = 0; round < kSearchRounds; ++round) {
    const Point3 from = bestAt;
    for (const Point3& axis : m_channel.frame) {
      tryAt(Add(from, Scale(axis, step)), best, true);
      tryAt(Sub(from, Scale(axis, step)), best, true);
    }
    if (bestAt == from) step *= 0.5;
  }
  // Where the axes leave the worst cells level, they often rise together
  // along a slant no axis takes.
  for (int climb = 0; climb < kClimbs; ++climb) {
    double reach = 0.0;
    const Point3 up = AscentOf(node, climbStep, reach);
    const double before = best;
    for (int halving = 0; halving <= kClimbHalvings && reach > 0.0 && !(best > before); ++halving, reach *= 0.5)
      tryAt(Add(bestAt, Scale(up, reach)), best);
    if (!(best > before)) break;
  }
  if (bestAt == start) return false;
  Settle(node);
  return true;
}

// The direction in which the cells round node, each shape as a linear
// function of where the node stands, rise together at their worst, and in
// reach how far along it (in its own length) that model holds: until a cell
// now above the worst would meet it, and no further than step. Zero reach
// where no direction raises them all. Each cell's slope is a forward
// difference over a thousandth of the node's shortest edge along each
// axis of the channel's frame; a wall node takes its differences on the
// channel.
Point3 Improver::AscentOf(size_t node, double step, double& reach) {
  Point3& at = m_mesh.nodes[node];
  const Point3 here = at;
  const int* begin = m_around.ElementsBegin(node);
  const auto count = static_cast<size_t>(m_around.ElementsEnd(node) - begin);
  auto shapesAt = [&](const Point3& p, double* shapes) {
    at = m_wall[node] ? m_channel.Project(p) : p;
    if (m_smoothing.solverFaces) Recentre(node);
    for (size_t i = 0; i < count; ++i) shapes[i] = CellQuality(static_cast<size_t>(begin[i]));
    if (m_smoothing.solverFaces) RestoreCentres(node);
  };
  m_shapes.resize(4 * count);
  shapesAt(here, m_shapes.data());
  const double h = kSlopeStep * m_shortest[node];
  for (size_t a = 0; a < 3; ++a)
    shapesAt(Add(here, Scale(m_channel.frame[a], h)), m_shapes.data() + (a + 1) * count);
  at = here;
  double worst = 1e300;
  for (size_t i = 0; i < count; ++i) worst = std::min(worst, m_shapes[i]);
  m_slopes.resize(count);
  m_active.clear();
  for (size_t i = 0; i < count; ++i) {
    for (size_t a = 0; a < 3; ++a) m_slopes[i][a] = (m_shapes[(a + 1) * count + i] - m_shapes[i]) / h;
    if (m_shapes[i] < worst + kAscentBand) m_active.push_back(m_slopes[i]);
  }
  reach = 0.0;
  // Shapes that are not numbers give no way up.
  if (m_active.empty()) return Point3{0.0, 0.0, 0.0};
  const Point3 up = ShortestInHull(m_active);
  const double rise = Dot(up, up);
  // Where no direction raises them all, the hull's shortest vector shrinks
  // towards nothing and what is left of it points anywhere: rounding, not the
  // cells, would choose the way, and a junction turned would climb another.
  double steepest = 0.0;
  for (const Point3& slope : m_active) steepest = std::max(steepest, Dot(slope, slope));
  if (!(rise > kLevel * kLevel * steepest) || !std::isfinite(rise)) return up;
  reach = step / std::sqrt(rise);
  for (size_t i = 0; i < count; ++i) {
    const double slope = Dot(m_slopes[i], up);
    if (m_shapes[i] >= worst + kAscentBand && slope < rise)
      reach = std::min(reach, (m_shapes[i] - worst) / (rise - slope));
  }
  // The slopes are along the channel's frame, so that a junction moved or
  // turned climbs the same way.
  return Add(Add(Scale(m_channel.frame[0], up[0]), Scale(m_channel.frame[1], up[1])), Scale(m_channel.frame[2], up[2]));
}

// Raises the worst cells first: takes the worst cell under kPoorCorner,
// searches from each of its corners, and again while cells are left under it
// and the work stays within its bound; then moves each wall node still
// outside the channel. A cell that no search of its corners bettered is
// left as it is.
void Improver::Smooth() {
  // Cells queue by their worst corner to the nearest kBetter, the lower
  // number first among equals: mirror-image cells, equal but for the
  // rounding of where the junction lies, take the same turn wherever it
  // lies.
  auto key = [](double quality) { return std::round(quality / kBetter); };
  using Entry = std::pair<double, size_t>;  // a cell's key when queued, the cell
  std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> worst;
  for (size_t e = 0; e < m_quality.size(); ++e)
    if (m_quality[e] < kPoorCorner) worst.push({key(m_quality[e]), e});
  std::vector<char> givenUp(m_quality.size(), 0);
  int searches = 0;
  const int bound = m_smoothing.searchesPerCell * static_cast<int>(std::min<size_t>(worst.size(), m_smoothing.poorCells));
  while (!worst.empty() && searches < bound) {
    const auto [queued, cell] = worst.top();
    worst.pop();
    if (queued != key(m_quality[cell]) || givenUp[cell]) continue;  // stale: requeued when it changed
    const Element& element = m_mesh.elements[cell];
    bool moved = false;
    for (int c = 0; c < element.CornerCount(); ++c) {
      const auto node = static_cast<size_t>(CornerOf(element, c));
      if (m_fixed[node]) continue;
      ++searches;
      if (!SearchFrom(node)) continue;
      moved = true;
      for (const int* e = m_around.ElementsBegin(node); e != m_around.ElementsEnd(node); ++e)
        if (m_quality[static_cast<size_t>(*e)] < kPoorCorner)
          worst.push({key(m_quality[static_cast<size_t>(*e)]), static_cast<size_t>(*e)});
    }
    if (!moved) givenUp[cell] = 1;
  }
  for (size_t k = 0; k < m_mesh.nodes.size(); ++k)
    if (OutsideChannel(k)) SearchFrom(k);
}

}  // namespace

double Channel::Outside(const Point3& p, double* localRadius) const {
  double best = 0.0, radius = 1.0;
  for (size_t i = 0; i < runners.size(); ++i) {
    const MachinedRunner& runner = runners[i];
    const double outside = OutsideOf(center, runner, p);
    if (i == 0 || outside < best) {
      best = outside;
      radius = Dot(Sub(p, center), runner.axis) < 0.5 * runner.length ? runner.junctionRadius : runner.farRadius;
    }
  }
  if (localRadius != nullptr) *localRadius = radius;
  return best;
}

Point3 Channel::Project(const Point3& p) const {
  // The nearest point of each runner's surface that no other runner holds
  // inside is a point of the union's surface; the nearest of those.
  Point3 best = p;
  double nearest = -1.0;
  for (size_t i = 0; i < runners.size(); ++i) {
    const Point3 q = NearestOf(center, runners[i], p).surface;
    bool covered = false;
    for (size_t j = 0; j < runners.size() && !covered; ++j)
      covered = j != i && OutsideOf(center, runners[j], q) < -kOnWall * runners[j].junctionRadius;
    if (covered) continue;
    const double d = Norm(Sub(q, p));
    if (nearest < 0.0 || d < nearest) {
      nearest = d;
      best = q;
    }
  }
  if (nearest >= 0.0) return best;
  // Every runner's nearest point lies inside another: p faces a crease
  // where two runners meet. The way from p to the nearest runner's axis
  // crosses the surface there.
  size_t closest = 0;
  double least = 0.0;
  for (size_t i = 0; i < runners.size(); ++i) {
    const double outside = OutsideOf(center, runners[i], p);
    if (i == 0 || outside < least) {
      least = outside;
      closest = i;
    }
  }
  const Point3 axis = Sub(runners[closest].far, center);
  const double t = std::max(0.0, std::min(1.0, Dot(Sub(p, center), axis) / Dot(axis, axis)));
  Point3 inside = Add(center, Scale(axis, t)), outside = p;
  // A point inside the channel looks for the surface away from the axis.
  if (Outside(p) <= 0.0) {
    const Point3 away = Sub(p, inside);
    if (!(Norm(away) > 0.0)) return p;
    inside = p;
    double reach = runners[closest].junctionRadius + runners[closest].farRadius;
    outside = Add(p, Scale(away, reach / Norm(away)));
    for (int doubling = 0; doubling < kReachDoublings && Outside(outside) <= 0.0; ++doubling) {
      reach *= 2.0;
      outside = Add(p, Scale(away, reach / Norm(away)));
    }
    if (Outside(outside) <= 0.0) return p;
  }
  for (int halving = 0; halving < kCreaseHalvings; ++halving) {
    const Point3 mid = Scale(Add(inside, outside), 0.5);
    (Outside(mid) > 0.0 ? outside : inside) = mid;
  }
  return inside;
}

Channel ChannelOf(const Point3& center, const std::vector<Point3>& farPoints, const std::vector<double>& radii) {
  Channel channel;
  channel.center = center;
  for (size_t i = 0; i < farPoints.size(); ++i) {
    const Point3 out = Sub(farPoints[i], center);
    const double length = Norm(out);
    channel.runners.push_back({farPoints[i], radii[2 * i + 1], radii[2 * i], Scale(out, 1.0 / length), length});
  }
  // The junction's own axes: runner 0's, then square to it towards runner
  // 1 (or any way square, should runner 1 run along it).
  const Point3 first = channel.runners[0].axis;
  Point3 second = farPoints.size() > 1 ? channel.runners[1].axis : Point3{0, 0, 0};
  second = Sub(second, Scale(first, Dot(second, first)));
  if (!(Norm(second) > 1e-6)) second = Cross(first, std::fabs(first[0]) < 0.6 ? Point3{1, 0, 0} : Point3{0, 1, 0});
  second = Unit(second);
  channel.frame = {first, second, Cross(first, second)};
  return channel;
}

namespace {

// A pyramid as a solver's scaled Jacobian judges it: the base cut along
// either diagonal into four tetrahedra with the apex, each scored by its
// volume over the largest product of the three edges at one of its
// corners, the smallest times two (the equilateral pyramid's 1), and a
// score past 1 folded back below it. The corners alone miss a base corner
// whose far neighbour leans away: its own edges stay square.
double PyramidAsSolversJudge(const std::vector<Point3>& nodes, const Element& element) {
  static const int kBaseTriangles[4][3] = {{0, 1, 2}, {0, 2, 3}, {0, 1, 3}, {1, 2, 3}};
  const Point3& apex = nodes[static_cast<size_t>(CornerOf(element, 4))];
  double smallest = 1.0;
  for (const auto& t : kBaseTriangles) {
    const Point3& p0 = nodes[static_cast<size_t>(CornerOf(element, t[0]))];
    const Point3& p1 = nodes[static_cast<size_t>(CornerOf(element, t[1]))];
    const Point3& p2 = nodes[static_cast<size_t>(CornerOf(element, t[2]))];
    const double l01 = Norm(Sub(p1, p0)), l12 = Norm(Sub(p2, p1)), l20 = Norm(Sub(p0, p2));
    const double l03 = Norm(Sub(apex, p0)), l13 = Norm(Sub(apex, p1)), l23 = Norm(Sub(apex, p2));
    const double largest = std::max({l01 * l20 * l03, l01 * l12 * l13, l12 * l20 * l23, l03 * l13 * l23});
    if (!(largest > 0.0)) return -1.0;
    smallest = std::min(smallest, Dot(Cross(Sub(p1, p0), Sub(p2, p0)), Sub(apex, p0)) / largest * 2.0);
  }
  return smallest > 1.0 ? 2.0 - smallest : smallest;
}

double WorstCornerSummed(const std::vector<Point3>& nodes, const Element& element, double stopAt, double& capped) {
  const KindTables& tables = TablesOf(element.kind);
  double worst = 1.0;
  for (const Corner& c : tables.corners) {
    const double corner = CornerJacobian(nodes, element, c, tables.ideal);
    capped += std::min(kPoorCorner, corner);
    worst = std::min(worst, corner);
    if (worst <= stopAt) return worst;
  }
  if (element.kind == ElementKind::Pyramid) return std::min(worst, PyramidAsSolversJudge(nodes, element));
  if (element.kind != ElementKind::Hexa) return worst;
  // A hexahedron is also judged at its centre, along the mean of its edges
  // in each of its three directions: a cell sheared one way at one end and
  // the other way at the other keeps square corners there.
  const auto sum = [&](std::initializer_list<int> corners) {
    Point3 s{0.0, 0.0, 0.0};
    for (const int c : corners) s = Add(s, nodes[static_cast<size_t>(CornerOf(element, c))]);
    return s;
  };
  const Point3 xi = Sub(sum({1, 2, 5, 6}), sum({0, 3, 4, 7}));
  const Point3 eta = Sub(sum({2, 3, 6, 7}), sum({0, 1, 4, 5}));
  const Point3 zeta = Sub(sum({4, 5, 6, 7}), sum({0, 1, 2, 3}));
  const double lengths = std::sqrt(Dot(xi, xi) * Dot(eta, eta) * Dot(zeta, zeta));
  return std::min(worst, lengths > 0.0 ? Dot(Cross(xi, eta), zeta) / lengths : -1.0);
}

}  // namespace

double WorstCorner(const std::vector<Point3>& nodes, const Element& element, double stopAt) {
  double capped = 0.0;
  return WorstCornerSummed(nodes, element, stopAt, capped);
}

ImproveReport ImproveMesh(JunctionMesh& mesh, const Channel& channel, const std::vector<char>& fixed,
                          const Smoothing& smoothing) {
  ImproveReport report;
  // Most junctions need nothing: no poor cell, and no node outside the
  // channel (a node inside the mesh lies outside only where the wall does).
  report.worstBefore = 1.0;
  for (const Element& e : mesh.elements) report.worstBefore = std::min(report.worstBefore, WorstCorner(mesh.nodes, e));
  for (const Point3& p : mesh.nodes) {
    double radius = 1.0;
    report.wallBefore = std::max(report.wallBefore, channel.Outside(p, &radius) / radius);
  }
  report.worstAfter = report.worstBefore;
  report.wallAfter = report.wallBefore;
  if (report.worstBefore >= kPoorCorner && report.wallBefore <= kOnWall) return report;

  Improver improver(mesh, channel, fixed, smoothing);
  report.moved = true;
  report.wallBefore = improver.Wall();
  // Smoothing first gives the poor cells the room the wall's move needs;
  // each move of the wall leaves the cells round it to be smoothed again.
  improver.Smooth();
  for (int pass = 0; pass < kWallPasses && improver.Wall() > kOnWall; ++pass) {
    improver.FollowWall();
    improver.Smooth();
  }
  if (improver.Wall() > kSolverWall) {
    improver.EaseWallFloors();
    for (int pass = 0; pass < kEasierWallPasses && improver.Wall() > kOnWall; ++pass) {
      improver.FollowWall();
      improver.Smooth();
    }
  }
  for (int pass = 0; pass < kLastSmooths && improver.WorstCell() < kSolverCorner; ++pass) improver.Smooth();
  report.worstAfter = improver.WorstCell();
  report.wallAfter = improver.Wall();
  return report;
}

}  // namespace vela
