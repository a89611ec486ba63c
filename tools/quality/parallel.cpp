#include "parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace vela::quality::detail {

int ThreadCount(int threads) {
  if (threads > 0) return threads;
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void ForRanges(int threads, std::size_t count,
               const std::function<void(std::size_t begin, std::size_t end, int worker)>& work) {
  // Ranges small enough that a thread slowed by others hands the rest over,
  // large enough that taking one costs nothing against its work.
  constexpr std::size_t kRange = kRangeLength;
  const std::size_t ranges = (count + kRange - 1) / kRange;
  const int used = static_cast<int>(std::max<std::size_t>(1, std::min<std::size_t>(ThreadCount(threads), ranges)));
  if (used == 1) {
    if (count > 0) work(0, count, 0);
    return;
  }
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr failure;
  std::mutex failureLock;
  auto run = [&](int worker) {
    for (std::size_t r = next++; r < ranges && !failed.load(); r = next++) {
      try {
        work(r * kRange, std::min(count, (r + 1) * kRange), worker);
      } catch (...) {
        const std::lock_guard<std::mutex> lock(failureLock);
        if (!failure) failure = std::current_exception();
        failed = true;
      }
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(static_cast<std::size_t>(used) - 1);
  for (int t = 1; t < used; ++t) pool.emplace_back(run, t);
  run(0);
  for (std::thread& thread : pool) thread.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace vela::quality::detail
