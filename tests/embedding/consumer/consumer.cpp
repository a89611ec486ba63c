// The host of the embedding tests: a T-junction meshed through the exported
// class, and the same T as a runner system, each into a counting container.

#include <VelaRunnerMapping.h>
#include <runner_system.h>

#include <cstdio>

#if defined(VELA_CONSUMER_EXPECTS_STATIC) && !defined(VELA_STATIC_DEFINE)
#error "the static library's users must compile with VELA_STATIC_DEFINE"
#endif

namespace {

class CountingMesh : public CVela_SolidMesh {
public:
  void SetMeshSize(int elementCount, int nodeCount) override {
    m_nElements = elementCount;
    m_nNodes = nodeCount;
  }
  void SetTetraElement(int, int, int, int, int) override { ++m_nWritten; }
  void SetPyramidElement(int, int, int, int, int, int) override { ++m_nWritten; }
  void SetPrismElement(int, int, int, int, int, int, int) override { ++m_nWritten; }
  void SetHexaElement(int, int, int, int, int, int, int, int, int) override { ++m_nWritten; }
  int GetNodeCount() const override { return m_nNodes; }
  int GetElementCount() const override { return m_nElements; }
  void SetNodeCoord(int, double, double, double) override {}

  int m_nNodes = 0, m_nElements = 0, m_nWritten = 0;
};

// The README's T: three runners of radius 2 narrowing to 1.5 at the centre
// on the middle one, four inner rings, two boundary layers.
bool MeshTee(CountingMesh& mesh) {
  CVelaRunnerMapping mapper;
  CArray<double, double> inner, outer;
  for (double v : {0.0, 0.25, 0.5, 0.75, 1.0}) inner.Add(v);
  for (double v : {0.0, 0.5, 1.0}) outer.Add(v);
  mapper.SetIOBoundaryLayer(&inner, &outer);
  CArray<ON_3fPoint, ON_3fPoint> farPoints;
  farPoints.Add(ON_3fPoint(20, 0, 0));
  farPoints.Add(ON_3fPoint(0, 20, 0));
  farPoints.Add(ON_3fPoint(-20, 0, 0));
  CArray<double, double> radii;
  for (double r : {2.0, 2.0, 1.5, 1.5, 2.0, 2.0}) radii.Add(r);
  ON_3fPoint farNodes[3];
  return mapper.NConnectRunner(ON_3fPoint(0, 0, 0), &farPoints, &radii, 0.8, 0.2, &mesh, farNodes);
}

// The same T as a network: its runner system uses the library, and threads,
// from the host's side of the link.
bool MeshTeeSystem(CountingMesh& mesh) {
  vela::system::RunnerNetwork network;
  network.name = "tee";
  network.points = {{"c", {0, 0, 0}}, {"a", {20, 0, 0}}, {"b", {0, 20, 0}}, {"d", {-20, 0, 0}}};
  network.runners = {{"c", "a", 2, 2}, {"c", "b", 1.5, 1.5}, {"c", "d", 2, 2}};
  const vela::system::SystemOutcome outcome = vela::system::MeshRunnerSystem(network);
  if (!outcome.ok) {
    std::printf("runner system refused: %s\n", outcome.refusal.message.c_str());
    return false;
  }
  vela::system::WriteSolidMesh(outcome.mesh, mesh);
  return outcome.counts.junctions == 1 && outcome.counts.runners == 3;
}

}  // namespace

int main() {
  CountingMesh tee;
  if (!MeshTee(tee) || tee.m_nNodes != 2386 || tee.m_nElements != 2880 || tee.m_nWritten != 2880) {
    std::printf("tee: %d nodes, %d elements, %d written\n", tee.m_nNodes, tee.m_nElements,
                tee.m_nWritten);
    return 1;
  }
  CountingMesh system;
  if (!MeshTeeSystem(system) || system.m_nElements == 0 || system.m_nWritten != system.m_nElements) {
    std::printf("tee system: %d nodes, %d elements, %d written\n", system.m_nNodes,
                system.m_nElements, system.m_nWritten);
    return 1;
  }
  std::printf("tee: %d nodes, %d elements; as a system: %d elements\n", tee.m_nNodes,
              tee.m_nElements, system.m_nElements);
  return 0;
}
