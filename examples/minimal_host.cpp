// The smallest host: a CVela_SolidMesh that counts what it receives, and one
// T-junction meshed into it. Built with the project, so that this example
// keeps compiling against the library's headers.

#include <VelaRunnerMapping.h>

#include <cstdio>

class CountingMesh : public CVela_SolidMesh {
public:
  void SetMeshSize(int elementCount, int nodeCount) override {
    m_nElements = elementCount;
    m_nNodes = nodeCount;
  }
  void SetTetraElement(int, int, int, int, int) override { ++m_nTetra; }
  void SetPyramidElement(int, int, int, int, int, int) override { ++m_nPyramid; }
  void SetPrismElement(int, int, int, int, int, int, int) override { ++m_nPrism; }
  void SetHexaElement(int, int, int, int, int, int, int, int, int) override { ++m_nHexa; }
  int GetNodeCount() const override { return m_nNodes; }
  int GetElementCount() const override { return m_nElements; }
  void SetNodeCoord(int, double, double, double) override {}

  int m_nNodes = 0, m_nElements = 0, m_nTetra = 0, m_nPyramid = 0, m_nPrism = 0, m_nHexa = 0;
};

int main() {
  CVelaRunnerMapping mapper;
  CArray<double, double> inner, outer;
  for (double v : {0.0, 0.25, 0.5, 0.75, 1.0}) inner.Add(v);  // four inner rings
  for (double v : {0.0, 0.5, 1.0}) outer.Add(v);              // two boundary layers
  mapper.SetIOBoundaryLayer(&inner, &outer);

  CArray<ON_3fPoint, ON_3fPoint> farPoints;  // in order around the junction
  farPoints.Add(ON_3fPoint(20, 0, 0));
  farPoints.Add(ON_3fPoint(0, 20, 0));
  farPoints.Add(ON_3fPoint(-20, 0, 0));
  CArray<double, double> radii;  // far end, junction end, per runner
  for (double r : {2.0, 2.0, 1.5, 1.5, 2.0, 2.0}) radii.Add(r);

  CountingMesh mesh;
  ON_3fPoint farNodes[3];
  if (!mapper.NConnectRunner(ON_3fPoint(0, 0, 0), &farPoints, &radii, 0.8, 0.2, &mesh, farNodes)) {
    std::puts("junction refused");
    return 1;
  }
  std::printf("%d nodes, %d elements (%d prisms, %d hexahedra)\n", mesh.m_nNodes, mesh.m_nElements,
              mesh.m_nPrism, mesh.m_nHexa);
  return 0;
}
