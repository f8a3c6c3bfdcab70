#include "batch/result_blocks.hpp"

#include <new>

namespace kavrel {

namespace {
// Cache-line aligned, so that rows of whole lines can be streamed whole.
constexpr std::align_val_t kLine{64};
void release(ResultBlocks::Block block) { ::operator delete(block.values, kLine); }
}  // namespace

ResultBlocks::~ResultBlocks() {
  for (Block block : idle_) release(block);
}

ResultBlocks::Block ResultBlocks::take(size_t n) {
  {
    std::lock_guard lock(mutex_);
    auto best = idle_.end();
    for (auto it = idle_.begin(); it != idle_.end(); ++it)
      if (fits(it->capacity, n) && (best == idle_.end() || it->capacity < best->capacity))
        best = it;
    if (best != idle_.end()) {
      const Block block = *best;
      idle_.erase(best);
      return block;
    }
  }
  return {static_cast<double*>(::operator new(n * sizeof(double), kLine)), n};
}

void ResultBlocks::give_back(Block block) noexcept {
  Block dropped;
  {
    std::lock_guard lock(mutex_);
    idle_.push_back(block);  // within the reserved capacity
    if (idle_.size() <= kIdle) return;
    dropped = idle_.front();
    idle_.erase(idle_.begin());
  }
  release(dropped);
}

}  // namespace kavrel
