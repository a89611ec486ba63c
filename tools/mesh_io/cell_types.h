#pragma once

// The solid kinds as VTK and Gmsh number them, shared by the junction and the
// system writers so that every file writes a cell alike. Internal to the
// host-side file formats.

#include "memory_mesh.h"

#include <utility>

namespace vela::io::detail {

inline int VtkCellType(ElementKind kind) {
  switch (kind) {
    case ElementKind::Tetra: return 10;
    case ElementKind::Pyramid: return 14;
    case ElementKind::Prism: return 13;
    case ElementKind::Hexa: return 12;
  }
  return 0;
}

// VTK numbers the corners as the library does except for the wedge, whose
// first triangle turns clockwise seen from the second one (its right-hand
// normal points away from it): swapping corners 1 and 2 of both triangles
// turns a library prism into a positive VTK wedge, and back again.
inline MeshElement SwapWedgeCorners(MeshElement element) {
  if (element.kind == ElementKind::Prism) {
    std::swap(element.nodes[1], element.nodes[2]);
    std::swap(element.nodes[4], element.nodes[5]);
  }
  return element;
}

// Gmsh's first-order solids number their corners as the library does.
inline int GmshElementType(ElementKind kind) {
  switch (kind) {
    case ElementKind::Tetra: return 4;
    case ElementKind::Pyramid: return 7;
    case ElementKind::Prism: return 6;
    case ElementKind::Hexa: return 5;
  }
  return 0;
}

}  // namespace vela::io::detail
