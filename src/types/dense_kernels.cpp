#include "types/dense_kernels.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define KAVREL_WIDE_PRODUCT 1
#endif

namespace kavrel {

#ifdef KAVREL_WIDE_PRODUCT
namespace {

using Rows = std::span<const uint32_t>;

// Rows i .. i + 3 of -s, with s_c holding column c of that 4 x 4 block.
[[gnu::target("avx2,fma")]] inline void store_transposed(__m256d s0, __m256d s1, __m256d s2, __m256d s3, double* out,
                                                         long n) {
  const __m256d t0 = _mm256_unpacklo_pd(s0, s1), t1 = _mm256_unpackhi_pd(s0, s1);
  const __m256d t2 = _mm256_unpacklo_pd(s2, s3), t3 = _mm256_unpackhi_pd(s2, s3), zero = _mm256_setzero_pd();
  _mm256_storeu_pd(out, _mm256_sub_pd(zero, _mm256_permute2f128_pd(t0, t2, 0x20)));
  _mm256_storeu_pd(out + n, _mm256_sub_pd(zero, _mm256_permute2f128_pd(t1, t3, 0x20)));
  _mm256_storeu_pd(out + 2 * n, _mm256_sub_pd(zero, _mm256_permute2f128_pd(t0, t2, 0x31)));
  _mm256_storeu_pd(out + 3 * n, _mm256_sub_pd(zero, _mm256_permute2f128_pd(t1, t3, 0x31)));
}

// Entries (i .. i + 7, k .. k + 3) of out, summed over the given rows j in
// registers: a's symmetry lets row j of a stand for its column j, so that each
// step is two loads of a, four broadcasts of b and eight FMAs.
[[gnu::target("avx2,fma")]] inline void block_8x4(const double* a, const double* b, double* out, long n, long i, long k,
                                                  Rows rows) {
  __m256d s00 = _mm256_setzero_pd(), s01 = s00, s10 = s00, s11 = s00, s20 = s00, s21 = s00, s30 = s00, s31 = s00;
  for (const uint32_t j : rows) {
    const __m256d a0 = _mm256_loadu_pd(a + j * n + i), a1 = _mm256_loadu_pd(a + j * n + i + 4);
    const double* bj = b + j * n + k;
    __m256d x = _mm256_broadcast_sd(bj);
    s00 = _mm256_fmadd_pd(x, a0, s00), s01 = _mm256_fmadd_pd(x, a1, s01);
    x = _mm256_broadcast_sd(bj + 1);
    s10 = _mm256_fmadd_pd(x, a0, s10), s11 = _mm256_fmadd_pd(x, a1, s11);
    x = _mm256_broadcast_sd(bj + 2);
    s20 = _mm256_fmadd_pd(x, a0, s20), s21 = _mm256_fmadd_pd(x, a1, s21);
    x = _mm256_broadcast_sd(bj + 3);
    s30 = _mm256_fmadd_pd(x, a0, s30), s31 = _mm256_fmadd_pd(x, a1, s31);
  }
  store_transposed(s00, s10, s20, s30, out + i * n + k, n);
  store_transposed(s01, s11, s21, s31, out + (i + 4) * n + k, n);
}

// Entries (i .. i + 3, k .. k + 3) of out, as block_8x4 does.
[[gnu::target("avx2,fma")]] inline void block_4x4(const double* a, const double* b, double* out, long n, long i, long k,
                                                  Rows rows) {
  __m256d s0 = _mm256_setzero_pd(), s1 = s0, s2 = s0, s3 = s0;
  for (const uint32_t j : rows) {
    const __m256d a0 = _mm256_loadu_pd(a + j * n + i);
    const double* bj = b + j * n + k;
    s0 = _mm256_fmadd_pd(_mm256_broadcast_sd(bj), a0, s0);
    s1 = _mm256_fmadd_pd(_mm256_broadcast_sd(bj + 1), a0, s1);
    s2 = _mm256_fmadd_pd(_mm256_broadcast_sd(bj + 2), a0, s2);
    s3 = _mm256_fmadd_pd(_mm256_broadcast_sd(bj + 3), a0, s3);
  }
  store_transposed(s0, s1, s2, s3, out + i * n + k, n);
}

// Entries (i .. i + R - 1, k .. k + 3) of out, the columns beyond n masked
// off: R sums side by side, so that none waits on another.
template <int R>
[[gnu::target("avx2,fma")]] inline void block_masked(const double* a, const double* b, double* out, long n, long i,
                                                     long k, Rows rows, __m256i mask) {
  __m256d s[R];
  for (int r = 0; r < R; ++r) s[r] = _mm256_setzero_pd();
  for (const uint32_t j : rows) {
    const __m256d bj = _mm256_maskload_pd(b + j * n + k, mask);
    for (int r = 0; r < R; ++r) s[r] = _mm256_fmadd_pd(_mm256_broadcast_sd(a + (i + r) * n + j), bj, s[r]);
  }
  for (int r = 0; r < R; ++r)
    _mm256_maskstore_pd(out + (i + r) * n + k, mask, _mm256_sub_pd(_mm256_setzero_pd(), s[r]));
}

[[gnu::target("avx2,fma")]] void wide_product(const double* a, const double* b, double* out, long n, Rows rows,
                                               Rows offsets) {
  const __m256i lanes = _mm256_set_epi64x(3, 2, 1, 0);
  for (long k = 0, c = 0; k < n; k += 4, ++c) {
    const Rows block_rows = rows.subspan(offsets[c], offsets[c + 1] - offsets[c]);
    const __m256i mask = _mm256_cmpgt_epi64(_mm256_set1_epi64x(n - k), lanes);
    long i = 0;
    if (k + 4 <= n) {
      for (; i + 8 <= n; i += 8) block_8x4(a, b, out, n, i, k, block_rows);
      for (; i + 4 <= n; i += 4) block_4x4(a, b, out, n, i, k, block_rows);
    } else {
      for (; i + 4 <= n; i += 4) block_masked<4>(a, b, out, n, i, k, block_rows, mask);
    }
    for (; i < n; ++i) block_masked<1>(a, b, out, n, i, k, block_rows, mask);
  }
}

template <bool Masked>
[[gnu::target("avx2,fma")]] inline __m256d load(const double* at, __m256i mask) {
  return Masked ? _mm256_maskload_pd(at, mask) : _mm256_loadu_pd(at);
}

template <bool Masked>
[[gnu::target("avx2,fma")]] inline void store(double* at, __m256i mask, __m256d x) {
  if constexpr (Masked) _mm256_maskstore_pd(at, mask, x); else _mm256_storeu_pd(at, x);
}

// Columns b .. b + 3 of sweep_joint_row, the lanes off the mask left alone.
template <bool Masked>
[[gnu::target("avx2,fma")]] inline void sweep_block(const double* factor, const __m256d* axis, const double* parent,
                                                    double* accelerations, double* row, long b, long n, __m256i mask) {
  __m256d r = load<Masked>(row + b, mask);
  if (parent == nullptr) {
    for (int k = 0; k < 6; ++k) store<Masked>(accelerations + k * n + b, mask, _mm256_mul_pd(axis[k], r));
    return;
  }
  __m256d p[6];
  for (int k = 0; k < 6; ++k) p[k] = load<Masked>(parent + k * n + b, mask);
  for (int k = 0; k < 6; ++k) r = _mm256_fnmadd_pd(_mm256_broadcast_sd(factor + k), p[k], r);
  store<Masked>(row + b, mask, r);
  for (int k = 0; k < 6; ++k) store<Masked>(accelerations + k * n + b, mask, _mm256_fmadd_pd(axis[k], r, p[k]));
}

[[gnu::target("avx2,fma")]] void wide_sweep(const double* factor, const double* axis, const double* parent,
                                             double* accelerations, double* row, long from, long n) {
  __m256d axis_lanes[6];
  for (int k = 0; k < 6; ++k) axis_lanes[k] = _mm256_broadcast_sd(axis + k);
  long b = from;
  const __m256i all = _mm256_set1_epi64x(-1);
  for (; b + 4 <= n; b += 4) sweep_block<false>(factor, axis_lanes, parent, accelerations, row, b, n, all);
  if (b == n) return;
  const __m256i mask = _mm256_cmpgt_epi64(_mm256_set1_epi64x(n - b), _mm256_set_epi64x(3, 2, 1, 0));
  sweep_block<true>(factor, axis_lanes, parent, accelerations, row, b, n, mask);
}

// Four by four blocks, transposed in registers; the diagonal blocks and the
// rows past the last whole block one entry at a time.
[[gnu::target("avx2,fma")]] void wide_mirror(double* m, long n) {
  const long whole = n / 4 * 4;
  for (long i = 0; i < whole; i += 4)
    for (long j = i + 4; j < whole; j += 4) {
      const double* from = m + i * n + j;
      const __m256d r0 = _mm256_loadu_pd(from), r1 = _mm256_loadu_pd(from + n);
      const __m256d r2 = _mm256_loadu_pd(from + 2 * n), r3 = _mm256_loadu_pd(from + 3 * n);
      const __m256d t0 = _mm256_unpacklo_pd(r0, r1), t1 = _mm256_unpackhi_pd(r0, r1);
      const __m256d t2 = _mm256_unpacklo_pd(r2, r3), t3 = _mm256_unpackhi_pd(r2, r3);
      double* to = m + j * n + i;
      _mm256_storeu_pd(to, _mm256_permute2f128_pd(t0, t2, 0x20));
      _mm256_storeu_pd(to + n, _mm256_permute2f128_pd(t1, t3, 0x20));
      _mm256_storeu_pd(to + 2 * n, _mm256_permute2f128_pd(t0, t2, 0x31));
      _mm256_storeu_pd(to + 3 * n, _mm256_permute2f128_pd(t1, t3, 0x31));
    }
  for (long r = 1; r < n; ++r)
    for (long c = r < whole ? r / 4 * 4 : 0; c < r; ++c) m[r * n + c] = m[c * n + r];
}

bool has_wide_product() {
  static const bool wide = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"));
  return wide;
}

}  // namespace
#endif

void negated_product(const RowMatrix& a, const RowMatrix& b, std::span<const uint32_t> rows,
                     std::span<const uint32_t> offsets, RowMatrix& out) {
#ifdef KAVREL_WIDE_PRODUCT
  if (has_wide_product()) return wide_product(a.data(), b.data(), out.data(), a.rows(), rows, offsets);
#endif
  (void)rows, (void)offsets;
  out.noalias() = -a * b;
}

void mirror_upper(RowMatrix& m) {
#ifdef KAVREL_WIDE_PRODUCT
  if (has_wide_product()) return wide_mirror(m.data(), m.rows());
#endif
  m.triangularView<Eigen::StrictlyLower>() = m.transpose();
}

void sweep_joint_row(const double* factor, const double* axis, const double* parent, double* accelerations,
                     double* row, long from, long n) {
#ifdef KAVREL_WIDE_PRODUCT
  if (has_wide_product()) return wide_sweep(factor, axis, parent, accelerations, row, from, n);
#endif
  for (long b = from; b < n; ++b) {
    double r = row[b];
    if (parent != nullptr) {
      for (int k = 0; k < 6; ++k) r -= factor[k] * parent[k * n + b];
      row[b] = r;
    }
    for (int k = 0; k < 6; ++k) accelerations[k * n + b] = (parent != nullptr ? parent[k * n + b] : 0.0) + axis[k] * r;
  }
}

}  // namespace kavrel
