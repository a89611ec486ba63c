#pragma once

// A picture of a mesh a person can open anywhere: an SVG of its boundary
// surface (the faces used by one element only), seen from a chosen
// direction in orthographic projection, faces shaded by how they face the
// viewer and coloured by element kind, edges drawn thin, painted back to
// front.

#include "memory_mesh.h"

#include <string>

namespace vela::picture {

struct ViewOptions {
  // Where the viewer stands, seen from the mesh: the angle about the
  // vertical (z) axis from +x, and the height above the horizontal plane.
  // The default is a three-quarter view from the front right, above.
  double azimuthDeg = -35.0;
  double elevationDeg = 30.0;
  int width = 800;
  int height = 600;
  std::string title;
};

// The picture. Faces turned away from the viewer are left out: the library's
// boundary faces turn outwards, so on a closed surface they are hidden anyway.
std::string RenderSvg(const MemoryMesh& mesh, const ViewOptions& view);

// Number of faces RenderSvg draws for this mesh and view.
int VisibleFaceCount(const MemoryMesh& mesh, const ViewOptions& view);

}  // namespace vela::picture
