#include "mapper/module_state.h"

#include <cstring>

double g_dCenterJunctionRadius = 0.0;
int g_nInnerCircleCount = 0;
int g_nOuterLayerCount = 0;
unsigned char* g_pMergeCandidate = nullptr;

namespace vela {

void AllocateMergeCandidates(int nodeCapacity) {
  ReleaseMergeCandidates();
  g_pMergeCandidate = new unsigned char[static_cast<size_t>(nodeCapacity) + 1];
  std::memset(g_pMergeCandidate, 0, static_cast<size_t>(nodeCapacity) + 1);
}

void ReleaseMergeCandidates() {
  delete[] g_pMergeCandidate;
  g_pMergeCandidate = nullptr;
}

}  // namespace vela
