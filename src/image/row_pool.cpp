#include "image/row_pool.h"

#include <algorithm>

namespace orvane::image {

namespace {
// Band `index` of `count` over [0, rows).
void Band(int rows, int index, int count, int* begin, int* end) {
  *begin = static_cast<int>(static_cast<int64_t>(rows) * index / count);
  *end = static_cast<int>(static_cast<int64_t>(rows) * (index + 1) / count);
}
}  // namespace

RowPool::RowPool(int threads) : threads_(std::max(threads, 1)) {
  const int workers = threads_ - 1;
  workers_.reserve(static_cast<size_t>(workers));
  for (int i = 0; i < workers; ++i) workers_.emplace_back([this, i] { WorkerLoop(i + 1); });
}

RowPool::~RowPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  start_.notify_all();
  for (auto& t : workers_) t.join();
}

int RowPool::HardwareThreads() { return std::max(1, static_cast<int>(std::thread::hardware_concurrency())); }

void RowPool::Dispatch(int rows, void* ctx, Trampoline call) {
  if (rows <= 0) return;
  const int count = Threads();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    rows_ = rows;
    ctx_ = ctx;
    call_ = call;
    pending_ = count - 1;
    ++generation_;
  }
  start_.notify_all();
  int begin = 0;
  int end = 0;
  Band(rows, 0, count, &begin, &end);
  if (begin < end) call(ctx, begin, end);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return pending_ == 0; });
}

void RowPool::WorkerLoop(int index) {
  uint64_t seen = 0;
  for (;;) {
    int rows = 0;
    void* ctx = nullptr;
    Trampoline call = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      start_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
      rows = rows_;
      ctx = ctx_;
      call = call_;
    }
    int begin = 0;
    int end = 0;
    Band(rows, index, Threads(), &begin, &end);
    if (begin < end) call(ctx, begin, end);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (--pending_ == 0) done_.notify_one();
    }
  }
}

}  // namespace orvane::image
