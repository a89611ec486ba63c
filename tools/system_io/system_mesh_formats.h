#pragma once

// The writers of a meshed system, one per format, and the checks they share.
// Internal to vela_system_io: WriteSystemMesh checks a mesh (CheckSystemMesh)
// before handing it to a writer, so the writers may assume a sound mesh.

#include "memory_mesh.h"
#include "runner_system.h"

#include <string>

namespace vela::io::detail {

// Throws std::invalid_argument naming the first thing that keeps the mesh from
// being written faithfully (system_mesh_file.h lists them).
void CheckSystemMesh(const vela::system::SystemMesh& mesh);

// The kind of a sound element (4, 5, 6 or 8 corners), with its corners.
MeshElement AsMeshElement(const vela::system::SystemElement& element);

// The region kind a name announces ("junction at s", "bend at a", "runner
// s-a"); false when the name announces none.
bool RegionKindFromName(const std::string& name, vela::system::RegionKind& kind);

// What keeps name from naming a region or patch in every format, or "".
std::string NameProblem(const std::string& name);

std::string FormatSystemJson(const vela::system::SystemMesh& mesh, const std::string& title);
// binary: compressed appended data (.vtu), binary MSH 4.1 (.msh).
std::string FormatSystemVolumeVtu(const vela::system::SystemMesh& mesh, bool binary);
std::string FormatSystemPatchesVtu(const vela::system::SystemMesh& mesh, bool binary);
std::string FormatSystemMsh(const vela::system::SystemMesh& mesh, bool binary);

}  // namespace vela::io::detail
