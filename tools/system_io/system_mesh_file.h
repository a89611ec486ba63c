#pragma once

// Files of a meshed runner system: the volume with where each element came
// from, and the boundary faces with the patch each belongs to.
//
//   .json  {"kind": "system", "name", "units" (when known), "nodes", "elements" (0-based corners in
//          the library's order), "regions" (names), "element_regions" (one
//          index per element), "patches" ({name: [faces]}, in patch order,
//          faces wound outward, 0-based)}. Coordinates keep every bit.
//   .vtu   two files, not a .vtm collection: NAME.vtu holds the volume (VTK
//          XML unstructured grid, corners in VTK's order as the junction .vtu
//          has them) with cell data "region", "kind" (the corner count)
//          and "scaled_jacobian", as the junction .vtu has them (the
//          reader takes a volume with "region" for a system's);
//          NAME.patches.vtu beside it
//          holds every node again (same numbering) and the boundary faces as
//          VTK triangles and quads, with cell data "patch". In both the cells
//          are grouped by VTK type, with cell data "element" giving each
//          cell's place in the mesh's order, and field data holds one Int32
//          array per name (region or patch), named by it and holding its
//          index, so that a viewer shows the names. Binary (compressed
//          appended data) by default, ASCII on request, as the junction .vtu.
//   .msh   Gmsh MSH 4.1, ASCII by default, binary on request (as the
//          junction .msh). One volume entity in physical group "fluid"
//          (dimension 3, tag 1), one surface entity per patch in a physical
//          group of the patch's name (dimension 2, tag 2 + the patch's place:
//          no tag is used twice, as gmshToFoam needs). Element tags: 1 + the element's
//          place for the volume, then 1 + element count + the face's place for
//          the faces, so sorting by tag gives the mesh's orders back.
//   .svg   a picture of the system's boundary surface (picture.h).
//
// A mesh that can be written has: finite coordinates; elements of 4, 5, 6 or
// 8 corners and faces of 3 or 4, every corner a node; every element's region
// and every face's patch in range; region and patch names unique, non-empty,
// without control characters or double quotes (Gmsh physical names are
// quoted and cannot hold one), and each region named as its kind is:
// "junction at ...", "bend at ...", "runner ...", which is how a .json file
// gives the kind back.
//
// WriteOptions::units names the coordinates' unit in every format that has
// a place for it: "units" in the .json, a Float64 field data array
// "metres_per_unit" in both .vtu files (beside the names' Int32 arrays), a
// $Comments section "units NAME" in the .msh.

#include "mesh_file.h"
#include "runner_system.h"

#include <string>
#include <vector>

namespace vela::io {

// Writes the mesh in the format named by the path's extension (.json, .vtu,
// .msh, .svg, any case); title is the .json "name" and the picture's title.
// Returns the paths written: for .vtu the path and NAME.patches.vtu, else the
// path. Every file is written under a temporary name beside it and renamed
// into place. Throws std::invalid_argument for another extension or a mesh
// that cannot be written faithfully (see above), before anything is written;
// std::runtime_error when a file cannot be written (for .vtu the patches file
// is written first, so a failure there leaves the volume file as it was).
// options.encoding chooses ASCII or binary .vtu and .msh as for a junction
// mesh; .json and .svg are text whatever it says.
std::vector<std::string> WriteSystemMesh(const std::string& path,
                                         const vela::system::SystemMesh& mesh,
                                         const std::string& title, const WriteOptions& options);
// The same in the default encodings.
std::vector<std::string> WriteSystemMesh(const std::string& path,
                                         const vela::system::SystemMesh& mesh,
                                         const std::string& title);

// Writes the mesh as an OpenFOAM case into the folder dir, made when missing:
// dir/constant/polyMesh/ points, faces, owner, neighbour, boundary and
// cellZones, and the dictionaries OpenFOAM needs to open it and to check
// the mesh, dir/system/controlDict, fvSchemes and fvSolution, each unless
// the case has one (a case already set up for a solver keeps its own). Every face of the elements
// once: the internal ones in upper-triangular order (by owner, then
// neighbour; the owner the lower-numbered element), then the patches' faces
// patch by patch in the mesh's face order, each wound out of its owner (the
// right-hand normal points away from it). Patch "wall" is of type wall, every
// other of type patch; each region is a cell zone. Patches and zones are
// named as in the mesh, but for any character other than a letter, a digit
// or "_-.", which becomes '_' ("junction at s" -> junction_at_s), and a '_'
// in front of a name that does not start with a letter. Points the elements
// do not use are left out. Binary ("format binary;", 32-bit labels, 64-bit
// scalars, little-endian) unless options.encoding is Ascii; options.units is
// named in the comment that opens each file. Other files in the case are
// left as they are. Returns the files written. Throws std::invalid_argument,
// before anything is written, for a mesh that cannot be written faithfully
// (as WriteSystemMesh, but for the region names' kinds; and faces that do not
// pair up: a face of three elements, a boundary face in no patch or in two,
// a patch face no element has alone; and names that would become one word);
// std::runtime_error when a folder or file cannot be written.
std::vector<std::string> WriteFoamCase(const std::string& dir, const vela::system::SystemMesh& mesh,
                                       const std::string& title, const WriteOptions& options);

// The mesh in a .json text as WriteSystemMesh writes it. The faces come back
// grouped by patch in patch order, each patch's faces in file order: a mesh
// whose faces are so grouped comes back exactly. Throws std::runtime_error
// "where: problem" ("elements[3][2]: ...") for malformed text and for
// anything WriteSystemMesh would refuse to write.
vela::system::SystemMesh ParseSystemJson(const std::string& text);

}  // namespace vela::io
