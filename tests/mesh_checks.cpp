#include "mesh_checks.h"

#include "quality.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace {

using Vec = std::array<double, 3>;
using Face = std::vector<int>;

// The face's corners starting from its smallest, in its own turn.
Face Canonical(const Face& f) {
  const auto smallest = std::min_element(f.begin(), f.end());
  Face out(smallest, f.end());
  out.insert(out.end(), f.begin(), smallest);
  return out;
}

void ExpectValidNodeRefs(const MemoryMesh& mesh) {
  int bad = 0;
  for (const MeshElement& e : mesh.elements) {
    std::vector<int> corners(e.nodes.begin(), e.nodes.begin() + e.CornerCount());
    for (int c : corners) bad += (c < 0 || c >= mesh.GetNodeCount()) ? 1 : 0;
    std::sort(corners.begin(), corners.end());
    bad += std::adjacent_find(corners.begin(), corners.end()) != corners.end() ? 1 : 0;
  }
  EXPECT_EQ(bad, 0) << "elements with a corner outside the nodes or a repeated corner";
}

void ExpectConformal(const MemoryMesh& mesh) {
  std::map<Face, std::vector<Face>> uses;  // sorted corners -> faces in their turn
  for (const MeshElement& e : mesh.elements)
    for (const Face& f : vela::quality::OutwardFaces(e)) {
      Face key = f;
      std::sort(key.begin(), key.end());
      uses[key].push_back(Canonical(f));
    }
  int overShared = 0, sameTurn = 0;
  for (const auto& [key, faces] : uses) {
    if (faces.size() > 2) ++overShared;
    if (faces.size() == 2) {
      Face reversed(faces[1].rbegin(), faces[1].rend());
      if (Canonical(reversed) != faces[0]) ++sameTurn;
    }
  }
  EXPECT_EQ(overShared, 0) << "faces shared by more than two elements";
  EXPECT_EQ(sameTurn, 0) << "shared faces run round in the same turn by both elements";
}

void ExpectPositiveOrientation(const MemoryMesh& mesh) {
  int inverted = 0, first = -1;
  for (size_t i = 0; i < mesh.elements.size(); ++i)
    if (!(vela::quality::MinCornerJacobian(mesh, mesh.elements[i]) > 0.0)) {
      if (first < 0) first = static_cast<int>(i);
      ++inverted;
    }
  EXPECT_EQ(inverted, 0) << "elements with a corner Jacobian <= 0, the first is " << first << " ("
                         << (first >= 0 ? ElementKindName(mesh.elements[static_cast<size_t>(first)].kind) : "")
                         << ")";
}

void ExpectNoCoincidentNodes(const MemoryMesh& mesh, double tol) {
  std::vector<Vec> sorted = mesh.nodes;  // by x first, so the inner loop can stop early
  std::sort(sorted.begin(), sorted.end());
  int pairs = 0;
  for (size_t i = 0; i < sorted.size(); ++i)
    for (size_t j = i + 1; j < sorted.size() && sorted[j][0] - sorted[i][0] <= tol; ++j)
      if (std::fabs(sorted[j][1] - sorted[i][1]) <= tol && std::fabs(sorted[j][2] - sorted[i][2]) <= tol) ++pairs;
  EXPECT_EQ(pairs, 0) << "pairs of nodes within " << tol << " of each other";
}

}  // namespace

void ExpectSoundMesh(const MemoryMesh& mesh, double mergeTol) {
  ExpectValidNodeRefs(mesh);
  ExpectConformal(mesh);
  ExpectPositiveOrientation(mesh);
  ExpectNoCoincidentNodes(mesh, mergeTol);
}

