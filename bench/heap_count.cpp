#include "heap_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__GLIBC__)
#include <malloc.h>
#define VELA_BENCH_HEAP_COUNT 1
#else
#define VELA_BENCH_HEAP_COUNT 0
#endif

namespace heap_count {

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long long> g_current{0};
std::atomic<long long> g_peak{0};
std::atomic<long long> g_allocations{0};

long long UsableSize(void* p) {
#if VELA_BENCH_HEAP_COUNT
  return static_cast<long long>(malloc_usable_size(p));
#else
  (void)p;
  return 0;
#endif
}

void NoteAllocation(void* p) {
  if (!g_counting.load(std::memory_order_relaxed)) return;
  const long long size = UsableSize(p);
  const long long now = g_current.fetch_add(size, std::memory_order_relaxed) + size;
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  long long peak = g_peak.load(std::memory_order_relaxed);
  while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

void NoteRelease(void* p) {
  if (p == nullptr || !g_counting.load(std::memory_order_relaxed)) return;
  g_current.fetch_sub(UsableSize(p), std::memory_order_relaxed);
}

void* Allocate(std::size_t size) {
  // malloc(0) may return null; operator new must not.
  void* p = std::malloc(size == 0 ? 1 : size);
  while (p == nullptr) {
    const std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
    p = std::malloc(size == 0 ? 1 : size);
  }
  NoteAllocation(p);
  return p;
}

void Release(void* p) noexcept {
  NoteRelease(p);
  std::free(p);
}

}  // namespace

bool Counted() { return VELA_BENCH_HEAP_COUNT != 0; }

HeapWindow::HeapWindow() {
  g_current.store(0, std::memory_order_relaxed);
  g_peak.store(0, std::memory_order_relaxed);
  g_allocations.store(0, std::memory_order_relaxed);
  g_counting.store(true, std::memory_order_relaxed);
}

HeapWindow::~HeapWindow() { g_counting.store(false, std::memory_order_relaxed); }

long long HeapWindow::Peak() const { return g_peak.load(std::memory_order_relaxed); }
long long HeapWindow::Current() const { return g_current.load(std::memory_order_relaxed); }
long long HeapWindow::Allocations() const { return g_allocations.load(std::memory_order_relaxed); }

}  // namespace heap_count

// The replaceable forms that the library and the standard library reach for
// ordinary (not over-aligned) blocks. The over-aligned forms are left to the
// standard library, which pairs them with its own release; nothing in the
// library asks for them.
void* operator new(std::size_t size) { return heap_count::Allocate(size); }
void* operator new[](std::size_t size) { return heap_count::Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return heap_count::Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return heap_count::Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { heap_count::Release(p); }
void operator delete[](void* p) noexcept { heap_count::Release(p); }
void operator delete(void* p, std::size_t) noexcept { heap_count::Release(p); }
void operator delete[](void* p, std::size_t) noexcept { heap_count::Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { heap_count::Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { heap_count::Release(p); }
