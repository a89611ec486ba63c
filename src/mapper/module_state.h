#pragma once

// What the junction calls keep beyond one object: the last N-way call's
// centre size and layer counts, and the arrays of the mesh being built with
// its merge-candidate flags. Every thread has its own copy, so that junction
// calls on different threads, each with its own mapper, never meet; on one
// thread the copy is shared by every mapper, one junction call at a time.

#include <cstddef>
#include <memory>

extern thread_local double g_dCenterJunctionRadius;
extern thread_local int g_nInnerCircleCount;
extern thread_local int g_nOuterLayerCount;
// One byte per node (1-based): 1 marks a node to be looked up when merging.
// The flags of this thread's mesh build while one lives, null otherwise.
extern thread_local unsigned char* g_pMergeCandidate;

namespace vela {

// The one owner of a mesh build's arrays and of g_pMergeCandidate: lends this
// thread's buffers for as long as the object lives, grown to the capacity
// asked for, and takes them back when it goes, so that a thread's later
// junctions find them allocated and touched already. The flags come zeroed;
// the node and element rows hold whatever an earlier build left. A second
// build while one lives on the thread gets buffers of its own.
class BuildBuffers {
public:
  BuildBuffers(int nodeCapacity, int elementCapacity);
  ~BuildBuffers();
  BuildBuffers(const BuildBuffers&) = delete;
  BuildBuffers& operator=(const BuildBuffers&) = delete;

  double (*Nodes())[3] { return m_store.nodes.get(); }
  int (*Elements())[8] { return m_store.elements.get(); }
  unsigned char* Candidates() { return m_store.candidates.get(); }

  // The arrays and how many rows each holds; row 0 is never used.
  struct Store {
    std::unique_ptr<double[][3]> nodes;
    std::unique_ptr<int[][8]> elements;
    std::unique_ptr<unsigned char[]> candidates;
    size_t nodeRows = 0, elementRows = 0;
  };

private:
  Store m_store;
  bool m_lent = false;  // the thread's arrays, to be given back
};

}  // namespace vela
