#pragma once

// The arrays of a junction mesh while it is built, kept per thread: a
// thread's later junctions find them allocated and touched already, and
// junctions on different threads never meet.

#include <cstddef>
#include <memory>

namespace vela {

// Lends this thread's arrays for as long as the object lives, grown to the
// capacity asked for, and takes them back when it goes. The swept mesh (rows
// as the sweeps append them, with the merge-candidate flags) and the merged
// mesh (rows as the merge keeps them, with the map from the one to the other)
// have arrays of their own, so that a junction can be merged again from what
// was swept. The swept flags come zeroed; every other row holds whatever an
// earlier build left. A second build while one lives on the thread gets
// arrays of its own.
class BuildBuffers {
public:
  BuildBuffers(int nodeCapacity, int elementCapacity);
  ~BuildBuffers();
  BuildBuffers(const BuildBuffers&) = delete;
  BuildBuffers& operator=(const BuildBuffers&) = delete;

  // 1-based rows; row 0 is never used.
  struct Mesh {
    std::unique_ptr<double[][3]> nodes;
    std::unique_ptr<int[][8]> elements;
    std::unique_ptr<unsigned char[]> candidates;
  };
  struct Store {
    Mesh swept, merged;
    std::unique_ptr<int[]> map;  // swept node -> merged node
    size_t nodeRows = 0, elementRows = 0;
  };

  Mesh& Swept() { return m_store.swept; }
  Mesh& Merged() { return m_store.merged; }
  int* Map() { return m_store.map.get(); }

private:
  Store m_store;
  bool m_lent = false;  // the thread's arrays, to be given back
};

}  // namespace vela
