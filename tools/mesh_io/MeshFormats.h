#pragma once

// The three mesh file formats, one writer and one reader each, plus the corner
// orders they share. Internal to vela_mesh_io: MeshFile.cpp checks a document
// before handing it to a writer, so the writers may assume a sound document.

#include "MeshFile.h"

#include <array>
#include <string>
#include <vector>

namespace vela::io::detail {

// A file format's corner order: position i of an element's corner list in
// the file holds the library's corner order[i].
struct CornerOrder {
  int count = 0;
  std::array<int, 8> order{};
};

// VTK agrees with the library except for the wedge, whose first triangle turns
// clockwise seen from the second one (its right-hand normal points away from
// it): swapping corners 1 and 2 of both triangles turns a library prism into a
// positive VTK wedge. The swap is its own inverse, so it serves both ways.
CornerOrder VtkCornerOrder(ElementKind kind);
int VtkCellType(ElementKind kind);
// False for a VTK cell type that is none of the four solid kinds.
bool KindFromVtkCellType(long long type, ElementKind& kind);

// Gmsh's first-order tetrahedron (4), pyramid (7), prism (6) and hexahedron
// (5) number their corners as the library does, so corners go unchanged.
int GmshElementType(ElementKind kind);
bool KindFromGmshElementType(long long type, ElementKind& kind);

// Library corners -> file corners and back.
std::array<int, 8> ToFileOrder(const MeshElement& element, const CornerOrder& order);
MeshElement FromFileOrder(ElementKind kind, const std::array<int, 8>& fileCorners,
                          const CornerOrder& order);

// The writers. Inputs are checked by FormatMesh; scaledJacobian is empty or
// holds one value per element.
std::string FormatJsonMesh(const MeshDocument& document);
std::string FormatVtuMesh(const MeshDocument& document, const std::vector<double>& scaledJacobian);
std::string FormatMshMesh(const MeshDocument& document, const std::vector<double>& scaledJacobian);

// The readers; each throws MeshFileError on malformed text.
MeshDocument ParseJsonMesh(const std::string& text);
MeshDocument ParseVtuMesh(const std::string& text);
MeshDocument ParseMshMesh(const std::string& text);

// Throws MeshFileError unless kind is "nway" or "bend" and a bend carries no far nodes.
void CheckReadKind(const MeshDocument& document);

}  // namespace vela::io::detail
