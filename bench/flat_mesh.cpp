#include "flat_mesh.h"

#include <algorithm>
#include <initializer_list>

namespace {

// An element's corners, then -1 to the end of its row of eight.
void PutRow(int* row, std::initializer_list<int> corners) {
  std::fill(std::copy(corners.begin(), corners.end(), row), row + 8, -1);
}

}  // namespace

void FlatMesh::SetMeshSize(int elementCount, int nodeCount) {
  m_nElementCount = std::max(elementCount, 0);
  m_nNodeCount = std::max(nodeCount, 0);
  const std::size_t coords = 3 * static_cast<std::size_t>(m_nNodeCount);
  const std::size_t corners = 8 * static_cast<std::size_t>(m_nElementCount);
  if (coords > m_aCoords.size()) m_aCoords.resize(coords);
  if (corners > m_aCorners.size()) m_aCorners.resize(corners);
}

void FlatMesh::SetNodeCoord(int node, double x, double y, double z) {
  double* p = m_aCoords.data() + 3 * static_cast<std::size_t>(node);
  p[0] = x;
  p[1] = y;
  p[2] = z;
}

void FlatMesh::SetTetraElement(int element, int n0, int n1, int n2, int n3) {
  PutRow(Row(element), {n0, n1, n2, n3});
}

void FlatMesh::SetPyramidElement(int element, int n0, int n1, int n2, int n3, int n4) {
  PutRow(Row(element), {n0, n1, n2, n3, n4});
}

void FlatMesh::SetPrismElement(int element, int n0, int n1, int n2, int n3, int n4, int n5) {
  PutRow(Row(element), {n0, n1, n2, n3, n4, n5});
}

void FlatMesh::SetHexaElement(int element, int n0, int n1, int n2, int n3, int n4, int n5, int n6,
                              int n7) {
  PutRow(Row(element), {n0, n1, n2, n3, n4, n5, n6, n7});
}
