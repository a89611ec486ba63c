// The finite-volume measures of finite_volume.h, and the pass over a whole
// mesh that takes them for the quality report: cells with small determinant,
// faces with small interpolation weight, severely non-orthogonal and highly
// skew faces.
//
// OpenFOAM adds tiny guards to its divisors (1e-300, 1e-150 for doubles)
// rather than testing for zero; they are kept as they are, so that a
// degenerate face or cell comes out here as it does in checkMesh.

#include "finite_volume.h"

#include "parallel.h"
#include "quality_detail.h"

#include <algorithm>
#include <limits>
#include <cmath>

namespace vela::quality {

namespace {

constexpr double kVSmall = 1e-300;
constexpr double kRootVSmall = 1e-150;

double Degrees(double cosine) { return std::acos(std::clamp(cosine, -1.0, 1.0)) * 180.0 / kPi; }

// The skewness vector's length over the face's reach along it, the reach
// being at least `least`.
double NormalisedSkew(const std::vector<Vec>& corners, const Vec& centre, const Vec& skew, double least) {
  const double length = Norm(skew);
  const Vec along = Scaled(skew, 1.0 / (length + kRootVSmall));
  double reach = least + kRootVSmall;
  for (const Vec& p : corners) reach = std::max(reach, std::fabs(Dot(along, Sub(p, centre))));
  return length / reach;
}

// The component of offset that the line `d` does not explain: offset less
// the point of d that lies on the face's plane.
Vec SkewVector(const Vec& area, const Vec& offset, const Vec& d) {
  return Sub(offset, Scaled(d, Dot(area, offset) / (Dot(area, d) + kRootVSmall)));
}

}  // namespace

FaceGeometry FaceCentreAndArea(const std::vector<Vec>& corners) {
  const size_t n = corners.size();
  if (n == 3) {
    const Vec sum = Add(Add(corners[0], corners[1]), corners[2]);
    return {Scaled(sum, 1.0 / 3.0), Scaled(Cross(Sub(corners[1], corners[0]), Sub(corners[2], corners[0])), 0.5)};
  }
  Vec mean{0, 0, 0};
  for (const Vec& p : corners) mean = Add(mean, p);
  mean = Scaled(mean, 1.0 / static_cast<double>(n));
  Vec sumN{0, 0, 0}, sumAc{0, 0, 0};
  double sumA = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const Vec& here = corners[i];
    const Vec& next = corners[(i + 1) % n];
    // Twice the triangle's area vector and three times its centroid: the
    // factors cancel in the weighted centre and are put right below.
    const Vec normal = Cross(Sub(next, here), Sub(mean, here));
    const double a = Norm(normal);
    sumN = Add(sumN, normal);
    sumA += a;
    sumAc = Add(sumAc, Scaled(Add(Add(here, next), mean), a));
  }
  if (sumA < kRootVSmall) return {mean, {0, 0, 0}};
  return {Scaled(sumAc, 1.0 / (3.0 * sumA)), Scaled(sumN, 0.5)};
}

Vec CellCentre(const std::vector<FaceGeometry>& outwardFaces) {
  Vec estimate{0, 0, 0};
  for (const FaceGeometry& f : outwardFaces) estimate = Add(estimate, f.centre);
  estimate = Scaled(estimate, 1.0 / static_cast<double>(outwardFaces.size()));
  Vec weighted{0, 0, 0};
  double volume3 = 0.0;
  for (const FaceGeometry& f : outwardFaces) {
    const double pyramid3 = Dot(f.area, Sub(f.centre, estimate));
    weighted = Add(weighted, Scaled(Add(Scaled(f.centre, 0.75), Scaled(estimate, 0.25)), pyramid3));
    volume3 += pyramid3;
  }
  return std::fabs(volume3) > kVSmall ? Scaled(weighted, 1.0 / volume3) : estimate;
}

double CellDeterminant(const std::vector<Vec>& internalFaceAreas) {
  detail::DeterminantSums sums;
  for (const Vec& area : internalFaceAreas) sums.Add(area);
  return sums.Value();
}

double FaceWeight(const FaceGeometry& face, const Vec& ownerCentre, const Vec& neighbourCentre) {
  const double toOwner = std::fabs(Dot(face.area, Sub(face.centre, ownerCentre)));
  const double toNeighbour = std::fabs(Dot(face.area, Sub(neighbourCentre, face.centre)));
  return std::min(toOwner, toNeighbour) / (toOwner + toNeighbour + kVSmall);
}

