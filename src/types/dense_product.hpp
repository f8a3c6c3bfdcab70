// out = -a b for the square products of the forward-dynamics derivatives, a
// symmetric and b zero outside given rows in each block of four columns (the
// branches of a tree make about half of the derivatives' entries zero). Where
// the processor has AVX2 and FMA a register-blocked kernel runs over those rows
// only; elsewhere Eigen's dense product. Neither allocates.
#pragma once

#include <cstdint>
#include <span>

#include <Eigen/Core>

namespace kavrel {

using RowMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// a is n x n and equal to its transpose, b and out n x n. Columns [4 c, 4 c + 4)
// of b are zero but in the rows rows[offsets[c] .. offsets[c + 1]), ascending.
void negated_product(const RowMatrix& a, const RowMatrix& b, std::span<const uint32_t> rows,
                     std::span<const uint32_t> offsets, RowMatrix& out);

}  // namespace kavrel
