// Errors as values, and the one exception type for broken invariants.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace kavrel {

// Which family of failure a message belongs to; the binding layer maps each
// kind to one Python exception class.
enum class ErrorKind { Type, Value, Index, Runtime, Overflow };

struct Error {
  ErrorKind kind;
  std::string message;
};

inline Error value_error(std::string message) { return {ErrorKind::Value, std::move(message)}; }
inline Error index_error(std::string message) { return {ErrorKind::Index, std::move(message)}; }
inline Error runtime_error(std::string message) { return {ErrorKind::Runtime, std::move(message)}; }
inline Error type_error(std::string message) { return {ErrorKind::Type, std::move(message)}; }

// Either a value or the error that prevented it.
template <class T>
class Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(Error error) : state_(std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() { return std::get<0>(state_); }
  const T& value() const { return std::get<0>(state_); }
  T& operator*() { return value(); }
  T* operator->() { return &value(); }
  Error& error() { return std::get<1>(state_); }
  const Error& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, Error> state_;
};

struct Unit {};
using Status = Result<Unit>;
inline Status ok_status() { return Unit{}; }

// A consistency check that the callers' own checks should make impossible.
// It is never compiled out: a failure must not turn into a bad memory access.
class InternalFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] void fail_internal(const std::string& message);

#define KAVREL_REQUIRE(condition, message)                             \
  do {                                                                 \
    if (!(condition)) [[unlikely]]                                     \
      ::kavrel::fail_internal(message);                                \
  } while (false)

}  // namespace kavrel
