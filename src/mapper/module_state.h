#pragma once

// What the junction calls keep beyond one object: the last N-way call's
// centre size and layer counts, and the merge-candidate flags of the mesh
// being built. Every thread has its own copy, so that junction calls on
// different threads, each with its own mapper, never meet; on one thread the
// copy is shared by every mapper, one junction call at a time.

#include <memory>

extern thread_local double g_dCenterJunctionRadius;
extern thread_local int g_nInnerCircleCount;
extern thread_local int g_nOuterLayerCount;
// One byte per node (1-based): 1 marks a node to be looked up when merging.
// The flags of this thread's mesh build while one lives, null otherwise.
extern thread_local unsigned char* g_pMergeCandidate;

namespace vela {

// The one owner of g_pMergeCandidate: n + 1 zeroed flags, published for as
// long as the object lives and released with it. One at a time per thread.
class MergeCandidateFlags {
public:
  explicit MergeCandidateFlags(int nodeCapacity);
  ~MergeCandidateFlags();
  MergeCandidateFlags(const MergeCandidateFlags&) = delete;
  MergeCandidateFlags& operator=(const MergeCandidateFlags&) = delete;

  unsigned char* Data() const { return m_flags.get(); }

private:
  std::unique_ptr<unsigned char[]> m_flags;
};

}  // namespace vela
