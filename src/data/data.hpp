// The workspace of one model: every intermediate quantity and result,
// sized once so that the algorithms allocate nothing.
#pragma once

#include <vector>

#include <Eigen/Core>

#include "model/model.hpp"
#include "types/layout.hpp"

namespace kavrel {

using Vector = Eigen::VectorXd;
using Matrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

struct Data {
  size_t njoints = 0;
  size_t nq = 0;
  size_t nv = 0;

  // Per joint.
  std::vector<Motion> v;         // velocity, joint frame
  std::vector<Motion> a;         // acceleration with the gravity offset, joint frame
  std::vector<Force> f;          // force transmitted by the joint, joint frame
  std::vector<Motion> ov;        // velocity, world frame
  std::vector<SE3> oMi;          // placement in the world
  std::vector<SE3> liMi;         // placement in the parent joint's frame
  std::vector<Inertia> composite_inertia;  // subtree inertia, world frame
  std::vector<Vec3> com;
  std::vector<Vec3> vcom;
  std::vector<double> mass;
  std::vector<Motion> a_gf;
  std::vector<Force> momentum;
  std::vector<Matrix6> inertia_variation;

  // Per velocity coordinate.
  Vector tau, nle, g;
  Matrix M, C;                   // nv x nv; M holds its upper triangle
  std::vector<Motion> J;         // world Jacobian, one column per coordinate
  std::vector<Motion> dJ;        // its time variation
  std::vector<Force> ag;
  std::vector<Force> dag;
  Eigen::Matrix3Xd jcom;

  // Forward dynamics.
  Vector ddq;                    // joint accelerations of the last aba
  Matrix Minv;                   // nv x nv inverse mass matrix, both triangles

  // Derivatives of the dynamics, nv x nv, q taken on the configuration manifold.
  Matrix dtau_dq, dtau_dv;       // of rnea, by rnea_derivatives (aba_derivatives: at a = ddq)
  Matrix ddq_dq, ddq_dv;         // of aba, by aba_derivatives

  // Work tables of the passes, sized here so that no pass allocates.
  std::vector<Matrix6> coriolis_factor;    // per joint: subtree velocity-product matrix B
  // Articulated bodies, world frame: per joint IA, pA, c = ov x vJ, D^-1 (top-left
  // nv_i block) and the acceleration; per coordinate U = IA J and u = tau - J^T pA.
  std::vector<Matrix6> articulated_inertia;
  std::vector<Force> articulated_bias;
  std::vector<Motion> velocity_product;
  std::vector<Matrix6> joint_inertia_inverse;
  std::vector<Motion> world_acceleration;
  std::vector<Vector6> articulated_columns;  // linear-first, for the 6 x n algebra
  Vector articulated_torque;
  // The inverse mass matrix by columns: per coordinate the subtree force of
  // a unit torque and the highest joint reached so far whose subtree holds
  // the coordinate, per joint (6 rows each) the accelerations, the last
  // coordinate of each subtree plus one, and the matrix being built.
  std::vector<Vector6> unit_forces;  // linear-first
  std::vector<size_t> subtree_top;
  Matrix unit_accelerations;
  std::vector<size_t> subtree_end;
  Matrix Minv_work;
  // Derivatives of the dynamics, world frame (see rnea_derivatives.hpp): per
  // joint H = [Ic, 2 Bc] (Bc's angular columns only) and the subtree force, per
  // coordinate K = [psi delta J; phi J 0] (phi's and the second J's angular
  // parts only). Both keep a zero row or column, so that their columns fill
  // whole packets. They start from ov and world_acceleration.
  std::vector<Eigen::Matrix<double, 6, 10>> derivative_factor;
  std::vector<Force> world_force;
  std::vector<Eigen::Matrix<double, 10, 3>> derivative_columns;
  // Per block of four columns of those derivatives, the rows where they can be
  // nonzero (rows[offsets[c] ..], ascending), a mark per joint to find them,
  // and the tree they were found for (parents and joint_nv), to find them anew
  // and clear dtau only when the tree changes.
  std::vector<uint32_t> product_rows, product_row_offsets;
  std::vector<uint8_t> joint_marks;
  std::vector<size_t> pattern_tree;
  // Columns of a Jacobian on its way out; readers fill it too, hence mutable.
  mutable std::vector<Motion> result_columns;

  // Whole tree.
  Force hg, dhg;
  Inertia ig;
  double kinetic_energy = 0.0;
  double potential_energy = 0.0;
  double mechanical_energy = 0.0;

  explicit Data(const Model& model);
  // The workspace of any model of these sizes.
  Data(size_t njoints, size_t nq, size_t nv);

  void reset();

  // M with its upper triangle mirrored below the diagonal.
  Matrix mass_matrix() const;
};

// Checked once at the entry of every pass: a Data is only ever built from a
// model, so matching counts imply that every field has its model's shape.
void require_matching_sizes(const Model& model, const Data& data);

}  // namespace kavrel
