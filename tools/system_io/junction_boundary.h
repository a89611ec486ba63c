#pragma once

// The boundary of a single meshed junction or bend in named patches, as a
// runner system names its own: the runner walls, and the far-end section of
// each runner, where a runner meshed on from it would join.

#include "mesh_file.h"
#include "runner_system.h"

#include <vector>

namespace vela::io {

// Sets the document's patches to "wall", "end-0", "end-1", ... and its faces
// to every face of one element alone, wound outward, in element order within
// a patch. farSections[i] holds the node numbers of runner i's far-end
// section as the library hands them over (vela::JunctionMesh::farSections);
// a boundary face is end-i's when every corner is one of them. Throws
// std::invalid_argument when a section holds no boundary face: a section
// that is not the mesh's.
void AddJunctionPatches(MeshDocument& document, const std::vector<std::vector<int>>& farSections);

// The junction as a runner system of one region, named as its .msh names the
// volume ("junction", "bend", "volume"), with the document's patches: what
// WriteFoamCase takes.
vela::system::SystemMesh JunctionSystemMesh(const MeshDocument& document);

}  // namespace vela::io
