// Memory for large batch results, kept when a result is released and handed
// out again. A batch called in a loop then writes to pages that are already
// mapped, instead of faulting in and zeroing fresh ones on every call: for a
// result of many megabytes that costs about as much as computing it.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

namespace kavrel {

// Whether a block of `capacity` values may take a result of n values: large
// enough, and less than twice as large, so that a small result never holds
// memory that a larger one will want.
constexpr bool fits(size_t capacity, size_t n) { return capacity >= n && capacity / 2 < n; }

class ResultBlocks {
 public:
  ResultBlocks() { idle_.reserve(kIdle + 1); }
  ResultBlocks(const ResultBlocks&) = delete;
  ResultBlocks& operator=(const ResultBlocks&) = delete;
  ~ResultBlocks();

  struct Block {
    double* values = nullptr;
    size_t capacity = 0;
  };

  // A block of at least n values: the tightest idle one that fits, or a new
  // one. Its values are not initialised.
  Block take(size_t n);
  // Keeps the block for a later take; beyond kIdle idle blocks, the oldest is
  // freed. Never throws: it runs when an array is freed.
  void give_back(Block block) noexcept;

  static constexpr size_t kIdle = 2;

 private:
  std::mutex mutex_;
  std::vector<Block> idle_;  // oldest first
};

}  // namespace kavrel
