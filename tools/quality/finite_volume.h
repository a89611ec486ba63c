#pragma once

// The mesh as a finite-volume solver sees it: polyhedral cells, faces with an
// area-weighted centre and an area vector, cell centres, and the measures
// OpenFOAM's checkMesh takes of them. A mesh the element checks pass can
// still be one the solver rejects: a cell whose faces to its neighbours all
// face one way leaves its gradient undetermined; a face far nearer one cell
// centre than the other starves the interpolation. The definitions follow
// OpenFOAM's (primitiveMeshTools, polyMeshTools, polyMeshCheck) to the
// rounding guards, so that the counts agree with checkMesh's on the same mesh.
//
// Faces are given as their corners in order; an area vector points the way
// the corners turn counter-clockwise (out of the owner cell when the corners
// are in the owner's outward turn).

#include "vec.h"

#include <vector>

namespace vela::quality {

struct FaceGeometry {
  Vec centre{};  // the area-weighted centre
  Vec area{};    // normal to the face, as long as the face's area
};

// A triangle directly: its corners' mean and half the cross product of two
// sides. A larger polygon as triangles fanned about the mean of its corners:
// the area vector is their sum, the centre their centroids weighted by their
// areas; a polygon of no area keeps the corners' mean and a zero area vector.
FaceGeometry FaceCentreAndArea(const std::vector<Vec>& corners);

// The cell centre of a closed polyhedron from its faces, area vectors
// pointing out: pyramids from an estimate (the mean of the face centres) to
// every face, their centroids weighted by their signed volumes. A cell of no
// volume keeps the estimate.
Vec CellCentre(const std::vector<FaceGeometry>& outwardFaces);

// The cell's determinant, from the area vectors of its faces to other cells
// (a boundary face takes no part): the determinant of the sum of A A^T over
// those faces, each A divided by their mean length, divided by 8, so that a
// cube with a neighbour on every side scores 1. A cell without such faces
// scores 0: nothing around it determines a gradient.
double CellDeterminant(const std::vector<Vec>& internalFaceAreas);

// The linear interpolation weight of an internal face: the shorter of the
// distances from the two cell centres to the face's plane, measured along the
// area vector, over their sum. 0.5 for a face half way between.
double FaceWeight(const FaceGeometry& face, const Vec& ownerCentre, const Vec& neighbourCentre);

// The angle in degrees between the line from the owner's centre to the
// neighbour's and the face's area vector (pointing out of the owner).
double NonOrthogonality(const FaceGeometry& face, const Vec& ownerCentre, const Vec& neighbourCentre);

// Whether a face passes a finite-volume solver's split of its cells into
// tetrahedra (OpenFOAM's face tets): every tetrahedron of a face edge, the
// face centre and a cell centre turns the right way, on both sides; and
// some corner of the face fans it into triangles whose tetrahedra with each
// cell centre all do too, the same corner for both cells (the owner's alone
// on the boundary, neighbourCentre null). A tetrahedron counts as turning
// the right way when its signed volume over the cube of its longest edge is
// above `least`.
bool FaceTetsUpright(const std::vector<Vec>& corners, const FaceGeometry& face, const Vec& ownerCentre,
                     const Vec* neighbourCentre, double least);

// How far the face centre lies from where the line between the cell centres
// crosses the face's plane, over the face's reach in that direction (at
// least a fifth of the distance between the centres).
double FaceSkewness(const std::vector<Vec>& corners, const FaceGeometry& face, const Vec& ownerCentre,
                    const Vec& neighbourCentre);

// The same for a boundary face, as though the owner were mirrored through it:
// the face centre's offset along the face from the foot of the owner's centre,
// over the face's reach that way (at least 0.4 times the centre's distance
// from the face's plane).
double BoundaryFaceSkewness(const std::vector<Vec>& corners, const FaceGeometry& face, const Vec& ownerCentre);

}  // namespace vela::quality
