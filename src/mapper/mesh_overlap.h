#pragma once

// Elements that run into each other without a single inverted corner: what
// the soundness check (mapper/mesh_soundness.h) leaves untested. Branches
// swept far out of the junction plane, or past a neighbour much wider or
// much closer than the construction was made for, pass through other
// branches with every element still right way round.
//
// Each element is tiled into tetrahedra from its centroid to its faces (a
// quadrilateral fanned from its centre, so that two elements sharing a
// warped face cut it alike), and sampled at its centroid and half way from
// there to each corner. An element overlaps when one of its samples lies
// inside another element by more than a rounding margin below that
// element's surface: points on a shared face stay outside. Candidates are
// found through a uniform grid of the elements' bounding boxes.
//
// An element so twisted that its centroid sees one of its faces from behind
// has no such tiling and is not taken as a container; its own samples are
// still tested.
//
// The test costs several times the junction's sweep: the junction calls run
// it only for runners beyond the bounds within which the construction was
// found never to overlap.

#include <VelaJunction.h>

#include <vector>

namespace vela {

struct MeshOverlap {
  int overlapping = 0;  // elements with a sample inside another element
  int untiled = 0;      // elements too twisted to be taken as containers
  int firstElement = -1;  // the first overlapping element found (0-based), or -1
};

// Tests elements (0-based corners into nodes) for overlap. With stopAtFirst,
// returns as soon as one overlapping element is found (overlapping is then
// 0 or 1). Elements naming a node outside nodes are not taken.
MeshOverlap FindOverlap(const std::vector<Point3>& nodes, const std::vector<Element>& elements,
                        bool stopAtFirst);

}  // namespace vela
