#pragma once

// Heap use of a stretch of code, from the benchmark executable's own global
// operator new and delete (heap_count.cpp).
//
// Counting is off except inside a HeapWindow, so the timed loops pay one
// relaxed load per allocation and nothing else. Bytes are the allocator's
// usable size of each block, which is what the heap really holds (a little
// above what was asked); where the C library cannot tell a block's size,
// nothing is counted and Counted() is false.

#include <cstddef>

namespace heap_count {

// True when this build can count (glibc's malloc_usable_size).
bool Counted();

// Counts from construction to destruction; one window at a time, on one
// thread. Blocks freed in the window that were allocated before it lower the
// current figure, so Peak() is the highest net growth above the start.
class HeapWindow {
public:
  HeapWindow();
  ~HeapWindow();
  HeapWindow(const HeapWindow&) = delete;
  HeapWindow& operator=(const HeapWindow&) = delete;

  long long Peak() const;     // bytes
  long long Current() const;  // bytes still held from the window's start
  long long Allocations() const;
};

}  // namespace heap_count
