// Compile-time strings, so that a table row carries its text signature and
// docstring as template arguments and the parameter names are read from it.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace kavrel::python {

template <size_t N>
struct FixedString {
  char text[N]{};
  constexpr FixedString(const char (&s)[N]) {
    for (size_t i = 0; i < N; ++i) text[i] = s[i];
  }
  constexpr std::string_view view() const { return {text, N - 1}; }
};

inline constexpr size_t kMaxParameters = 8;

// "name($self, a, b)": the name, the parameters after $self, and whether
// $self is there.
struct Signature {
  std::string_view name;
  std::array<std::string_view, kMaxParameters> parameters{};
  size_t count = 0;
  bool has_self = false;
};

constexpr std::string_view trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

constexpr Signature parse_signature(std::string_view text) {
  Signature sig;
  const size_t open = text.find('(');
  const size_t close = text.rfind(')');
  sig.name = text.substr(0, open);
  for (size_t pos = open + 1; pos < close;) {
    size_t end = text.find(',', pos);
    if (end == std::string_view::npos || end > close) end = close;
    std::string_view p = trim(text.substr(pos, end - pos));
    if (p == "$self") sig.has_self = true;
    else if (!p.empty()) sig.parameters[sig.count++] = p;
    pos = end + 1;
  }
  return sig;
}

// A NUL-terminated copy of a compile-time view, with static storage.
template <size_t N>
struct StaticText {
  std::array<char, N + 1> chars{};
  constexpr const char* c_str() const { return chars.data(); }
};

template <size_t N>
constexpr StaticText<N> to_static_text(std::string_view a, std::string_view b = {},
                                       std::string_view c = {}) {
  StaticText<N> out;
  size_t k = 0;
  for (char ch : a) out.chars[k++] = ch;
  for (char ch : b) out.chars[k++] = ch;
  for (char ch : c) out.chars[k++] = ch;
  out.chars[k] = '\0';
  return out;
}

}  // namespace kavrel::python
