#include "mesh_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <map>
#include <vector>

namespace {

using Vec = std::array<double, 3>;
using Face = std::vector<int>;

Vec Sub(const Vec& a, const Vec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double Det(const Vec& a, const Vec& b, const Vec& c) {
  return a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
         a[2] * (b[0] * c[1] - b[1] * c[0]);
}

// For each corner, its three neighbours in right-handed order.
const std::vector<std::array<int, 4>>& CornerFrames(ElementKind kind) {
  static const std::vector<std::array<int, 4>> hexa = {
      {0, 1, 3, 4}, {1, 2, 0, 5}, {2, 3, 1, 6}, {3, 0, 2, 7},
      {4, 7, 5, 0}, {5, 4, 6, 1}, {6, 5, 7, 2}, {7, 6, 4, 3}};
  static const std::vector<std::array<int, 4>> prism = {
      {0, 1, 2, 3}, {1, 2, 0, 4}, {2, 0, 1, 5}, {3, 5, 4, 0}, {4, 3, 5, 1}, {5, 4, 3, 2}};
  // The apex has four edges; its two diagonal tetrahedra stand in for it.
  static const std::vector<std::array<int, 4>> pyramid = {
      {0, 1, 3, 4}, {1, 2, 0, 4}, {2, 3, 1, 4}, {3, 0, 2, 4}, {4, 1, 0, 2}, {4, 3, 2, 0}};
  static const std::vector<std::array<int, 4>> tetra = {
      {0, 1, 2, 3}, {1, 2, 0, 3}, {2, 0, 1, 3}, {3, 0, 2, 1}};
  switch (kind) {
    case ElementKind::Hexa: return hexa;
    case ElementKind::Prism: return prism;
    case ElementKind::Pyramid: return pyramid;
    case ElementKind::Tetra: return tetra;
  }
  return tetra;
}

// Faces of an element, each turning counter-clockwise seen from outside.
std::vector<Face> OutwardFaces(const MeshElement& e) {
  static const std::map<ElementKind, std::vector<Face>> local = {
      {ElementKind::Hexa, {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}}},
      {ElementKind::Prism, {{0, 2, 1}, {3, 4, 5}, {0, 1, 4, 3}, {1, 2, 5, 4}, {2, 0, 3, 5}}},
      {ElementKind::Pyramid, {{0, 3, 2, 1}, {0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}}},
      {ElementKind::Tetra, {{0, 2, 1}, {0, 1, 3}, {1, 2, 3}, {2, 0, 3}}},
  };
  std::vector<Face> faces;
  for (const Face& f : local.at(e.kind)) {
    Face g;
    for (int c : f) g.push_back(e.nodes[static_cast<size_t>(c)]);
    faces.push_back(g);
  }
  return faces;
}

// The face's corners starting from its smallest, in its own turn.
Face Canonical(const Face& f) {
  const auto smallest = std::min_element(f.begin(), f.end());
  Face out(smallest, f.end());
  out.insert(out.end(), f.begin(), smallest);
  return out;
}

}  // namespace

void ExpectCounts(const MemoryMesh& mesh, const MeshCounts& expected) {
  EXPECT_EQ(mesh.GetNodeCount(), expected.nodes);
  EXPECT_EQ(mesh.CountOf(ElementKind::Hexa), expected.hexa);
  EXPECT_EQ(mesh.CountOf(ElementKind::Prism), expected.prism);
  EXPECT_EQ(mesh.CountOf(ElementKind::Pyramid), expected.pyramid);
  EXPECT_EQ(mesh.CountOf(ElementKind::Tetra), expected.tetra);
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
    for (const Face& f : OutwardFaces(e)) {
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

double MinCornerJacobian(const MemoryMesh& mesh, const MeshElement& e) {
  double smallest = INFINITY;
  for (const auto& frame : CornerFrames(e.kind)) {
    const Vec& p = mesh.nodes[static_cast<size_t>(e.nodes[static_cast<size_t>(frame[0])])];
    auto edge = [&](int k) {
      return Sub(mesh.nodes[static_cast<size_t>(e.nodes[static_cast<size_t>(frame[static_cast<size_t>(k)])])], p);
    };
    smallest = std::min(smallest, Det(edge(1), edge(2), edge(3)));
  }
  return smallest;
}

void ExpectPositiveOrientation(const MemoryMesh& mesh) {
  int inverted = 0, first = -1;
  for (size_t i = 0; i < mesh.elements.size(); ++i)
    if (!(MinCornerJacobian(mesh, mesh.elements[i]) > 0.0)) {
      if (first < 0) first = static_cast<int>(i);
      ++inverted;
    }
  EXPECT_EQ(inverted, 0) << "elements with a corner Jacobian <= 0, the first is " << first << " ("
                         << (first >= 0 ? ElementKindName(mesh.elements[static_cast<size_t>(first)].kind) : "")
                         << ")";
}

void ExpectNoCoincidentNodes(const MemoryMesh& mesh, double tol) {
  std::vector<size_t> order(mesh.nodes.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return mesh.nodes[a][0] < mesh.nodes[b][0]; });
  int pairs = 0;
  for (size_t i = 0; i < order.size(); ++i)
    for (size_t j = i + 1; j < order.size(); ++j) {
      const Vec& a = mesh.nodes[order[i]];
      const Vec& b = mesh.nodes[order[j]];
      if (b[0] - a[0] > tol) break;
      if (std::fabs(b[1] - a[1]) <= tol && std::fabs(b[2] - a[2]) <= tol) ++pairs;
    }
  EXPECT_EQ(pairs, 0) << "pairs of nodes within " << tol << " of each other";
}

void ExpectSoundMesh(const MemoryMesh& mesh, double mergeTol) {
  ExpectValidNodeRefs(mesh);
  ExpectConformal(mesh);
  ExpectPositiveOrientation(mesh);
  ExpectNoCoincidentNodes(mesh, mergeTol);
}

void DumpMeshForInspection(const MemoryMesh& mesh, const std::string& name) {
  const char* dir = std::getenv("VELA_TEST_DUMP_DIR");
  if (dir == nullptr) return;
  std::ofstream out(std::string(dir) + "/" + name + ".mesh.json");
  out << std::setprecision(17) << "{\"ok\":true,\"nodes\":[";
  for (size_t i = 0; i < mesh.nodes.size(); ++i)
    out << (i ? "," : "") << "[" << mesh.nodes[i][0] << "," << mesh.nodes[i][1] << "," << mesh.nodes[i][2] << "]";
  out << "],\"elements\":[";
  for (size_t i = 0; i < mesh.elements.size(); ++i) {
    const MeshElement& e = mesh.elements[i];
    out << (i ? "," : "") << "{\"type\":\"" << ElementKindName(e.kind) << "\",\"nodes\":[";
    for (int k = 0; k < e.CornerCount(); ++k) out << (k ? "," : "") << e.nodes[static_cast<size_t>(k)];
    out << "]}";
  }
  out << "]}\n";
}
