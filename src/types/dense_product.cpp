#include "types/dense_product.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define KAVREL_WIDE_PRODUCT 1
#endif

namespace kavrel {

#ifdef KAVREL_WIDE_PRODUCT
namespace {

// Entries (i .. i + 3, j .. j + 7) of out, summed over the whole depth in
// registers (named, so that none of them goes through memory).
[[gnu::target("avx2,fma")]] inline void block_4x8(const double* a, const double* b, double* out, long n, long m, long i,
                                                  long j) {
  __m256d s00 = _mm256_setzero_pd(), s01 = s00, s10 = s00, s11 = s00, s20 = s00, s21 = s00, s30 = s00, s31 = s00;
  const double* row = a + i * n;
  for (long k = 0; k < n; ++k, ++row) {
    const __m256d b0 = _mm256_loadu_pd(b + k * m + j), b1 = _mm256_loadu_pd(b + k * m + j + 4);
    __m256d x = _mm256_broadcast_sd(row);
    s00 = _mm256_fmadd_pd(x, b0, s00), s01 = _mm256_fmadd_pd(x, b1, s01);
    x = _mm256_broadcast_sd(row + n);
    s10 = _mm256_fmadd_pd(x, b0, s10), s11 = _mm256_fmadd_pd(x, b1, s11);
    x = _mm256_broadcast_sd(row + 2 * n);
    s20 = _mm256_fmadd_pd(x, b0, s20), s21 = _mm256_fmadd_pd(x, b1, s21);
    x = _mm256_broadcast_sd(row + 3 * n);
    s30 = _mm256_fmadd_pd(x, b0, s30), s31 = _mm256_fmadd_pd(x, b1, s31);
  }
  const __m256d zero = _mm256_setzero_pd();
  double* o = out + i * m + j;
  _mm256_storeu_pd(o, _mm256_sub_pd(zero, s00)), _mm256_storeu_pd(o + 4, _mm256_sub_pd(zero, s01));
  _mm256_storeu_pd(o + m, _mm256_sub_pd(zero, s10)), _mm256_storeu_pd(o + m + 4, _mm256_sub_pd(zero, s11));
  _mm256_storeu_pd(o + 2 * m, _mm256_sub_pd(zero, s20)), _mm256_storeu_pd(o + 2 * m + 4, _mm256_sub_pd(zero, s21));
  _mm256_storeu_pd(o + 3 * m, _mm256_sub_pd(zero, s30)), _mm256_storeu_pd(o + 3 * m + 4, _mm256_sub_pd(zero, s31));
}

// Entries (i, j .. j + 3) of out.
[[gnu::target("avx2,fma")]] inline void block_1x4(const double* a, const double* b, double* out, long n, long m, long i,
                                                  long j) {
  __m256d s = _mm256_setzero_pd();
  for (long k = 0; k < n; ++k) s = _mm256_fmadd_pd(_mm256_broadcast_sd(a + i * n + k), _mm256_loadu_pd(b + k * m + j), s);
  _mm256_storeu_pd(out + i * m + j, _mm256_sub_pd(_mm256_setzero_pd(), s));
}

// Entries (i, j .. m - 1) of out, fewer than four: masked loads and stores
// keep the last columns in vector registers too.
[[gnu::target("avx2,fma")]] inline void block_1x_tail(const double* a, const double* b, double* out, long n, long m,
                                                      long i, long j) {
  const __m256i lanes = _mm256_set_epi64x(3, 2, 1, 0);
  const __m256i mask = _mm256_cmpgt_epi64(_mm256_set1_epi64x(m - j), lanes);
  __m256d s = _mm256_setzero_pd();
  for (long k = 0; k < n; ++k)
    s = _mm256_fmadd_pd(_mm256_broadcast_sd(a + i * n + k), _mm256_maskload_pd(b + k * m + j, mask), s);
  _mm256_maskstore_pd(out + i * m + j, mask, _mm256_sub_pd(_mm256_setzero_pd(), s));
}

[[gnu::target("avx2,fma")]] void wide_product(const double* a, const double* b, double* out, long n, long m) {
  long j = 0;
  for (; j + 8 <= m; j += 8) {
    long i = 0;
    for (; i + 4 <= n; i += 4) block_4x8(a, b, out, n, m, i, j);
    for (; i < n; ++i) block_1x4(a, b, out, n, m, i, j), block_1x4(a, b, out, n, m, i, j + 4);
  }
  for (; j + 4 <= m; j += 4)
    for (long i = 0; i < n; ++i) block_1x4(a, b, out, n, m, i, j);
  if (j < m)
    for (long i = 0; i < n; ++i) block_1x_tail(a, b, out, n, m, i, j);
}

bool has_wide_product() {
  static const bool wide = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"));
  return wide;
}

}  // namespace
#endif

void negated_product(const RowMatrix& a, const RowMatrix& b, RowMatrix& out) {
#ifdef KAVREL_WIDE_PRODUCT
  if (has_wide_product()) return wide_product(a.data(), b.data(), out.data(), a.rows(), b.cols());
#endif
  out.noalias() = -a * b;
}

}  // namespace kavrel
