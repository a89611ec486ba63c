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

// The signed volume of the tetrahedron a, b, c, d over the cube of its
// longest edge: positive when d lies on the side a, b, c turn
// counter-clockwise about.
double TetMeasure(const Vec& a, const Vec& b, const Vec& c, const Vec& d) {
  const Vec ab = Sub(b, a), ac = Sub(c, a), ad = Sub(d, a);
  double longest = 0.0;
  for (const Vec& e : {ab, ac, ad, Sub(c, b), Sub(d, b), Sub(d, c)}) longest = std::max(longest, Dot(e, e));
  const double volume = Dot(Cross(ab, ac), ad) / 6.0;
  return longest > 0.0 ? volume / (longest * std::sqrt(longest)) : 0.0;
}

}  // namespace

bool FaceTetsUpright(const std::vector<Vec>& corners, const FaceGeometry& face, const Vec& ownerCentre,
                     const Vec* neighbourCentre, double least) {
  const size_t n = corners.size();
  // The area points out of the owner: a triangle on the face turning the
  // same way has the owner's centre behind it and the neighbour's before.
  for (size_t i = 0; i < n; ++i) {
    const Vec& p = corners[i];
    const Vec& q = corners[(i + 1) % n];
    if (!(-TetMeasure(p, q, face.centre, ownerCentre) > least)) return false;
    if (neighbourCentre && !(TetMeasure(p, q, face.centre, *neighbourCentre) > least)) return false;
  }
  for (size_t base = 0; base < n; ++base) {
    bool upright = true;
    for (size_t t = 1; t + 1 < n && upright; ++t) {
      const Vec& a = corners[(base + t) % n];
      const Vec& b = corners[(base + t + 1) % n];
      upright = TetMeasure(ownerCentre, corners[base], a, b) > least &&
                (!neighbourCentre || TetMeasure(*neighbourCentre, corners[base], b, a) > least);
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


bool AllFinite(const std::vector<Vec>& corners) {
  return std::all_of(corners.begin(), corners.end(), [](const Vec& p) { return IsFinite(p); });
}

// What is summed per cell over its faces.
struct CellSums {
  Vec faceCentres{};   // for the centre's estimate
  int faces = 0;
  Vec weighted{};      // pyramid centroids weighted by their volumes
  double volume3 = 0.0;
  DeterminantSums determinant;
};

// A face of the mesh with its geometry; neighbour -1 on the boundary.
// A face by its nodes; its corners are read again where they are needed, so
// that a million faces do not hold a million small lists.
struct MeshFace {
  int size = 0;
  std::array<int, 4> nodes{};
  FaceGeometry geometry;
  int owner = -1;
  int neighbour = -1;
};

// The corners of a face into a list the caller keeps.
void ReadCorners(const MemoryMesh& mesh, const MeshFace& face, std::vector<Vec>& corners) {
  corners.clear();
  for (int k = 0; k < face.size; ++k) corners.push_back(mesh.nodes[static_cast<size_t>(face.nodes[static_cast<size_t>(k)])]);
}

}  // namespace

void MeasureFiniteVolume(const MemoryMesh& mesh, const std::vector<char>& judged, const FaceSharing& sharing,
                         QualityReport& r, int threads) {
  // Each face's geometry on the threads; the sums over a cell's faces then
  // in face order, as they always were, so that they round alike.
  const size_t internalCount = sharing.internal.size();
  std::vector<MeshFace> faces(internalCount + sharing.boundary.size());
  std::vector<char> kept(faces.size(), 0);
  ForRanges(threads, faces.size(), [&](size_t begin, size_t end, int) {
    std::vector<Vec> corners;
    for (size_t i = begin; i < end; ++i) {
      MeshFace& face = faces[i];
      if (i < internalCount) {
        const InternalFace& f = sharing.internal[i];
        face.size = f.size, face.nodes = f.nodes, face.owner = f.owner, face.neighbour = f.neighbour;
      } else {
        const BoundaryFace& f = sharing.boundary[i - internalCount];
        face.size = f.size, face.nodes = f.nodes, face.owner = f.element, face.neighbour = -1;
      }
      ReadCorners(mesh, face, corners);
      if (!AllFinite(corners)) continue;  // the non-finite node is the fault; no geometry to judge
      face.geometry = FaceCentreAndArea(corners);
      kept[i] = 1;
    }
  });

  std::vector<CellSums> cells(mesh.elements.size());
  auto isJudged = [&](int cell) { return cell >= 0 && judged[static_cast<size_t>(cell)]; };
  for (size_t i = 0; i < faces.size(); ++i) {
    if (!kept[i]) continue;
    const MeshFace& f = faces[i];
    for (const int cell : {f.owner, f.neighbour})
      if (isJudged(cell)) {
        CellSums& c = cells[static_cast<size_t>(cell)];
        c.faceCentres = Add(c.faceCentres, f.geometry.centre);
        ++c.faces;
        if (f.neighbour >= 0) c.determinant.Add(f.geometry.area);
      }
  }
  // The pyramids on every face from each side's estimate; the area vector
  // points out of the owner and into the neighbour.
  for (size_t i = 0; i < faces.size(); ++i) {
    if (!kept[i]) continue;
    const MeshFace& f = faces[i];
    for (const int cell : {f.owner, f.neighbour})
      if (isJudged(cell)) {
        CellSums& c = cells[static_cast<size_t>(cell)];
        const Vec estimate = Scaled(c.faceCentres, 1.0 / c.faces);
        const double sign = cell == f.owner ? 1.0 : -1.0;
        const double pyramid3 = sign * Dot(f.geometry.area, Sub(f.geometry.centre, estimate));
        c.weighted = Add(c.weighted, Scaled(Add(Scaled(f.geometry.centre, 0.75), Scaled(estimate, 0.25)), pyramid3));
        c.volume3 += pyramid3;
      }
  }
  std::vector<Vec> centres(mesh.elements.size());
  std::vector<double> determinants(mesh.elements.size(), 0.0);
  ForRanges(threads, cells.size(), [&](size_t begin, size_t end, int) {
    for (size_t i = begin; i < end; ++i) {
      if (!judged[i] || cells[i].faces == 0) continue;
      const CellSums& c = cells[i];
      centres[i] = std::fabs(c.volume3) > kVSmall ? Scaled(c.weighted, 1.0 / c.volume3)
                                                   : Scaled(c.faceCentres, 1.0 / c.faces);
      determinants[i] = c.determinant.Value();
    }
  });
  FiniteVolumeMeasures& m = r.finiteVolume;
  const Limits& limits = r.limits;
  FaultList& smallDeterminant = r.faults[static_cast<size_t>(Fault::SmallDeterminant)];
  for (size_t i = 0; i < cells.size(); ++i) {
    if (!judged[i] || cells[i].faces == 0) continue;
    m.minDeterminant = std::min(m.minDeterminant, determinants[i]);
    ++m.cells;
    if (determinants[i] < limits.minDeterminant) Note(smallDeterminant, static_cast<int>(i));
  }

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
  std::vector<FaceMeasures> ranges((faces.size() + kRangeLength - 1) / kRangeLength);
  ForRanges(threads, faces.size(), [&](size_t begin, size_t end, int) {
    FaceMeasures& out = ranges[begin / kRangeLength];
    std::vector<Vec> corners;
    for (size_t i = begin; i < end; ++i) {
      const MeshFace& f = faces[i];
      if (!kept[i] || !isJudged(f.owner) || cells[static_cast<size_t>(f.owner)].faces == 0) continue;
      ReadCorners(mesh, f, corners);
      const Vec& owner = centres[static_cast<size_t>(f.owner)];
      double skew = 0.0;
      const Vec* beyond = nullptr;
      if (f.neighbour < 0) {
        skew = BoundaryFaceSkewness(corners, f.geometry, owner);
      } else {
        if (!isJudged(f.neighbour)) continue;
        const Vec& neighbour = centres[static_cast<size_t>(f.neighbour)];
        beyond = &neighbour;
        ++out.internalFaces;
        const double weight = FaceWeight(f.geometry, owner, neighbour);
        const double angle = NonOrthogonality(f.geometry, owner, neighbour);
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
        skew = FaceSkewness(corners, f.geometry, owner, neighbour);
      }
      out.maxSkewness = std::max(out.maxSkewness, skew);
      if (skew > limits.maxSkewness) {
        ++out.skewed;
        out.skewedElements.push_back(f.owner);
        if (f.neighbour >= 0) out.skewedElements.push_back(f.neighbour);
      }
      if (std::isfinite(limits.minFaceTet) && !FaceTetsUpright(corners, f.geometry, owner, beyond, limits.minFaceTet)) {
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
