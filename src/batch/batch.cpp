#include "batch/batch.hpp"

namespace kavrel {

Batch::Batch(Model model, size_t threads) : model_(std::move(model)), pool_(threads) {
  workers_.reserve(pool_.size());
  for (size_t w = 0; w < pool_.size(); ++w) workers_.push_back({Data(model_), {}});
}

void Batch::Failure::record(size_t r, Error e, bool broken_invariant) {
  std::lock_guard lock(mutex);
  if (r >= first.load()) return;
  error = {e.kind, "row " + std::to_string(r) + ": " + e.message};
  internal = broken_invariant;
  first.store(r);
}

}  // namespace kavrel