double NonOrthogonality(const FaceGeometry& face, const Vec& ownerCentre, const Vec& neighbourCentre) {
  const Vec d = Sub(neighbourCentre, ownerCentre);
  return Degrees(Dot(d, face.area) / (Norm(d) * Norm(face.area) + kRootVSmall));
}

double FaceSkewness(const std::vector<Vec>& corners, const FaceGeometry& face, const Vec& ownerCentre,
                    const Vec& neighbourCentre) {
  const Vec d = Sub(neighbourCentre, ownerCentre);
  const Vec skew = SkewVector(face.area, Sub(face.centre, ownerCentre), d);
  return NormalisedSkew(corners, face.centre, skew, 0.2 * Norm(d));
}

namespace {

// Whether a tetrahedron's measure is above least: its signed volume over the
// cube of its longest edge, positive when the fourth corner lies on the side
// the first three turn counter-clockwise about. Given in pieces, so that the
// tetrahedra of a face share what they have in common: the squared lengths
// of the edges ab, ac, ad, bc, bd and cd (the longest taken in that order)
// and six times the volume, (ab x ac) . ad.
//
// Against checkMesh's bound of 0 the volume's sign mostly settles it
// without the root and the division: a positive volume stays positive over
// a divisor of at most 1, and over a larger one while it is well above the
// divisor's bound, the longest edge squared times itself. Else, and for any
// other bound, the measure is taken as it stands.
inline bool TetAbove(double ab, double ac, double ad, double bc, double bd, double cd, double sixVolume,
                     double least) {
  const double longest =
      std::max(std::max(std::max(std::max(std::max(std::max(0.0, ab), ac), ad), bc), bd), cd);
  const double volume = sixVolume / 6.0;
  if (least == 0.0 && longest > 0.0) {
    if (!(volume > 0.0)) return false;
    if (longest <= 1.0 || volume > longest * longest * 1e-300) return true;
  }
  return (longest > 0.0 ? volume / (longest * std::sqrt(longest)) : 0.0) > least;
}

// TetAbove settled by the volume alone, for a tetrahedron none of whose
// squared edges exceeds longestBound: against a bound of 0, a positive
// volume passes when the bound's test passes, and then the longest edge's
// passes too. False leaves it to TetAbove.
inline bool SurelyAbove(double sixVolume, double least, double longestBound) {
  if (least != 0.0) return false;
  const double volume = sixVolume / 6.0;
  return volume > 0.0 && (longestBound <= 1.0 || volume > longestBound * longestBound * 1e-300);
}

// The tetrahedra on one triangle a, b, c of a face, with one cell centre or
// another as the fourth corner: whether the measure of a, b, c, d (turned
// by sign) is above least. Edges are measured only where the volume and
// longestBound do not settle it.
class TriangleTets {
public:
  TriangleTets(const Vec& a, const Vec& b, const Vec& c, double longestBound)
      : m_a(a), m_b(b), m_c(c), m_ab(Sub(b, a)), m_ac(Sub(c, a)), m_normal(Cross(m_ab, m_ac)),
        m_longestBound(longestBound) {}
  bool Above(const Vec& d, double sign, double least) const {
    const Vec ad = Sub(d, m_a);
    const double sixVolume = sign * Dot(m_normal, ad);
    if (SurelyAbove(sixVolume, least, m_longestBound)) return true;
    const Vec bd = Sub(d, m_b), cd = Sub(d, m_c), bc = Sub(m_c, m_b);
    return TetAbove(Dot(m_ab, m_ab), Dot(m_ac, m_ac), Dot(ad, ad), Dot(bc, bc), Dot(bd, bd), Dot(cd, cd), sixVolume,
                    least);
  }

private:
  const Vec &m_a, &m_b, &m_c;
  Vec m_ab, m_ac, m_normal;
  double m_longestBound;
};

// No squared distance between two of the points comes out longer than
// this: each difference is at most the box's side, and rounding keeps that
// order through the squares and the sum; the last factor covers any other
// order the compiler may choose.
double SquaredDiagonalBound(const std::vector<Vec>& corners, const Vec& centre, const Vec& owner,
                            const Vec* neighbour) {
  Vec lo = centre, hi = centre;
  const auto widen = [&](const Vec& p) {
    for (size_t a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], p[a]);
      hi[a] = std::max(hi[a], p[a]);
    }
  };
  for (const Vec& p : corners) widen(p);
  widen(owner);
  if (neighbour) widen(*neighbour);
  const Vec side = Sub(hi, lo);
  return Dot(side, side) * (1.0 + 1e-9);
}

}  // namespace

