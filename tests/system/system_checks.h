#pragma once

// Checks the runner-system tests share: a system mesh is sound as the
// quality report sees it, and its patches cover its boundary exactly.

#include "memory_mesh.h"
#include "runner_system.h"

#include <map>
#include <string>

namespace vela::system::testing {

MemoryMesh ToMemory(const SystemMesh& mesh);

// No fault of any class the quality report knows.
void ExpectSound(const SystemMesh& mesh);

// Every boundary face in exactly one patch, and nothing else in any patch;
// every end patch a flat disc of the radius endRadius gives by patch name.
void ExpectPatchesCoverBoundary(const SystemMesh& mesh, const std::map<std::string, double>& endRadius);

}  // namespace vela::system::testing
