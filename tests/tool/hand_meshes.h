#pragma once

// Meshes built by hand for the quality tests: blocks of hexahedra on any
// spacing, single elements, and the ways a test moves and turns them.

#include "memory_mesh.h"

#include <array>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <vector>

namespace vela::testing {

using Point = std::array<double, 3>;

// A block of hexahedra whose node planes lie at the given coordinates, x
// fastest in both nodes and elements.
inline MemoryMesh Grid(const std::vector<double>& xs, const std::vector<double>& ys, const std::vector<double>& zs) {
  const int nx = static_cast<int>(xs.size()) - 1, ny = static_cast<int>(ys.size()) - 1,
            nz = static_cast<int>(zs.size()) - 1;
  MemoryMesh m;
  auto id = [&](int i, int j, int k) { return i + (nx + 1) * (j + (ny + 1) * k); };
  m.SetMeshSize(nx * ny * nz, (nx + 1) * (ny + 1) * (nz + 1));
  for (int k = 0; k <= nz; ++k)
    for (int j = 0; j <= ny; ++j)
      for (int i = 0; i <= nx; ++i)
        m.SetNodeCoord(id(i, j, k), xs[static_cast<size_t>(i)], ys[static_cast<size_t>(j)], zs[static_cast<size_t>(k)]);
  int e = 0;
  for (int k = 0; k < nz; ++k)
    for (int j = 0; j < ny; ++j)
      for (int i = 0; i < nx; ++i)
        m.SetHexaElement(e++, id(i, j, k), id(i + 1, j, k), id(i + 1, j + 1, k), id(i, j + 1, k), id(i, j, k + 1),
                         id(i + 1, j, k + 1), id(i + 1, j + 1, k + 1), id(i, j + 1, k + 1));
  return m;
}

// 0, 1, ..., n.
inline std::vector<double> Steps(int n) {
  std::vector<double> v;
  for (int i = 0; i <= n; ++i) v.push_back(i);
  return v;
}

// A block of nx x ny x nz unit hexahedra.
inline MemoryMesh Block(int nx, int ny, int nz) { return Grid(Steps(nx), Steps(ny), Steps(nz)); }

// Appends one element of the given kind on new nodes at the given points.
inline void AddElement(MemoryMesh& m, ElementKind kind, const std::vector<Point>& points) {
  MeshElement e{kind, {}};
  e.nodes.fill(-1);
  for (size_t i = 0; i < points.size(); ++i) {
    e.nodes[i] = m.GetNodeCount();
    m.nodes.push_back(points[i]);
  }
  m.elements.push_back(e);
}

// Appends one element on nodes the mesh has.
inline void AddElement(MemoryMesh& m, ElementKind kind, std::initializer_list<int> nodes) {
  MeshElement e{kind, {}};
  e.nodes.fill(-1);
  std::copy(nodes.begin(), nodes.end(), e.nodes.begin());
  m.elements.push_back(e);
}

inline const std::vector<Point> kCube = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                                         {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};

inline std::vector<Point> Moved(std::vector<Point> points, const Point& by) {
  for (Point& p : points)
    for (size_t k = 0; k < 3; ++k) p[k] += by[k];
  return points;
}

// Turned about z, then about y, and moved: a placement no axis lines up with.
inline Point Turned(const Point& p) {
  const Point q{std::cos(0.3) * p[0] - std::sin(0.3) * p[1], std::sin(0.3) * p[0] + std::cos(0.3) * p[1], p[2]};
  return {std::cos(0.6) * q[0] - std::sin(0.6) * q[2] + 4, q[1] - 2, std::sin(0.6) * q[0] + std::cos(0.6) * q[2]};
}

// The mesh as change leaves it.
inline MemoryMesh Changed(MemoryMesh m, const std::function<void(MemoryMesh&)>& change) {
  change(m);
  return m;
}

}  // namespace vela::testing
