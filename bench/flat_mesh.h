#pragma once

// FlatMesh: the cheapest container a host could hand the library, so that
// writing a mesh into it costs what any host must pay at least.
//
// Three doubles per node and eight ints per element, in two vectors that
// SetMeshSize grows only when a mesh is larger than any before; they never
// shrink, so a container reused across junction calls allocates nothing once
// it has held the largest mesh. Corners past an element's own count are -1,
// which keeps the element's kind without a third array.
//
// The setters live in flat_mesh.cpp, and no link-time optimisation is used,
// so the library and the benchmark's own loops reach them through the same
// virtual calls and neither gets them inlined.
//
// No index is checked: the library's contract is to write inside the sizes
// it announced, and MemoryMesh is the container that checks that.

#include <Vela_SolidMesh.h>

#include <cstddef>
#include <vector>

class FlatMesh : public CVela_SolidMesh {
public:
  void SetMeshSize(int elementCount, int nodeCount) override;
  void SetTetraElement(int element, int n0, int n1, int n2, int n3) override;
  void SetPyramidElement(int element, int n0, int n1, int n2, int n3, int n4) override;
  void SetPrismElement(int element, int n0, int n1, int n2, int n3, int n4, int n5) override;
  void SetHexaElement(int element, int n0, int n1, int n2, int n3, int n4, int n5, int n6,
                      int n7) override;
  int GetNodeCount() const override { return m_nNodeCount; }
  int GetElementCount() const override { return m_nElementCount; }
  void SetNodeCoord(int node, double x, double y, double z) override;

  // x, y, z of node i at 3i; the corners of element e at 8e, -1 past its own.
  const double* Coords() const { return m_aCoords.data(); }
  const int* Corners() const { return m_aCorners.data(); }

private:
  int* Row(int element) { return m_aCorners.data() + 8 * static_cast<std::size_t>(element); }

  int m_nNodeCount = 0;
  int m_nElementCount = 0;
  std::vector<double> m_aCoords;
  std::vector<int> m_aCorners;
};
