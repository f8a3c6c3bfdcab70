#include "python/reports.hpp"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>

namespace kavrel::python {

namespace {

// {x:W.P}: fixed point, P decimals, right-aligned in W characters.
std::string fixed(double x, int width, int precision) {
  char buffer[64];
  if (std::isnan(x)) std::snprintf(buffer, sizeof buffer, "%*s", width, "NaN");
  else std::snprintf(buffer, sizeof buffer, "%*.*f", width, precision, x);
  return buffer;
}

bool any_above_threshold(const Vector& values) {
  for (Eigen::Index i = 0; i < values.size(); ++i)
    if (std::abs(values[i]) > 1e-10) return true;
  return false;
}

void append_vector_section(std::string& out, const char* title, const char* label, const Vector& values) {
  const size_t n = static_cast<size_t>(values.size());
  if (n == 0 || !any_above_threshold(values)) return;
  out += "\n";
  out += title;
  out += "\n";
  for (size_t i = 0; i < std::min<size_t>(n, 10); ++i)
    out += "  " + std::string(label) + "[" + std::to_string(i) + "] = " + fixed(values[i], 12, 6) + "\n";
  if (n > 10) out += "  ... (" + std::to_string(n - 10) + " more)\n";
}

}  // namespace

std::string model_report(const Model& model) {
  std::string out = "========== Model Information ==========\n";
  out += "Model name: " + model.name + "\n";
  out += "Number of joints: " + std::to_string(model.njoints) + "\n";
  out += "Number of frames: " + std::to_string(model.nframes) + "\n";
  out += "Number of bodies: " + std::to_string(model.nbodies) + "\n";
  out += "Number of DOF (nq): " + std::to_string(model.nq) + "\n";
  out += "Number of velocity DOF (nv): " + std::to_string(model.nv) + "\n";
  out += "\n========== Joint Information ==========\n";
  for (size_t i = 0; i < model.njoints; ++i)
    out += "Joint " + std::to_string(i) + ": " + model.names[i] + " (parent: " +
           std::to_string(model.parents[i]) + ")\n";
  out += "\n========== Frame Information ==========\n";
  for (size_t i = 0; i < model.frames.size(); ++i) {
    const Frame& frame = model.frames[i];
    out += "Frame " + std::to_string(i) + ": " + frame.name + " (type: " + to_string(frame.frame_type) +
           ", parent: " + std::to_string(frame.parent_joint) + ")\n";
  }
  out += std::string(39, '=') + "\n";
  return out;
}

std::string data_report(const Data& data) {
  std::string out = "========== Data Information ==========\n";
  out += "Dimensions:\n";
  out += "  njoints: " + std::to_string(data.njoints) + "\n";
  out += "  nq:      " + std::to_string(data.nq) + "\n";
  out += "  nv:      " + std::to_string(data.nv) + "\n";
  if (data.njoints > 0) {
    const size_t k = std::min<size_t>(data.njoints, 5);
    out += "\nJoint Placements (first " + std::to_string(k) + "):\n";
    for (size_t i = 0; i < k && i < data.oMi.size(); ++i) {
      const Vec3& p = data.oMi[i].translation;
      out += "  Joint " + std::to_string(i) + ": position = [" + fixed(p.x(), 8, 4) + ", " +
             fixed(p.y(), 8, 4) + ", " + fixed(p.z(), 8, 4) + "]\n";
    }
    if (data.njoints > 5) out += "  ... (" + std::to_string(data.njoints - 5) + " more joints)\n";
  }
  append_vector_section(out, "Joint Torques (tau):", "tau", data.tau);
  append_vector_section(out, "Gravity Vector (g):", "g", data.g);
  const Matrix& M = data.M;
  bool mass_matrix_shown = false;
  for (Eigen::Index i = 0; i < M.size() && !mass_matrix_shown; ++i) mass_matrix_shown = std::abs(M.data()[i]) > 1e-10;
  if (M.rows() > 0 && M.cols() > 0 && mass_matrix_shown) {
    const Eigen::Index k = std::min<Eigen::Index>({M.rows(), M.cols(), 5});
    out += "\nMass Matrix (M):\n";
    out += "  Size: " + std::to_string(M.rows()) + "x" + std::to_string(M.cols()) + "\n";
    out += "  Top-left " + std::to_string(k) + "x" + std::to_string(k) + " block:\n";
    for (Eigen::Index i = 0; i < k; ++i) {
      out += "    ";
      for (Eigen::Index j = 0; j < k; ++j) out += fixed(M(i, j), 10, 4) + " ";
      out += "\n";
    }
    if (M.rows() > k || M.cols() > k) out += "  ... (larger matrix)\n";
  }
  out += std::string(37, '=') + "\n";
  return out;
}

void write_to_stdout(std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(STDOUT_FILENO, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return;  // nowhere to report to; the report is best effort
    }
    text.remove_prefix(static_cast<size_t>(written));
  }
}

}  // namespace kavrel::python
