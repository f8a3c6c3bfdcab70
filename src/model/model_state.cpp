#include "model/model_state.hpp"

#include <cstdint>
#include <cstring>

namespace kavrel {

namespace {

constexpr std::string_view kFormat{"kavrel.Model\x01", 13};

class Writer {
 public:
  void raw(const void* data, size_t size) { out_.append(static_cast<const char*>(data), size); }
  template <class T>
  void value(T x) { raw(&x, sizeof x); }
  void count(size_t n) { value<uint64_t>(n); }
  void text(const std::string& s) { count(s.size()); raw(s.data(), s.size()); }
  void doubles(const double* x, size_t n) { raw(x, n * sizeof(double)); }
  void transform(const SE3& m) { doubles(m.rotation.data(), 9); doubles(m.translation.data(), 3); }
  void motion(const Motion& m) { doubles(m.angular.data(), 3); doubles(m.linear.data(), 3); }
  void inertia(const Inertia& y) {
    value(y.mass);
    doubles(y.lever.data(), 3);
    doubles(y.rotational.values.data(), 6);
  }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

// Every read checks what is left; the first failure sticks and later reads do nothing.
class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  bool ok() const { return ok_; }
  bool at_end() const { return in_.empty(); }

  bool raw(void* data, size_t size) {
    if (!ok_ || in_.size() < size) return ok_ = false;
    if (size > 0) std::memcpy(data, in_.data(), size);  // an empty vector's data() may be null
    in_.remove_prefix(size);
    return true;
  }
  template <class T>
  T value() {
    T x{};
    raw(&x, sizeof x);
    return x;
  }
  size_t count() { return static_cast<size_t>(value<uint64_t>()); }
  std::string text() {
    const size_t n = count();
    if (!ok_ || n > in_.size()) { ok_ = false; return {}; }
    std::string s(in_.substr(0, n));
    in_.remove_prefix(n);
    return s;
  }
  void doubles(double* x, size_t n) { raw(x, n * sizeof(double)); }
  SE3 transform() {
    SE3 m;
    doubles(m.rotation.data(), 9);
    doubles(m.translation.data(), 3);
    return m;
  }
  Motion motion() {
    Motion m;
    doubles(m.angular.data(), 3);
    doubles(m.linear.data(), 3);
    return m;
  }
  Inertia inertia() {
    Inertia y;
    y.mass = value<double>();
    doubles(y.lever.data(), 3);
    doubles(y.rotational.values.data(), 6);
    return y;
  }
  std::vector<double> limits() {
    const size_t n = count();
    if (!ok_ || n > in_.size() / sizeof(double)) { ok_ = false; return {}; }
    std::vector<double> x(n);
    doubles(x.data(), n);
    return x;
  }

 private:
  std::string_view in_;
  bool ok_ = true;
};

Error invalid(const std::string& reason) { return value_error("Model state is not valid: " + reason); }

constexpr uint8_t kLastKind = static_cast<uint8_t>(JointType::Spherical);

}  // namespace

std::string save_model(const Model& model) {
  Writer out;
  out.raw(kFormat.data(), kFormat.size());
  out.text(model.name);
  out.motion(model.gravity);
  out.count(model.njoints);
  out.inertia(model.inertias[0]);
  for (size_t i = 1; i < model.njoints; ++i) {
    const Joint& joint = model.joints[i];
    out.value(static_cast<uint8_t>(joint.joint_type));
    out.count(model.parents[i]);
    out.doubles(joint.axis.data(), 3);
    out.transform(model.joint_placements[i]);
    out.text(model.names[i]);
    out.inertia(model.inertias[i]);
  }
  for (const auto* limits : {&model.lowerPositionLimit, &model.upperPositionLimit}) {
    out.count(limits->size());
    out.doubles(limits->data(), limits->size());
  }
  out.count(model.frames.size());
  for (const Frame& frame : model.frames) {
    out.text(frame.name);
    out.count(frame.parent_joint);
    out.count(frame.previous_frame);
    out.transform(frame.placement);
    out.inertia(frame.inertia);
    out.value(frame.frame_type.bits);
  }
  return out.take();
}

Result<Model> load_model(std::string_view bytes) {
  if (!bytes.starts_with(kFormat)) return invalid("not a saved model");
  Reader in(bytes.substr(kFormat.size()));
  Model model = Model::create();
  model.name = in.text();
  model.gravity = in.motion();
  const size_t njoints = in.count();
  if (in.ok() && njoints == 0) return invalid("no joints");
  model.inertias[0] = in.inertia();
  for (size_t i = 1; i < njoints && in.ok(); ++i) {
    const auto kind = in.value<uint8_t>();
    const size_t parent = in.count();
    Vec3 axis;
    in.doubles(axis.data(), 3);
    const SE3 placement = in.transform();
    std::string name = in.text();
    const Inertia inertia = in.inertia();
    if (!in.ok()) break;
    if (kind > kLastKind) return invalid("joint " + std::to_string(i) + " has an unknown kind");
    const auto id = add_joint(model, parent, Joint::make(static_cast<JointType>(kind), axis), placement, std::move(name));
    if (!id) return invalid(id.error().message);
    model.inertias[id.value()] = inertia;
  }
  model.lowerPositionLimit = in.limits();
  model.upperPositionLimit = in.limits();
  const size_t nframes = in.count();
  if (in.ok() && nframes == 0) return invalid("no frames");
  std::vector<Frame> frames;
  for (size_t f = 0; f < nframes && in.ok(); ++f) {
    Frame frame;
    frame.name = in.text();
    frame.parent_joint = in.count();
    frame.previous_frame = in.count();
    frame.placement = in.transform();
    frame.inertia = in.inertia();
    frame.frame_type.bits = in.value<uint32_t>();
    if (!in.ok()) break;
    if (frame.parent_joint >= model.njoints)
      return invalid("frame " + std::to_string(f) + " is attached to joint " + std::to_string(frame.parent_joint));
    if (frame.previous_frame >= nframes)
      return invalid("frame " + std::to_string(f) + " follows frame " + std::to_string(frame.previous_frame));
    frames.push_back(std::move(frame));
  }
  if (!in.ok()) return invalid("truncated");
  if (!in.at_end()) return invalid("trailing bytes");
  if (model.lowerPositionLimit.size() > model.nv || model.upperPositionLimit.size() > model.nv)
    return invalid("more position limits than velocity coordinates");
  model.frames = std::move(frames);
  model.nframes = model.frames.size();
  return model;
}

}  // namespace kavrel
