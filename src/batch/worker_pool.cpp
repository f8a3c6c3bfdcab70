#include "batch/worker_pool.hpp"

namespace kavrel {

WorkerPool::WorkerPool(size_t workers) : workers_(workers == 0 ? 1 : workers) {
  threads_.reserve(workers_ - 1);
  try {
    for (size_t w = 1; w < workers_; ++w) threads_.emplace_back([this, w] { work(w); });
  } catch (...) {
    stop();  // the threads already started must not outlive a failed construction
    throw;
  }
}

WorkerPool::~WorkerPool() { stop(); }

void WorkerPool::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
}

// Worker w of `active_` takes the w-th of as many nearly equal chunks.
void WorkerPool::chunk(size_t worker) {
  const size_t begin = rows_ * worker / active_, end = rows_ * (worker + 1) / active_;
  if (begin < end) task_(context_, worker, begin, end);
}

void WorkerPool::work(size_t worker) {
  size_t seen = 0;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      if (worker >= active_) continue;
    }
    chunk(worker);
    std::lock_guard lock(mutex_);
    if (--pending_ == 0) done_.notify_one();
  }
}

void WorkerPool::run(size_t rows, size_t workers, Task task, const void* context) {
  std::lock_guard serial(run_mutex_);
  workers = workers == 0 ? 1 : (workers < workers_ ? workers : workers_);
  {
    std::lock_guard lock(mutex_);
    task_ = task, context_ = context, rows_ = rows, active_ = workers, pending_ = workers - 1;
    ++generation_;
  }
  if (workers > 1) wake_.notify_all();
  chunk(0);
  std::unique_lock lock(mutex_);
  done_.wait(lock, [&] { return pending_ == 0; });
}

}  // namespace kavrel