bool FaceTetsUpright(const std::vector<Vec>& corners, const FaceGeometry& face, const Vec& ownerCentre,
                     const Vec* neighbourCentre, double least) {
  const size_t n = corners.size();
  const double longestBound = SquaredDiagonalBound(corners, face.centre, ownerCentre, neighbourCentre);
  // The area points out of the owner: a triangle on the face turning the
  // same way has the owner's centre behind it and the neighbour's before.
  for (size_t i = 0; i < n; ++i) {
    const TriangleTets edge(corners[i], corners[(i + 1) % n], face.centre, longestBound);
    if (!edge.Above(ownerCentre, -1.0, least)) return false;
    if (neighbourCentre && !edge.Above(*neighbourCentre, 1.0, least)) return false;
  }
  // The fan's tetrahedra have a cell centre first: the centre, the base
  // corner and a triangle's other two corners, turned the other way round
  // for the neighbour. Their edges along the triangle are the same lengths
  // on both sides.
  for (size_t base = 0; base < n; ++base) {
    const Vec& b = corners[base];
    bool upright = true;
    for (size_t t = 1; t + 1 < n && upright; ++t) {
      const Vec& p = corners[(base + t) % n];
      const Vec& q = corners[(base + t + 1) % n];
      const auto above = [&](const Vec& centre, const Vec& first, const Vec& second) {
        const Vec ab = Sub(b, centre), ac = Sub(first, centre), ad = Sub(second, centre);
        const double sixVolume = Dot(Cross(ab, ac), ad);
        if (SurelyAbove(sixVolume, least, longestBound)) return true;
        const Vec bFirst = Sub(first, b), bSecond = Sub(second, b), pq = Sub(q, p);
        return TetAbove(Dot(ab, ab), Dot(ac, ac), Dot(ad, ad), Dot(bFirst, bFirst), Dot(bSecond, bSecond), Dot(pq, pq),
                        sixVolume, least);
      };
      upright = above(ownerCentre, p, q) && (!neighbourCentre || above(*neighbourCentre, q, p));
    }
    if (upright) return true;
  }
  return false;
}

double BoundaryFaceSkewness(const std::vector<Vec>& corners, const FaceGeometry& face, const Vec& ownerCentre) {
  const Vec offset = Sub(face.centre, ownerCentre);
  const Vec normal = Scaled(face.area, 1.0 / (Norm(face.area) + kRootVSmall));
  const Vec d = Scaled(normal, Dot(normal, offset));
  const Vec skew = SkewVector(face.area, offset, d);
  return NormalisedSkew(corners, face.centre, skew, 0.4 * Norm(d));
}

