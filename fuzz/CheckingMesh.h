#pragma once

// CheckingMesh: a CVela_SolidMesh that holds the library to the container
// contract of Vela_SolidMesh.h and stops the process at the first breach.
//
// MemoryMesh throws on an index out of range, but the library is allowed to
// let nothing but std::invalid_argument through, and a fuzzer must tell a
// contract breach from a documented exception. So every breach here is a
// trap, after one line on standard error that names it:
//   - SetMeshSize first and exactly once, with sizes that are not negative and
//     not absurd (the library must refuse a junction too large to number);
//   - every node set exactly once, to finite coordinates, before any element;
//   - every element set exactly once, its corners in range and distinct;
//   - GetNodeCount and GetElementCount never called (the library reads nothing back).
// What it accepted is kept in a MemoryMesh for the quality report.

#include "memory_mesh.h"

#include <Vela_SolidMesh.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace vela::fuzz {

// Writes "fuzz fault: <what>" on standard error and traps.
[[noreturn]] void Fault(const std::string& what);

class CheckingMesh : public CVela_SolidMesh {
public:
  // More nodes or elements than any junction the harness builds can
  // legitimately need; a larger SetMeshSize means a size guard was missed.
  static constexpr int kMaxItems = 1 << 24;

  void SetMeshSize(int elementCount, int nodeCount) override;
  void SetTetraElement(int element, int n0, int n1, int n2, int n3) override;
  void SetPyramidElement(int element, int n0, int n1, int n2, int n3, int n4) override;
  void SetPrismElement(int element, int n0, int n1, int n2, int n3, int n4, int n5) override;
  void SetHexaElement(int element, int n0, int n1, int n2, int n3, int n4, int n5, int n6,
                      int n7) override;
  int GetNodeCount() const override;
  int GetElementCount() const override;
  void SetNodeCoord(int node, double x, double y, double z) override;

  // No call at all reached the container.
  bool Untouched() const { return m_nCalls == 0; }
  // Traps unless SetMeshSize came and every node and element was then set.
  void ExpectComplete() const;
  const MemoryMesh& Mesh() const { return m_mesh; }

private:
  // Checks one element setter's call; the caller then stores the element.
  void CheckElement(const char* kind, int element, std::initializer_list<int> corners);

  MemoryMesh m_mesh;
  std::vector<bool> m_nodeSet;
  std::vector<bool> m_elementSet;
  int m_nNodesSet = 0;
  int m_nElementsSet = 0;
  bool m_bSized = false;
  int m_nCalls = 0;
};

}  // namespace vela::fuzz
