#include "mapper/module_state.h"

#include <algorithm>
#include <utility>

namespace vela {

namespace {

struct ThreadBuffers {
  BuildBuffers::Store store;
  bool lent = false;
};

thread_local ThreadBuffers t_buffers;

void Grow(BuildBuffers::Mesh& mesh, size_t nodeRows, size_t elementRows, bool nodes, bool elements) {
  if (nodes) {
    mesh.nodes.reset(new double[nodeRows][3]);
    mesh.candidates.reset(new unsigned char[nodeRows]);
  }
  if (elements) mesh.elements.reset(new int[elementRows][8]);
}

}  // namespace

BuildBuffers::BuildBuffers(int nodeCapacity, int elementCapacity) {
  if (!t_buffers.lent) {
    std::swap(m_store, t_buffers.store);
    t_buffers.lent = true;
    m_lent = true;
  }
  // Grown, never shrunk: a junction no larger than an earlier one on this
  // thread allocates nothing and touches no fresh page.
  const size_t nodeRows = static_cast<size_t>(nodeCapacity) + 1;
  const size_t elementRows = static_cast<size_t>(elementCapacity) + 1;
  const bool growNodes = m_store.nodeRows < nodeRows, growElements = m_store.elementRows < elementRows;
  Grow(m_store.swept, nodeRows, elementRows, growNodes, growElements);
  Grow(m_store.merged, nodeRows, elementRows, growNodes, growElements);
  if (growNodes) {
    m_store.map.reset(new int[nodeRows]);
    m_store.nodeRows = nodeRows;
  }
  if (growElements) m_store.elementRows = elementRows;
  std::fill_n(m_store.swept.candidates.get(), nodeRows, static_cast<unsigned char>(0));
}

BuildBuffers::~BuildBuffers() {
  if (!m_lent) return;
  std::swap(m_store, t_buffers.store);
  t_buffers.lent = false;
}

}  // namespace vela
