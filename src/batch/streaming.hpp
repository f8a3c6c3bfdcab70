// Stores that bypass the caches, for results far larger than them: a plain
// store first reads the line it writes into, which doubles the memory
// traffic of a batch whose output is its bottleneck.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kavrel {

// Copies n doubles to `to`, past the caches where the processor can. Only
// whole cache lines are streamed: the partial ones at either end are shared
// with the neighbouring rows, and a partly streamed line costs a read of
// memory after all.
inline void copy_streaming(const double* from, size_t n, double* to) {
#if defined(__x86_64__)
  const auto address = reinterpret_cast<uintptr_t>(to);
  size_t head = ((64 - address % 64) % 64) / sizeof(double);
  if (address % sizeof(double) != 0 || head > n) head = n;
  std::copy(from, from + head, to);
  size_t k = head;
  for (; k + 8 <= n; k += 8)
    for (size_t j = 0; j < 8; j += 2) _mm_stream_pd(to + k + j, _mm_loadu_pd(from + k + j));
  std::copy(from + k, from + n, to + k);
#else
  std::copy(from, from + n, to);
#endif
}

// Orders the streamed stores before any later store: a worker's results are
// complete before it reports its chunk done.
inline void finish_streaming() {
#if defined(__x86_64__)
  _mm_sfence();
#endif
}

}  // namespace kavrel
