// out = -a b for the square products of the forward-dynamics derivatives.
// Where the processor has AVX2 and FMA a register-blocked kernel runs, four
// times as wide as the SSE2 baseline the module is built for; elsewhere Eigen.
// Neither allocates.
#pragma once

#include <Eigen/Core>

namespace kavrel {

using RowMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// a is n x n, b and out n x m, all of them already of these sizes.
void negated_product(const RowMatrix& a, const RowMatrix& b, RowMatrix& out);

}  // namespace kavrel
