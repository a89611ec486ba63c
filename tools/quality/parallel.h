#pragma once

// The report's loops over elements, faces and nodes, run on a few threads.
// Internal to vela_quality.
//
// Every loop it runs writes what it finds per item, or per thread, and the
// caller gathers it afterwards in item order: the report is the same on any
// number of threads, bit for bit.

#include <cstddef>
#include <functional>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace vela::quality::detail {

// The threads a count asks for: 0 takes the hardware's count; at least 1.
int ThreadCount(int threads);

// The ranges ForRanges hands out are this long (the last one shorter):
// begin / kRangeLength numbers a range.
constexpr std::size_t kRangeLength = 2048;

// Calls work(begin, end, worker) over consecutive ranges that together cover
// 0..count-1, each once, on up to `threads` threads (the caller's among
// them); worker numbers the thread, 0..threads-1, for what a thread keeps
// of its own. The first exception thrown is thrown again on the caller's
// thread once all are done.
void ForRanges(int threads, std::size_t count,
               const std::function<void(std::size_t begin, std::size_t end, int worker)>& work);

// An allocator whose vectors leave new elements of trivial types unset
// rather than zeroed. A vector of a few hundred megabytes that the threads
// fill anyway would otherwise be written twice, the first time on the
// calling thread alone, with every page faulted in there. Only for arrays
// whose every element is written before it is read.
template <class T>
struct UnsetAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UnsetAllocator<U>;
  };
  UnsetAllocator() = default;
  template <class U>
  UnsetAllocator(const UnsetAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible<U>::value) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

template <class T>
using UnsetVector = std::vector<T, UnsetAllocator<T>>;

}  // namespace vela::quality::detail
