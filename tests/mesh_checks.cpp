#include "mesh_checks.h"

#include "quality.h"

#include <gtest/gtest.h>

void ExpectSoundMesh(const MemoryMesh& mesh, double mergeTol) {
  const vela::quality::QualityReport report = vela::quality::Assess(mesh, mergeTol);
  EXPECT_FALSE(vela::quality::HasFaults(report)) << vela::quality::DescribeFaults(report);
  EXPECT_GT(report.elements, 0);
}
