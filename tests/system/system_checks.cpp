#include "system_checks.h"

#include "quality.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

namespace vela::system::testing {
namespace {

std::vector<int> SortedKey(std::vector<int> face) {
  std::sort(face.begin(), face.end());
  return face;
}

// The boundary as the quality report's own face tables find it.
std::set<std::vector<int>> IndependentBoundary(const MemoryMesh& memory) {
  std::map<std::vector<int>, int> uses;
  for (const MeshElement& element : memory.elements)
    for (const std::vector<int>& face : vela::quality::OutwardFaces(element)) ++uses[SortedKey(face)];
  std::set<std::vector<int>> boundary;
  for (const auto& [key, count] : uses)
    if (count == 1) boundary.insert(key);
  return boundary;
}

}  // namespace

MemoryMesh ToMemory(const SystemMesh& mesh) {
  MemoryMesh memory;
  WriteSolidMesh(mesh, memory);
  return memory;
}

void ExpectSound(const SystemMesh& mesh) {
  const MemoryMesh memory = ToMemory(mesh);
  const vela::quality::QualityReport report =
      vela::quality::Assess(memory, vela::quality::DefaultTolerance(memory));
  EXPECT_FALSE(vela::quality::HasFaults(report)) << vela::quality::DescribeFaults(report);
}

void ExpectPatchesCoverBoundary(const SystemMesh& mesh, const std::map<std::string, double>& endRadius) {
  std::set<std::vector<int>> patched;
  for (const BoundaryFace& face : mesh.faces) {
    ASSERT_GE(face.patch, 0);
    ASSERT_LT(face.patch, static_cast<int>(mesh.patches.size()));
    EXPECT_TRUE(patched.insert(SortedKey({face.nodes.begin(), face.nodes.begin() + face.corners})).second);
  }
  EXPECT_EQ(patched, IndependentBoundary(ToMemory(mesh)));
  for (std::size_t patch = 1; patch < mesh.patches.size(); ++patch) {
    double area = 0;
    Vec3 normalSum{0, 0, 0};
    for (const BoundaryFace& face : mesh.faces) {
      if (face.patch != static_cast<int>(patch)) continue;
      const Vec3& p0 = mesh.nodes[static_cast<std::size_t>(face.nodes[0])];
      for (int k = 1; k + 1 < face.corners; ++k) {
        const Vec3& p1 = mesh.nodes[static_cast<std::size_t>(face.nodes[static_cast<std::size_t>(k)])];
        const Vec3& p2 = mesh.nodes[static_cast<std::size_t>(face.nodes[static_cast<std::size_t>(k + 1)])];
        const Vec3 a{p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
        const Vec3 b{p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
        const Vec3 n{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
        for (int c = 0; c < 3; ++c) normalSum[static_cast<std::size_t>(c)] += 0.5 * n[static_cast<std::size_t>(c)];
        area += 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
      }
    }
    // A flat patch has its area in its summed normal; a disc of radius r has
    // an inscribed polygon's area just under pi r^2.
    const double flat = std::sqrt(normalSum[0] * normalSum[0] + normalSum[1] * normalSum[1] +
                                  normalSum[2] * normalSum[2]);
    EXPECT_NEAR(flat, area, 1e-9 * area) << mesh.patches[patch];
    const double r = endRadius.at(mesh.patches[patch]);
    EXPECT_GT(area, 0.97 * M_PI * r * r) << mesh.patches[patch];
    EXPECT_LE(area, M_PI * r * r) << mesh.patches[patch];
  }
}

}  // namespace vela::system::testing
