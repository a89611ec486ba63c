#pragma once

// Mesh files written and read by vela-mesh.
//
//   .json  the mesh dump of tests/golden: {"ok", "kind", "units" (when
//          known), "nodes", "elements", "far_nodes" (N-way only)}, 0-based
//          corners in the library's order.
//          Always text, whatever the encoding asked for: it is the exact dump.
//   .vtu   VTK XML unstructured grid, corners in VTK's order (a wedge's first
//          triangle runs the other way round than the library's prism). The
//          cells are grouped by kind (tetrahedra, pyramids, wedges,
//          hexahedra), which every reader takes, MED converters included;
//          cell data "element" gives each cell's place in the library's
//          order, "kind" its corner count and "scaled_jacobian" its quality.
//          The junction kind and far nodes travel as field data. Binary (the
//          default): appended raw data, each array zlib-compressed in VTK's
//          blocks with UInt64 headers; ASCII on request.
//   .msh   Gmsh MSH 4.1, ASCII by default, binary on request. One volume
//          entity in one physical volume group (tag 1) named after the
//          junction ("junction" for an N-way junction, "bend" for a bend,
//          "volume" when the kind is unknown); one element block per element
//          type, element tag = 1 + position in the library's element order.
//          The patches, when the document has them, are surface entities
//          around it, patch p in physical group p + 2 of dimension 2 (tags
//          apart from the volume's, which readers keying groups by tag alone
//          need), its faces tagged after the elements in face order; their
//          scaled Jacobian in the element data is NaN. The junction kind and
//          far nodes travel in a $VelaJunction section, the unit in a
//          $Comments section "units mm", which other readers skip as the
//          format allows for unknown sections.
//
// Nodes and elements keep the order in which the library handed them over, in
// every format and encoding, and coordinates keep every bit: a write followed
// by a read gives back the same document.
//
// The readers also take files that other programs wrote or re-saved: .vtu in
// any of VTK's encodings (ASCII, inline base64, appended raw or base64, with
// or without zlib), .msh 4.1 ASCII or binary with any entities, physical
// groups and node tags. They read the linear solids and skip vertices, lines
// and surface cells around them; a file without the junction's own data
// gives a document of kind "" and no far nodes, in the file's element order.

#include "memory_mesh.h"

#include <array>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vela::io {

// A mesh file that cannot be read; what() names the place and the problem.
class MeshFileError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A boundary face: 3 or 4 corners (nodes[3] is -1 for a triangle), 0-based,
// wound outward (counter-clockwise seen from outside), and its patch.
struct PatchFace {
  int corners = 0;
  std::array<int, 4> nodes{};
  int patch = 0;
};

// One meshed junction as it goes into and comes out of a mesh file.
struct MeshDocument {
  MemoryMesh mesh;
  // "nway", "bend", or "" when the file does not say; "system" when read
  // from a .vtu with cell data "region", a runner system's volume (which the
  // junction writers refuse).
  std::string kind;
  std::vector<std::array<double, 3>> farNodes;  // N-way only: the library's far node per runner
  // The boundary in named patches, when known (vela-mesh names a junction's
  // "wall", "end-0", "end-1", ...: the far-end section of each runner). Only
  // .msh carries them, as surface groups; no reader gives them back.
  std::vector<std::string> patches;
  std::vector<PatchFace> faces;
};

enum class MeshFormat { Json, Vtu, Msh };

// How .vtu and .msh files store their numbers. Default is binary .vtu and
// ASCII .msh (the encodings their usual readers handle best); Ascii and
// Binary force both. .json is text whatever is asked.
enum class Encoding { Default, Ascii, Binary };

struct WriteOptions {
  WriteOptions() = default;
  // Not explicit: {Encoding::Ascii} reads as what it asks for.
  WriteOptions(Encoding encoding_, std::string units_ = "") : encoding(encoding_), units(std::move(units_)) {}

  Encoding encoding = Encoding::Default;
  // The length unit of the coordinates (length_unit.h), written where a
  // format has a place for it: "units" in .json, the field data
  // "metres_per_unit" in .vtu, a $Comments section "units NAME" in .msh, the
  // opening comment of an OpenFOAM case's files. "" writes none.
  std::string units;
};

// The format named by the path's extension (.json, .vtu, .msh, any case).
// Throws std::invalid_argument naming the extension for anything else.
MeshFormat MeshFormatFromPath(const std::string& path);

// The document in the given format. scaledJacobian holds one value per
// element in element order, or nothing; only .vtu and .msh store it.
// Throws std::invalid_argument when the document cannot be written faithfully:
// a kind other than "nway", "bend" or "", far nodes on a bend or on a mesh of
// unknown kind, a corner index outside
// the node list, a coordinate, far node or scaled Jacobian that is not finite,
// or a scaled-Jacobian count that is neither 0 nor the element count; a
// patch name that is empty, holds a control character or a double quote, or
// is given twice; a face of other than 3 or 4 corners, or whose corner or
// patch is out of range; a unit MetresPerUnit does not know.
std::string FormatMesh(const MeshDocument& document, MeshFormat format,
                       const std::vector<double>& scaledJacobian, const WriteOptions& options);
// The same in the default encodings.
std::string FormatMesh(const MeshDocument& document, MeshFormat format,
                       const std::vector<double>& scaledJacobian);

// Parses text in the given format back into a document in the library's
// corner order, whichever encoding the text uses. Throws MeshFileError when
// the text is malformed, uses a solid element type other than the four linear
// kinds, refers to a node that does not exist, or holds a coordinate that is
// not finite.
MeshDocument ParseMesh(const std::string& text, MeshFormat format);

// FormatMesh in the format named by the extension, written under a temporary
// name in the same folder and renamed into place, so that a failed run never
// leaves half a file. Throws std::invalid_argument as FormatMesh and
// MeshFormatFromPath do (nothing is written then) and std::runtime_error when
// the file cannot be written.
void WriteMesh(const std::string& path, const MeshDocument& document,
               const std::vector<double>& scaledJacobian, const WriteOptions& options);
// The same in the default encodings.
void WriteMesh(const std::string& path, const MeshDocument& document,
               const std::vector<double>& scaledJacobian);

// Reads a .json, .vtu or .msh file, written by WriteMesh or by another
// program (see above). Throws
// std::invalid_argument for another extension and MeshFileError, with the path
// in front of the message, when the file cannot be read or parsed.
MeshDocument ReadMesh(const std::string& path);

}  // namespace vela::io
