// Batch: many states of one model per call, on every core, with the
// interpreter lock released. Each row runs the core pass of the single-state
// function, so it gives the same result to the bit.
#include <array>
#include <thread>

#include "algorithms/aba.hpp"
#include "algorithms/configuration.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/forward_kinematics.hpp"
#include "algorithms/frame_jacobian.hpp"
#include "algorithms/frame_placement.hpp"
#include "algorithms/joint_jacobians.hpp"
#include "algorithms/minverse.hpp"
#include "algorithms/rnea.hpp"
#include "python/classes.hpp"
#include "python/functions.hpp"
#include "types/dense_kernels.hpp"

namespace kavrel::python {

namespace {

using std::to_string;

// Row inputs: the argument, its name and the width it must have.
struct Input {
  const StateRows* rows;
  const char* name;
  size_t width;
};

std::string shape(size_t rows, size_t cols) { return "(" + to_string(rows) + ", " + to_string(cols) + ")"; }

// Every argument must have the first one's rows and its own width.
std::optional<Error> check_inputs(std::initializer_list<Input> inputs) {
  const size_t n = inputs.begin()->rows->rows;
  for (const Input& input : inputs)
    if (input.rows->rows != n || input.rows->cols != input.width)
      return value_error(std::string(input.name) + " has shape " + shape(input.rows->rows, input.rows->cols) +
                         ", expected " + shape(n, input.width));
  return std::nullopt;
}

constexpr size_t kStreamedBytes = size_t{4} << 20, kStreamedRowBytes = 1024;

// Runs row(model, data, inputs, out) for every state into the result array:
// the inputs are copied first, then the lock is released while the workers run.
template <class Row>
struct Rows {
  Batch& batch;
  std::array<Input, 3> inputs;
  size_t count, rows, out_width;
  double cost_ns;
  Row row;

