#include "mapper/module_state.h"

#include <cstddef>

thread_local double g_dCenterJunctionRadius = 0.0;
thread_local int g_nInnerCircleCount = 0;
thread_local int g_nOuterLayerCount = 0;
thread_local unsigned char* g_pMergeCandidate = nullptr;

namespace vela {

MergeCandidateFlags::MergeCandidateFlags(int nodeCapacity)
    : m_flags(new unsigned char[static_cast<size_t>(nodeCapacity) + 1]()) {
  g_pMergeCandidate = m_flags.get();
}

MergeCandidateFlags::~MergeCandidateFlags() {
  if (g_pMergeCandidate == m_flags.get()) g_pMergeCandidate = nullptr;
}

}  // namespace vela
