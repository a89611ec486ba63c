#pragma once

// State shared by every mapper object in the process. The mesh-writing N-way
// call reads back what its mesh-less half left here, and the sweeps flag merge
// candidates that the merge reads; one junction call at a time, process-wide.

extern double g_dCenterJunctionRadius;
extern int g_nInnerCircleCount;
extern int g_nOuterLayerCount;
// One byte per node (1-based): 1 marks a node to be looked up when merging.
extern unsigned char* g_pMergeCandidate;

namespace vela {

// Replaces the candidate flags with n + 1 zeroed bytes.
void AllocateMergeCandidates(int nodeCapacity);
// Releases the candidate flags and leaves g_pMergeCandidate null.
void ReleaseMergeCandidates();

}  // namespace vela