  Status operator()(double* out) const {
    std::unique_lock kept(batch.inputs_mutex, std::try_to_lock);
    std::array<std::vector<double>, 3> own;
    std::array<std::vector<double>, 3>& copies = kept ? batch.inputs : own;
    for (size_t k = 0; k < count; ++k) inputs[k].rows->copy_to(copies[k]);
    // A result far larger than the caches, in rows of many cache lines, is
    // written row by row past them.
    const size_t row_bytes = out_width * sizeof(double);
    const bool streamed = row_bytes >= kStreamedRowBytes && rows * row_bytes >= kStreamedBytes;
    WithoutInterpreterLock unlocked;
    return batch.for_each_row(rows, cost_ns, [&](Batch::Worker& worker, size_t r) {
      std::array<std::span<const double>, 3> in;
      for (size_t k = 0; k < count; ++k) in[k] = {copies[k].data() + r * inputs[k].width, inputs[k].width};
      if (!streamed) return row(batch.model(), worker.data, in, out + r * out_width);
      if (worker.row.size() < out_width) worker.row.resize(out_width);  // once per width
      Status done = row(batch.model(), worker.data, in, worker.row.data());
      if (done) copy_streaming(worker.row.data(), out_width, out + r * out_width);
      return done;
    });
  }
};

template <class Row>
using RowsResult = Result<ArrayResult<Rows<Row>>>;

// The result of shape (N, *shape) over the inputs, every input checked first.
template <class Row>
RowsResult<Row> over_rows(const BatchHandle& self, std::initializer_list<Input> inputs,
                          std::initializer_list<size_t> shape, double cost_per_joint_ns, Row row) {
  if (auto error = check_inputs(inputs)) return *error;
  Batch& batch = *self.batch;
  const size_t n = inputs.begin()->rows->rows;
  size_t width = 1;
  for (size_t extent : shape) width *= extent;
  std::array<Input, 3> held{};
  std::copy(inputs.begin(), inputs.end(), held.begin());
  std::vector<size_t> full{n};
  full.insert(full.end(), shape);
  ArrayResult<Rows<Row>> result{{}, static_cast<int>(full.size()),
                                Rows<Row>{batch, held, inputs.size(), n, width,
                                          cost_per_joint_ns * static_cast<double>(batch.model().njoints), row},
                                batch.result_blocks};
  std::transform(full.begin(), full.end(), result.shape.begin(), [](size_t e) { return static_cast<npy_intp>(e); });
  return result;
}

using In = std::array<std::span<const double>, 3>;

Input q_of(const BatchHandle& self, const StateRows& q) { return {&q, "q", self.batch->model().nq}; }
Input v_of(const BatchHandle& self, const StateRows& v, const char* name = "v") {
  return {&v, name, self.batch->model().nv};
}

void copy(std::span<const double> from, double* out) { std::copy(from.begin(), from.end(), out); }

// Each thread has a workspace of its own; far more than any machine has cores is a mistake.
constexpr long long kMaxThreads = 1024;

Result<BatchHandle> construct(const Model& model, std::optional<IntegerOrNone> threads) {
  long long count = static_cast<long long>(std::thread::hardware_concurrency());
  if (threads && threads->value) count = *threads->value;
  if (count <= 0) return value_error("threads must be at least 1, got " + to_string(count));
  if (count > kMaxThreads) return value_error("threads must be at most " + to_string(kMaxThreads) + ", got " + to_string(count));
  return BatchHandle{std::make_unique<Batch>(Model(model), static_cast<size_t>(count))};
}

auto rnea(const BatchHandle& self, const StateRows& q, const StateRows& v, const StateRows& a) {
  const size_t nv = self.batch->model().nv;
  return over_rows(self, {q_of(self, q), v_of(self, v), v_of(self, a, "a")}, {nv}, 70.0,
                   [](const Model& m, Data& d, In in, double* out) {
                     kavrel::rnea(m, d, in[0], in[1], in[2]);
                     copy({d.tau.data(), m.nv}, out);
                     return ok_status();
                   });
}

auto non_linear_effects(const BatchHandle& self, const StateRows& q, const StateRows& v) {
  return over_rows(self, {q_of(self, q), v_of(self, v)}, {self.batch->model().nv}, 70.0,
                   [](const Model& m, Data& d, In in, double* out) {
                     kavrel::non_linear_effects(m, d, in[0], in[1]);
                     copy({d.nle.data(), m.nv}, out);
                     return ok_status();
                   });
}

auto compute_gravity(const BatchHandle& self, const StateRows& q) {
  return over_rows(self, {q_of(self, q)}, {self.batch->model().nv}, 40.0,
                   [](const Model& m, Data& d, In in, double* out) {
                     kavrel::compute_gravity(m, d, in[0]);
                     copy({d.g.data(), m.nv}, out);
                     return ok_status();
                   });
}

auto aba(const BatchHandle& self, const StateRows& q, const StateRows& v, const StateRows& tau) {
  const size_t nv = self.batch->model().nv;
  return over_rows(self, {q_of(self, q), v_of(self, v), v_of(self, tau, "tau")}, {nv}, 200.0,
                   [](const Model& m, Data& d, In in, double* out) {
                     if (Status done = kavrel::aba(m, d, in[0], in[1], in[2]); !done) return done;
                     copy({d.ddq.data(), m.nv}, out);
                     return ok_status();
                   });
}

auto crba(const BatchHandle& self, const StateRows& q) {
  const size_t nv = self.batch->model().nv;
  return over_rows(self, {q_of(self, q)}, {nv, nv}, 80.0, [](const Model& m, Data& d, In in, double* out) {
    kavrel::crba(m, d, in[0]);
    // The workspace is the batch's own, so its lower triangle may hold the mirror.
    mirror_upper(d.M);
    copy({d.M.data(), m.nv * m.nv}, out);
    return ok_status();
  });
}

auto compute_minverse(const BatchHandle& self, const StateRows& q) {
  const size_t nv = self.batch->model().nv;
  return over_rows(self, {q_of(self, q)}, {nv, nv}, 250.0, [](const Model& m, Data& d, In in, double* out) {
    if (Status done = kavrel::compute_minverse(m, d, in[0]); !done) return done;
    copy({d.Minv.data(), m.nv * m.nv}, out);
    return ok_status();
  });
}

auto forward_kinematics(const BatchHandle& self, const StateRows& q) {
  return over_rows(self, {q_of(self, q)}, {self.batch->model().njoints, 4, 4}, 25.0,
                   [](const Model& m, Data& d, In in, double* out) {
                     kavrel::forward_kinematics(m, d, in[0]);
                     for (size_t i = 0; i < m.njoints; ++i) write_homogeneous(d.oMi[i], out + 16 * i);
                     return ok_status();
                   });
}

// The frame rows take the frame's checks first, as the single calls do.
struct FrameJacobianRow {
  size_t frame_id;
  ReferenceFrame reference;
  Status operator()(const Model& m, Data& d, In in, double* out) const {
    const Frame& frame = m.frames[frame_id];
    kavrel::compute_joint_jacobians(m, d, in[0]);
    get_frame_jacobian(m, d, frame.parent_joint, frame.placement, reference, d.result_columns);
    write_columns_linear_first<Motion>(d.result_columns, out);
    return ok_status();
  }
};

struct FramePlacementRow {
  size_t frame_id;
  Status operator()(const Model& m, Data& d, In in, double* out) const {
    kavrel::forward_kinematics(m, d, in[0]);
    write_homogeneous(frame_placement(m, d, frame_id), out);
    return ok_status();
  }
};

RowsResult<FrameJacobianRow> get_frame_jacobian_rows(const BatchHandle& self, const StateRows& q, size_t frame_id,
                                                     ReferenceFrame reference_frame) {
  const Model& model = self.batch->model();
  if (auto error = check_frame(model, frame_id)) return *error;
  if (auto error = check_frame_joint(model, frame_id)) return *error;
  return over_rows(self, {q_of(self, q)}, {6, model.nv}, 40.0, FrameJacobianRow{frame_id, reference_frame});
}

RowsResult<FramePlacementRow> get_frame_placement_rows(const BatchHandle& self, const StateRows& q, size_t frame_id) {
  const Model& model = self.batch->model();
  if (auto error = check_frame(model, frame_id)) return *error;
  if (auto error = check_frame_joint(model, frame_id)) return *error;
  return over_rows(self, {q_of(self, q)}, {4, 4}, 25.0, FramePlacementRow{frame_id});
}

auto integrate_rows(const BatchHandle& self, const StateRows& q, const StateRows& v) {
  return over_rows(self, {q_of(self, q), v_of(self, v)}, {self.batch->model().nq}, 10.0,
                   [](const Model& m, Data&, In in, double* out) {
                     kavrel::integrate(m, in[0], in[1], std::span<double>(out, m.nq));
                     return ok_status();
                   });
}

size_t njoints(const BatchHandle& self) { return self.batch->model().njoints; }
size_t nq(const BatchHandle& self) { return self.batch->model().nq; }
size_t nv(const BatchHandle& self) { return self.batch->model().nv; }
size_t threads(const BatchHandle& self) { return self.batch->threads(); }

std::string repr(const BatchHandle& self) {
  const Model& m = self.batch->model();
  return "Batch(njoints=" + to_string(m.njoints) + ", nq=" + to_string(m.nq) + ", nv=" + to_string(m.nv) +
         ", threads=" + to_string(self.batch->threads()) + ")";
}

// Pickled as its copy of the model and its thread count.
auto reduce(const BatchHandle& self) {
  return std::tuple(ClassObject<BatchHandle>{}, std::tuple(self.batch->model(), self.batch->threads()));
}

PyMethodDef methods[] = {
    method_row<"Batch", "rnea($self, q, v, a)", rnea, "Inverse dynamics of every row: (N, nv)">(),
    method_row<"Batch", "non_linear_effects($self, q, v)", non_linear_effects, "Non-linear effects of every row: (N, nv)">(),
    method_row<"Batch", "compute_gravity($self, q)", compute_gravity, "Gravity torques of every row: (N, nv)">(),
    method_row<"Batch", "aba($self, q, v, tau)", aba, "Forward dynamics of every row: (N, nv)">(),
    method_row<"Batch", "crba($self, q)", crba, "Full symmetric mass matrix of every row: (N, nv, nv)">(),
    method_row<"Batch", "computeMinverse($self, q)", compute_minverse, "Inverse mass matrix of every row: (N, nv, nv)">(),
    method_row<"Batch", "forwardKinematics($self, q)", forward_kinematics,
               "Homogeneous matrices of oMi for every row: (N, njoints, 4, 4)">(),
    method_row<"Batch", "getFrameJacobian($self, q, frame_id, reference_frame)", get_frame_jacobian_rows,
               "Frame Jacobian of every row, as computeJointJacobians then getFrameJacobian: (N, 6, nv)">(),
    method_row<"Batch", "getFramePlacement($self, q, frame_id)", get_frame_placement_rows,
               "Frame placement of every row, as forwardKinematics then getFramePlacement: (N, 4, 4)">(),
    method_row<"Batch", "integrate($self, q, v)", integrate_rows, "q (+) v of every row: (N, nq)">(),
    method_row<"Batch", "__reduce__($self)", reduce>(),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef properties[] = {
    property_row<"njoints", njoints, "Number of joints of the batch's model (int)">(),
    property_row<"nq", nq, "Configuration size of the batch's model (int)">(),
    property_row<"nv", nv, "Velocity size of the batch's model (int)">(),
    property_row<"threads", threads, "Number of worker threads, the calling thread included (int)">(),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr auto doc = class_doc<"Batch", "(model, threads=None)">();

}  // namespace

PyTypeObject* create_batch_class() {
  return create_class({"kavrel.Batch", doc.c_str(), sizeof(Box<BatchHandle>), dealloc_box<BatchHandle>,
                       &Constructor<"Batch", "(model, threads=None)", construct>::call, methods, properties,
                       self_text<repr>, nullptr});
}

}  // namespace kavrel::python
