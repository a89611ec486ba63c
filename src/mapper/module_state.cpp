#include "mapper/module_state.h"

#include <algorithm>
#include <utility>

thread_local double g_dCenterJunctionRadius = 0.0;
thread_local int g_nInnerCircleCount = 0;
thread_local int g_nOuterLayerCount = 0;
thread_local unsigned char* g_pMergeCandidate = nullptr;

namespace vela {

namespace {

struct ThreadBuffers {
  BuildBuffers::Store store;
  bool lent = false;
};

thread_local ThreadBuffers t_buffers;

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
  if (m_store.nodeRows < nodeRows) {
    m_store.nodes.reset(new double[nodeRows][3]);
    m_store.candidates.reset(new unsigned char[nodeRows]);
    m_store.nodeRows = nodeRows;
  }
  if (m_store.elementRows < elementRows) {
    m_store.elements.reset(new int[elementRows][8]);
    m_store.elementRows = elementRows;
  }
  std::fill_n(m_store.candidates.get(), nodeRows, static_cast<unsigned char>(0));
  g_pMergeCandidate = m_store.candidates.get();
}

BuildBuffers::~BuildBuffers() {
  if (g_pMergeCandidate == m_store.candidates.get()) g_pMergeCandidate = nullptr;
  if (!m_lent) return;
  std::swap(m_store, t_buffers.store);
  t_buffers.lent = false;
}

}  // namespace vela
