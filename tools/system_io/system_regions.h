#pragma once

// A system's regions as the quality report takes them (quality.h, Regions):
// each element's region, and the runners as the layered sweeps, swept layer
// on layer between the sections of the junctions at their ends.

#include "quality.h"
#include "runner_system.h"

namespace vela::io {

quality::Regions QualityRegions(const vela::system::SystemMesh& mesh);

}  // namespace vela::io
