#pragma once

// The writers of a meshed system, one per format, and the checks they share.
// Internal to vela_system_io: WriteSystemMesh checks a mesh (CheckSystemMesh)
// before handing it to a writer, so the writers may assume a sound mesh.

#include "file_text.h"  // NameProblem
#include "memory_mesh.h"
#include "mesh_file.h"
#include "runner_system.h"

#include <string>
#include <utility>
#include <vector>

namespace vela::io::detail {

// Throws std::invalid_argument naming the first thing that keeps the mesh from
// being written faithfully (system_mesh_file.h lists them).
void CheckSystemMesh(const vela::system::SystemMesh& mesh);
// The same but for the rule that a region's name starts with its kind, which
// only the .json needs to give the kinds back.
void CheckSystemShape(const vela::system::SystemMesh& mesh);

// The boundary faces as the host-side formats take them.
std::vector<PatchFace> PatchFaces(const vela::system::SystemMesh& mesh);

// The kind of a sound element (4, 5, 6 or 8 corners), with its corners.
MeshElement AsMeshElement(const vela::system::SystemElement& element);

// The region kind a name announces ("junction at s", "bend at a", "runner
// s-a"); false when the name announces none.
bool RegionKindFromName(const std::string& name, vela::system::RegionKind& kind);

// units: a known unit, or "" to name none (WriteOptions::units).
std::string FormatSystemJson(const vela::system::SystemMesh& mesh, const std::string& title,
                             const std::string& units);
// binary: compressed appended data (.vtu), binary MSH 4.1 (.msh).
std::string FormatSystemVolumeVtu(const vela::system::SystemMesh& mesh, bool binary, const std::string& units);
std::string FormatSystemPatchesVtu(const vela::system::SystemMesh& mesh, bool binary, const std::string& units);
std::string FormatSystemMsh(const vela::system::SystemMesh& mesh, bool binary, const std::string& units);

// What the files of an OpenFOAM case say besides the mesh.
struct FoamText {
  std::string title;  // in the comment that opens every file
  std::string units;  // the unit of the points, named there too; "" names none
  bool binary = true;
};
// The files of the case, as paths relative to the case folder and their
// texts: constant/polyMesh/{points, faces, owner, neighbour, boundary,
// cellZones} and system/{controlDict, fvSchemes, fvSolution}. Throws std::invalid_argument for a mesh
// whose faces do not pair up into a polyMesh (a face of three elements, a
// boundary face in no patch or in two, a patch face no element has alone),
// or whose names would clash as OpenFOAM words.
std::vector<std::pair<std::string, std::string>> FormatFoamCase(const vela::system::SystemMesh& mesh,
                                                                const FoamText& text);

}  // namespace vela::io::detail
