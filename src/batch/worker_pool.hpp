// A fixed set of threads that split a range of rows into contiguous chunks.
// The calling thread works too, as worker 0; the others wait between runs.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

namespace kavrel {

class WorkerPool {
 public:
  // Runs on rows [begin, end) as worker `worker`.
  using Task = void (*)(const void* context, size_t worker, size_t begin, size_t end);

  explicit WorkerPool(size_t workers);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  size_t size() const { return workers_; }

  // Splits [0, rows) over `workers` workers (at most size()) and returns when
  // every chunk is done. One run at a time: concurrent callers wait their turn.
  void run(size_t rows, size_t workers, Task task, const void* context);

  template <class F>
  void run(size_t rows, size_t workers, const F& f) {
    run(rows, workers, [](const void* c, size_t w, size_t b, size_t e) { (*static_cast<const F*>(c))(w, b, e); }, &f);
  }

 private:
  void work(size_t worker);
  void stop();
  void chunk(size_t worker);

  const size_t workers_;
  std::mutex run_mutex_;  // one run at a time
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  size_t generation_ = 0, pending_ = 0, rows_ = 0, active_ = 0;
  Task task_ = nullptr;
  const void* context_ = nullptr;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace kavrel
