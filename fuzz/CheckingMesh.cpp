#include "CheckingMesh.h"

#include <cmath>
#include <cstdio>

namespace vela::fuzz {

void Fault(const std::string& what) {
  std::fprintf(stderr, "fuzz fault: %s\n", what.c_str());
  std::fflush(stderr);
  __builtin_trap();
}

namespace {

std::string Str(int value) { return std::to_string(value); }

}  // namespace

void CheckingMesh::SetMeshSize(int elementCount, int nodeCount) {
  ++m_nCalls;
  if (m_bSized) Fault("SetMeshSize called a second time");
  if (m_nCalls != 1) Fault("SetMeshSize called after another setter");
  if (elementCount < 0 || nodeCount < 0)
    Fault("SetMeshSize(" + Str(elementCount) + ", " + Str(nodeCount) + "): negative size");
  if (elementCount > kMaxItems || nodeCount > kMaxItems)
    Fault("SetMeshSize(" + Str(elementCount) + ", " + Str(nodeCount) +
          "): larger than any junction of the harness needs");
  m_bSized = true;
  m_mesh.SetMeshSize(elementCount, nodeCount);
  m_nodeSet.assign(static_cast<size_t>(nodeCount), false);
  m_elementSet.assign(static_cast<size_t>(elementCount), false);
}

void CheckingMesh::SetNodeCoord(int node, double x, double y, double z) {
  ++m_nCalls;
  if (!m_bSized) Fault("SetNodeCoord before SetMeshSize");
  if (m_nElementsSet > 0) Fault("SetNodeCoord(" + Str(node) + ") after an element setter");
  if (node < 0 || static_cast<size_t>(node) >= m_nodeSet.size())
    Fault("SetNodeCoord(" + Str(node) + ") outside 0.." + Str(m_mesh.GetNodeCount()) + "-1");
  if (m_nodeSet[static_cast<size_t>(node)]) Fault("node " + Str(node) + " set twice");
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z))
    Fault("node " + Str(node) + " has a coordinate that is not finite");
  m_nodeSet[static_cast<size_t>(node)] = true;
  ++m_nNodesSet;
  m_mesh.SetNodeCoord(node, x, y, z);
}

void CheckingMesh::CheckElement(const char* kind, int element, std::initializer_list<int> corners) {
  ++m_nCalls;
  const std::string name = std::string(kind) + " " + Str(element);
  if (!m_bSized) Fault(name + " before SetMeshSize");
  if (element < 0 || static_cast<size_t>(element) >= m_elementSet.size())
    Fault(name + " outside 0.." + Str(m_mesh.GetElementCount()) + "-1");
  if (m_elementSet[static_cast<size_t>(element)]) Fault("element " + Str(element) + " set twice");
  if (m_nNodesSet != m_mesh.GetNodeCount())
    Fault(name + " set before every node was (" + Str(m_nNodesSet) + " of " +
          Str(m_mesh.GetNodeCount()) + ")");
  for (auto c = corners.begin(); c != corners.end(); ++c) {
    if (*c < 0 || *c >= m_mesh.GetNodeCount())
      Fault(name + " names node " + Str(*c) + ", outside 0.." + Str(m_mesh.GetNodeCount()) + "-1");
    for (auto d = corners.begin(); d != c; ++d)
      if (*d == *c) Fault(name + " names node " + Str(*c) + " twice");
  }
  m_elementSet[static_cast<size_t>(element)] = true;
  ++m_nElementsSet;
}

void CheckingMesh::SetTetraElement(int element, int n0, int n1, int n2, int n3) {
  CheckElement("tetra", element, {n0, n1, n2, n3});
  m_mesh.SetTetraElement(element, n0, n1, n2, n3);
}

void CheckingMesh::SetPyramidElement(int element, int n0, int n1, int n2, int n3, int n4) {
  CheckElement("pyramid", element, {n0, n1, n2, n3, n4});
  m_mesh.SetPyramidElement(element, n0, n1, n2, n3, n4);
}

void CheckingMesh::SetPrismElement(int element, int n0, int n1, int n2, int n3, int n4, int n5) {
  CheckElement("prism", element, {n0, n1, n2, n3, n4, n5});
  m_mesh.SetPrismElement(element, n0, n1, n2, n3, n4, n5);
}

void CheckingMesh::SetHexaElement(int element, int n0, int n1, int n2, int n3, int n4, int n5,
                                  int n6, int n7) {
  CheckElement("hexa", element, {n0, n1, n2, n3, n4, n5, n6, n7});
  m_mesh.SetHexaElement(element, n0, n1, n2, n3, n4, n5, n6, n7);
}

int CheckingMesh::GetNodeCount() const { Fault("the library called GetNodeCount"); }

int CheckingMesh::GetElementCount() const { Fault("the library called GetElementCount"); }

void CheckingMesh::ExpectComplete() const {
  if (!m_bSized) Fault("a junction call returned true without calling SetMeshSize");
  if (m_nNodesSet != m_mesh.GetNodeCount())
    Fault("only " + Str(m_nNodesSet) + " of " + Str(m_mesh.GetNodeCount()) + " nodes were set");
  if (m_nElementsSet != m_mesh.GetElementCount())
    Fault("only " + Str(m_nElementsSet) + " of " + Str(m_mesh.GetElementCount()) +
          " elements were set");
}

}  // namespace vela::fuzz
