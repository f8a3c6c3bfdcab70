// Many states of one model at once: the batch owns its copy of the model,
// one workspace per worker, and the workers. Each row runs the same core
// pass as a single call, so its result is the same to the bit.
#pragma once

#include <array>
#include <atomic>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "batch/result_blocks.hpp"
#include "batch/streaming.hpp"
#include "batch/worker_pool.hpp"
#include "data/data.hpp"

namespace kavrel {

class Batch {
 public:
  Batch(Model model, size_t threads);

  const Model& model() const { return model_; }
  size_t threads() const { return pool_.size(); }

  // Buffers for copies of the inputs, kept from call to call so that large
  // batches do not fault fresh pages in every time. try_lock: a caller that
  // finds them in use brings its own.
  std::mutex inputs_mutex;
  std::array<std::vector<double>, 3> inputs;

  // Memory of released results, for the next ones; shared with the arrays
  // still in use, which may outlive the batch.
  std::shared_ptr<ResultBlocks> result_blocks = std::make_shared<ResultBlocks>();

  // A worker's own: its workspace, and one row of a result before it is
  // streamed out.
  struct Worker {
    Data data;
    std::vector<double> row;
  };

  // Calls row(worker, r), a Status, for every r in [0, rows), the rows split
  // in contiguous chunks over the workers; a run estimated below about 20 us
  // (row_cost_ns per row) stays on the calling thread. On failure: the error
  // of the lowest failing row, its message prefixed with the row's index.
  template <class Row>
  Status for_each_row(size_t rows, double row_cost_ns, const Row& row);

 private:
  struct Failure {
    std::mutex mutex;
    std::atomic<size_t> first{std::numeric_limits<size_t>::max()};
    Error error{ErrorKind::Value, ""};
    bool internal = false;

    void record(size_t r, Error e, bool broken_invariant);
  };

  Model model_;
  std::vector<Worker> workers_;
  WorkerPool pool_;
};

template <class Row>
Status Batch::for_each_row(size_t rows, double row_cost_ns, const Row& row) {
  Failure failure;
  const double workers = static_cast<double>(rows) * row_cost_ns / 20000.0;
  const size_t used = workers < 2.0 ? 1 : static_cast<size_t>(workers);
  pool_.run(rows, used, [&](size_t worker, size_t begin, size_t end) {
    Worker& own = workers_[worker];
    // Later rows stop once an earlier one has failed.
    for (size_t r = begin; r < end && r < failure.first.load(std::memory_order_relaxed); ++r) {
      try {
        if (Status status = row(own, r); !status) failure.record(r, std::move(status.error()), false);
      } catch (const std::exception& broken) {
        failure.record(r, value_error(broken.what()), true);
      }
    }
    finish_streaming();
  });
  if (failure.first.load() == std::numeric_limits<size_t>::max()) return ok_status();
  if (failure.internal) fail_internal(failure.error.message);
  return failure.error;
}

}  // namespace kavrel
