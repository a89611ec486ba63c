#include "system_regions.h"

namespace vela::io {

quality::Regions QualityRegions(const vela::system::SystemMesh& mesh) {
  quality::Regions regions;
  regions.ofElement.reserve(mesh.elements.size());
  for (const vela::system::SystemElement& element : mesh.elements) regions.ofElement.push_back(element.region);
  regions.layered.reserve(mesh.regions.size());
  for (const vela::system::Region& region : mesh.regions)
    regions.layered.push_back(region.kind == vela::system::RegionKind::Runner ? 1 : 0);
  return regions;
}

}  // namespace vela::io