namespace detail {

void DeterminantSums::Add(const Vec& area) {
  const double products[6] = {area[0] * area[0], area[0] * area[1], area[0] * area[2],
                              area[1] * area[1], area[1] * area[2], area[2] * area[2]};
  for (size_t k = 0; k < 6; ++k) tensor[k] += products[k];
  lengths += Norm(area);
  ++count;
}

double DeterminantSums::Value() const {
  if (count == 0 || lengths < kRootVSmall) return 0.0;
  // Each area divided by the mean length, as the sum is taken: the tensor
  // divided by the mean's square.
  const double mean = lengths / count;
  double t[6];
  for (size_t k = 0; k < 6; ++k) t[k] = tensor[k] / mean / mean;
  const double xx = t[0], xy = t[1], xz = t[2], yy = t[3], yz = t[4], zz = t[5];
  const double det = xx * (yy * zz - yz * yz) - xy * (xy * zz - yz * xz) + xz * (xy * yz - yy * xz);
  return std::fabs(det) / 8.0;
}

namespace {

// A face's corners into a list the caller keeps; false when one is not
// finite (the non-finite node is the fault; there is no geometry to judge).
bool ReadCorners(const MemoryMesh& mesh, int size, const std::array<int, 4>& nodes, std::vector<Vec>& corners) {
  corners.clear();
  for (int k = 0; k < size; ++k) {
    const Vec& p = mesh.nodes[static_cast<size_t>(nodes[static_cast<size_t>(k)])];
    if (!IsFinite(p)) return false;
    corners.push_back(p);
  }
  return true;
}

// A face's geometry, kept for both its cells; none when a corner is not finite.
struct StoredFace {
  FaceGeometry geometry;
  bool kept;
};

}  // namespace

void MeasureFiniteVolume(const MemoryMesh& mesh, const std::vector<char>& judged, const FaceSharing& sharing,
                         QualityReport& r, int threads) {
  // Each face's geometry on the threads, once for both its cells. Faces are
  // numbered as sharing.cellFaces numbers them: internal, then boundary.
  const size_t internalCount = sharing.internal.size();
  const size_t faceCount = internalCount + sharing.boundary.size();
  const auto sizeOf = [&](size_t i) {
    return i < internalCount ? sharing.internal[i].size : sharing.boundary[i - internalCount].size;
  };
  const auto nodesOf = [&](size_t i) -> const std::array<int, 4>& {
    return i < internalCount ? sharing.internal[i].nodes : sharing.boundary[i - internalCount].nodes;
  };
  UnsetVector<StoredFace> faces(faceCount);
  ForRanges(threads, faceCount, [&](size_t begin, size_t end, int) {
    std::vector<Vec> corners;
    for (size_t i = begin; i < end; ++i) {
      StoredFace& face = faces[i];
      face.kept = ReadCorners(mesh, sizeOf(i), nodesOf(i), corners);
      face.geometry = face.kept ? FaceCentreAndArea(corners) : FaceGeometry{};
    }
  });

  // Each cell from its own faces, taken in face order, as one pass over the
  // faces would take them, so that the sums round the same on any number of
  // threads: the centre's estimate and the determinant's sums first, then
  // the pyramids on every face from the estimate (the area vector points out
  // of the owner and into the neighbour).
  const size_t cellCount = mesh.elements.size();
  UnsetVector<Vec> centres(cellCount);
  UnsetVector<double> determinants(cellCount);
  UnsetVector<char> measured(cellCount);  // judged, with a face to measure it by
  ForRanges(threads, cellCount, [&](size_t begin, size_t end, int) {
    for (size_t cell = begin; cell < end; ++cell) {
      measured[cell] = 0;
      if (!judged[cell]) continue;
      std::array<int, kMostFaces> own{};
      size_t count = 0;
      for (size_t k = 0; k < kMostFaces; ++k) {
        const int face = sharing.cellFaces[kMostFaces * cell + k];
        if (face >= 0 && faces[static_cast<size_t>(face)].kept) own[count++] = face;
      }
      if (count == 0) continue;
      std::sort(own.begin(), own.begin() + static_cast<long>(count));
      Vec faceCentres{0, 0, 0};
      DeterminantSums determinant;
      for (size_t k = 0; k < count; ++k) {
        const size_t face = static_cast<size_t>(own[k]);
        faceCentres = Add(faceCentres, faces[face].geometry.centre);
        if (face < internalCount) determinant.Add(faces[face].geometry.area);
      }
      const Vec estimate = Scaled(faceCentres, 1.0 / static_cast<int>(count));
      Vec weighted{0, 0, 0};
      double volume3 = 0.0;
      for (size_t k = 0; k < count; ++k) {
        const size_t face = static_cast<size_t>(own[k]);
        const FaceGeometry& g = faces[face].geometry;
        const bool owner = face >= internalCount || sharing.internal[face].owner == static_cast<int>(cell);
        const double sign = owner ? 1.0 : -1.0;
        const double pyramid3 = sign * Dot(g.area, Sub(g.centre, estimate));
        weighted = Add(weighted, Scaled(Add(Scaled(g.centre, 0.75), Scaled(estimate, 0.25)), pyramid3));
        volume3 += pyramid3;
      }
      centres[cell] = std::fabs(volume3) > kVSmall ? Scaled(weighted, 1.0 / volume3)
                                                   : Scaled(faceCentres, 1.0 / static_cast<int>(count));
      determinants[cell] = determinant.Value();
      measured[cell] = 1;
    }
  });
  FiniteVolumeMeasures& m = r.finiteVolume;
  const Limits& limits = r.limits;
  FaultList& smallDeterminant = r.faults[static_cast<size_t>(Fault::SmallDeterminant)];
  for (size_t i = 0; i < cellCount; ++i) {
    if (!measured[i]) continue;
    m.minDeterminant = std::min(m.minDeterminant, determinants[i]);
    ++m.cells;
    if (determinants[i] < limits.minDeterminant) Note(smallDeterminant, static_cast<int>(i));
  }
  auto isJudged = [&](int cell) { return cell >= 0 && judged[static_cast<size_t>(cell)]; };

  // The faces' measures range by range; each range's smallest and largest
  // taken in range order keep the first of equal values, as one pass would,
  // and the lists of elements are sorted when named.
  struct FaceMeasures {
    long long internalFaces = 0;
    double minWeight = std::numeric_limits<double>::infinity();
    double maxNonOrthogonality = -std::numeric_limits<double>::infinity();
    double maxSkewness = -std::numeric_limits<double>::infinity();
    long long light = 0, nonOrthogonal = 0, skewed = 0, turned = 0;
    std::vector<int> lightElements, nonOrthogonalElements, skewedElements, turnedElements;
  };
  std::vector<FaceMeasures> ranges((faceCount + kRangeLength - 1) / kRangeLength);
  ForRanges(threads, faceCount, [&](size_t begin, size_t end, int) {
    FaceMeasures& out = ranges[begin / kRangeLength];
    std::vector<Vec> corners;
    for (size_t i = begin; i < end; ++i) {
      const StoredFace& stored = faces[i];
      const FaceGeometry& geometry = stored.geometry;
      struct {
        int owner, neighbour;
      } f{};
      if (i < internalCount) f = {sharing.internal[i].owner, sharing.internal[i].neighbour};
      else f = {sharing.boundary[i - internalCount].element, -1};
      if (!stored.kept || !isJudged(f.owner) || !measured[static_cast<size_t>(f.owner)]) continue;
      ReadCorners(mesh, sizeOf(i), nodesOf(i), corners);
      const Vec& owner = centres[static_cast<size_t>(f.owner)];
      double skew = 0.0;
      const Vec* beyond = nullptr;
      if (f.neighbour < 0) {
        skew = BoundaryFaceSkewness(corners, geometry, owner);
      } else {
        if (!isJudged(f.neighbour)) continue;
        const Vec& neighbour = centres[static_cast<size_t>(f.neighbour)];
        beyond = &neighbour;
        ++out.internalFaces;
        const double weight = FaceWeight(geometry, owner, neighbour);
        const double angle = NonOrthogonality(geometry, owner, neighbour);
        out.minWeight = std::min(out.minWeight, weight);
        out.maxNonOrthogonality = std::max(out.maxNonOrthogonality, angle);
        if (weight < limits.minWeight) {
          ++out.light;
          out.lightElements.insert(out.lightElements.end(), {f.owner, f.neighbour});
        }
        if (angle > limits.maxNonOrthogonality) {
          ++out.nonOrthogonal;
          out.nonOrthogonalElements.insert(out.nonOrthogonalElements.end(), {f.owner, f.neighbour});
        }
        skew = FaceSkewness(corners, geometry, owner, neighbour);
      }
      out.maxSkewness = std::max(out.maxSkewness, skew);
      if (skew > limits.maxSkewness) {
        ++out.skewed;
        out.skewedElements.push_back(f.owner);
        if (f.neighbour >= 0) out.skewedElements.push_back(f.neighbour);
      }
      if (std::isfinite(limits.minFaceTet) && !FaceTetsUpright(corners, geometry, owner, beyond, limits.minFaceTet)) {
        ++out.turned;
        out.turnedElements.push_back(f.owner);
        if (f.neighbour >= 0) out.turnedElements.push_back(f.neighbour);
      }
    }
  });
  FaultList& smallWeight = r.faults[static_cast<size_t>(Fault::SmallWeight)];
  FaultList& nonOrthogonal = r.faults[static_cast<size_t>(Fault::NonOrthogonal)];
  FaultList& skewed = r.faults[static_cast<size_t>(Fault::Skewed)];
  FaultList& turned = r.faults[static_cast<size_t>(Fault::FaceTets)];
  std::vector<int> lightElements, nonOrthogonalElements, skewedElements, turnedElements;
  for (FaceMeasures& range : ranges) {
    m.internalFaces += range.internalFaces;
    if (range.minWeight != std::numeric_limits<double>::infinity()) m.minWeight = std::min(m.minWeight, range.minWeight);
    if (range.maxNonOrthogonality != -std::numeric_limits<double>::infinity())
      m.maxNonOrthogonality = std::max(m.maxNonOrthogonality, range.maxNonOrthogonality);
    if (range.maxSkewness != -std::numeric_limits<double>::infinity())
      m.maxSkewness = std::max(m.maxSkewness, range.maxSkewness);
    smallWeight.count += range.light;
    nonOrthogonal.count += range.nonOrthogonal;
    skewed.count += range.skewed;
    turned.count += range.turned;
    turnedElements.insert(turnedElements.end(), range.turnedElements.begin(), range.turnedElements.end());
    lightElements.insert(lightElements.end(), range.lightElements.begin(), range.lightElements.end());
    nonOrthogonalElements.insert(nonOrthogonalElements.end(), range.nonOrthogonalElements.begin(),
                                 range.nonOrthogonalElements.end());
    skewedElements.insert(skewedElements.end(), range.skewedElements.begin(), range.skewedElements.end());
  }
  NameSmallest(smallWeight, std::move(lightElements));
  NameSmallest(nonOrthogonal, std::move(nonOrthogonalElements));
  NameSmallest(skewed, std::move(skewedElements));
  NameSmallest(turned, std::move(turnedElements));
}

}  // namespace detail

}  // namespace vela::quality
