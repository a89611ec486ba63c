#pragma once

// MemoryMesh: an in-memory CVela_SolidMesh that keeps exactly what the library
// hands it, for the tests, the command-line tool and the benchmarks.
//
// Every setter checks its index against the sizes given to SetMeshSize and
// throws std::out_of_range outside them, so a library fault that writes past
// the announced mesh shows up at once instead of as a quiet corruption.

#include <VelaJunction.h>
#include <Vela_SolidMesh.h>

#include <array>
#include <vector>

using ElementKind = vela::ElementKind;

// Number of corners of an element kind.
inline int CornerCount(ElementKind kind) { return static_cast<int>(kind); }
// "tetra", "pyramid", "prism", "hexa".
const char* ElementKindName(ElementKind kind);

struct MeshElement {
  ElementKind kind = ElementKind::Tetra;
  std::array<int, 8> nodes{};  // 0-based; entries past CornerCount(kind) are -1

  int CornerCount() const { return ::CornerCount(kind); }
};

class MemoryMesh : public CVela_SolidMesh {
public:
  void SetMeshSize(int elementCount, int nodeCount) override;
  void SetTetraElement(int element, int n0, int n1, int n2, int n3) override;
  void SetPyramidElement(int element, int n0, int n1, int n2, int n3, int n4) override;
  void SetPrismElement(int element, int n0, int n1, int n2, int n3, int n4, int n5) override;
  void SetHexaElement(int element, int n0, int n1, int n2, int n3, int n4, int n5, int n6,
                      int n7) override;
  int GetNodeCount() const override { return static_cast<int>(nodes.size()); }
  int GetElementCount() const override { return static_cast<int>(elements.size()); }
  void SetNodeCoord(int node, double x, double y, double z) override;

  // How many calls the container received in all; 0 means untouched.
  int CallCount() const { return m_nCalls; }
  // Elements of one kind.
  int CountOf(ElementKind kind) const;

  std::vector<std::array<double, 3>> nodes;
  std::vector<MeshElement> elements;

private:
  void SetElement(int element, ElementKind kind, std::initializer_list<int> corners);

  int m_nCalls = 0;
};

// A meshed junction from the value API, handed over as the library hands a
// mesh to its host: SetMeshSize, every node, every element.
void WriteSolidMesh(const vela::JunctionMesh& mesh, CVela_SolidMesh& out);
