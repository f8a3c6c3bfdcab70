// Dense kernels of forward dynamics. Where the processor has AVX2 and FMA
// they work four columns at a time in registers; elsewhere they fall back to
// Eigen or plain loops. None allocates.
#pragma once

#include <cstdint>
#include <span>

#include <Eigen/Core>

namespace kavrel {

using RowMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// out = -a b for the square products of the forward-dynamics derivatives, a
// symmetric and b zero outside given rows in each block of four columns (the
// branches of a tree make about half of the derivatives' entries zero): the
// kernel sums over those rows only.
// a is n x n and equal to its transpose, b and out n x n. Columns [4 c, 4 c + 4)
// of b are zero but in the rows rows[offsets[c] .. offsets[c + 1]), ascending.
void negated_product(const RowMatrix& a, const RowMatrix& b, std::span<const uint32_t> rows,
                     std::span<const uint32_t> offsets, RowMatrix& out);

// Copies the strict upper triangle of the square m onto its lower triangle.
void mirror_upper(RowMatrix& m);

// For each column b in [from, n) of a joint with one coordinate, from the
// parent's six rows of accelerations P (linear first, row stride n):
//   row_b -= factor . P_b,   A_b = P_b + axis row_b.
// Without a parent (P null) P_b is zero and row_b stays as it is.
void sweep_joint_row(const double* factor, const double* axis, const double* parent, double* accelerations,
                     double* row, long from, long n);

}  // namespace kavrel
