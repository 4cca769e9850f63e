// A fixed set of worker threads that split a pass's rows into contiguous bands.
//
// Created once (by the pipeline, not per frame). Every band is computed by exactly the same code as a
// single-threaded run, so the output does not depend on the number of threads. Run() blocks until
// every band is done and does not allocate.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace orvane::image {

class RowPool {
 public:
  // `threads` counts the caller too: 1 means no workers (everything runs on the caller).
  explicit RowPool(int threads);
  ~RowPool();
  RowPool(const RowPool&) = delete;
  RowPool& operator=(const RowPool&) = delete;

  int Threads() const { return threads_; }

  // Calls fn(begin, end) for bands covering [0, rows); band 0 runs on the caller. Not re-entrant:
  // one Run at a time per pool (the pipeline runs one pass after the other).
  template <typename Fn>
  void Run(int rows, Fn&& fn) {
    using Callable = std::remove_reference_t<Fn>;
    Dispatch(rows, const_cast<void*>(static_cast<const void*>(&fn)),
             [](void* ctx, int begin, int end) { (*static_cast<Callable*>(ctx))(begin, end); });
  }

  // Hardware threads, at least 1.
  static int HardwareThreads();

 private:
  using Trampoline = void (*)(void* ctx, int begin, int end);
  void Dispatch(int rows, void* ctx, Trampoline call);
  void WorkerLoop(int index);

  const int threads_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable done_;
  // Guarded by mutex_: the job of the current generation and how many workers still work on it.
  uint64_t generation_ = 0;
  int pending_ = 0;
  bool stop_ = false;
  int rows_ = 0;
  void* ctx_ = nullptr;
  Trampoline call_ = nullptr;
};

// Runs fn over [0, rows) on the pool, or inline when there is no pool.
template <typename Fn>
void ForRows(RowPool* pool, int rows, Fn&& fn) {
  if (pool == nullptr || pool->Threads() == 1 || rows < 64) {
    if (rows > 0) fn(0, rows);
  } else {
    pool->Run(rows, fn);
  }
}

}  // namespace orvane::image
