#include "memory_mesh.h"

#include <stdexcept>
#include <string>

namespace {

void CheckIndex(const char* what, int index, size_t size) {
  if (index < 0 || static_cast<size_t>(index) >= size)
    throw std::out_of_range(std::string("MemoryMesh: ") + what + " index " +
                            std::to_string(index) + " outside 0.." + std::to_string(size) +
                            "-1");
}

}  // namespace

const char* ElementKindName(ElementKind kind) {
  switch (kind) {
    case ElementKind::Tetra: return "tetra";
    case ElementKind::Pyramid: return "pyramid";
    case ElementKind::Prism: return "prism";
    case ElementKind::Hexa: return "hexa";
  }
  return "unknown";
}

void MemoryMesh::SetMeshSize(int elementCount, int nodeCount) {
  ++m_nCalls;
  if (elementCount < 0 || nodeCount < 0)
    throw std::out_of_range("MemoryMesh: negative mesh size");
  nodes.assign(static_cast<size_t>(nodeCount), {0.0, 0.0, 0.0});
  elements.assign(static_cast<size_t>(elementCount), MeshElement{});
}

void MemoryMesh::SetNodeCoord(int node, double x, double y, double z) {
  ++m_nCalls;
  CheckIndex("node", node, nodes.size());
  nodes[static_cast<size_t>(node)] = {x, y, z};
}

void MemoryMesh::SetElement(int element, ElementKind kind, std::initializer_list<int> corners) {
  ++m_nCalls;
  CheckIndex("element", element, elements.size());
  MeshElement& e = elements[static_cast<size_t>(element)];
  e.kind = kind;
  e.nodes.fill(-1);
  size_t k = 0;
  for (int corner : corners) {
    CheckIndex("corner node", corner, nodes.size());
    e.nodes[k++] = corner;
  }
}

void MemoryMesh::SetTetraElement(int element, int n0, int n1, int n2, int n3) {
  SetElement(element, ElementKind::Tetra, {n0, n1, n2, n3});
}

void MemoryMesh::SetPyramidElement(int element, int n0, int n1, int n2, int n3, int n4) {
  SetElement(element, ElementKind::Pyramid, {n0, n1, n2, n3, n4});
}

void MemoryMesh::SetPrismElement(int element, int n0, int n1, int n2, int n3, int n4, int n5) {
  SetElement(element, ElementKind::Prism, {n0, n1, n2, n3, n4, n5});
}

void MemoryMesh::SetHexaElement(int element, int n0, int n1, int n2, int n3, int n4, int n5,
                                int n6, int n7) {
  SetElement(element, ElementKind::Hexa, {n0, n1, n2, n3, n4, n5, n6, n7});
}

int MemoryMesh::CountOf(ElementKind kind) const {
  int count = 0;
  for (const MeshElement& e : elements) count += e.kind == kind ? 1 : 0;
  return count;
}

void WriteSolidMesh(const vela::JunctionMesh& mesh, CVela_SolidMesh& out) {
  out.SetMeshSize(static_cast<int>(mesh.elements.size()), static_cast<int>(mesh.nodes.size()));
  for (size_t n = 0; n < mesh.nodes.size(); ++n)
    out.SetNodeCoord(static_cast<int>(n), mesh.nodes[n][0], mesh.nodes[n][1], mesh.nodes[n][2]);
  for (size_t e = 0; e < mesh.elements.size(); ++e) {
    const int i = static_cast<int>(e);
    const std::array<int, 8>& c = mesh.elements[e].corners;
    switch (mesh.elements[e].kind) {
      case ElementKind::Tetra: out.SetTetraElement(i, c[0], c[1], c[2], c[3]); break;
      case ElementKind::Pyramid: out.SetPyramidElement(i, c[0], c[1], c[2], c[3], c[4]); break;
      case ElementKind::Prism: out.SetPrismElement(i, c[0], c[1], c[2], c[3], c[4], c[5]); break;
      case ElementKind::Hexa: out.SetHexaElement(i, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]); break;
    }
  }
}
