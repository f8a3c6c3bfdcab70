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

// "name($self, a, b='x')": the name, the parameters after $self, whether
// $self is there, and which parameters have a default (b here).
struct Signature {
  std::string_view name;
  std::array<std::string_view, kMaxParameters> parameters{};
  size_t count = 0;
  bool has_self = false;
  std::array<bool, kMaxParameters> has_default{};
};

// Index loops rather than string_view searches: the views point into template
// argument objects, which some compilers cannot compare in constant evaluation.
constexpr Signature parse_signature(std::string_view text) {
  Signature sig;
  size_t open = 0, close = text.size() - 1;
  while (text[open] != '(') ++open;
  while (text[close] != ')') --close;
  sig.name = std::string_view(text.data(), open);
  for (size_t start = open + 1, pos = open + 1; pos <= close; ++pos) {
    if (pos != close && text[pos] != ',') continue;
    size_t first = start, last = pos;
    while (first < last && text[first] == ' ') ++first;
    // The default's text is for the interpreter's signature only.
    size_t equals = first;
    while (equals < last && text[equals] != '=') ++equals;
    const bool has_default = equals < last;
    last = equals;
    while (last > first && text[last - 1] == ' ') --last;
    const std::string_view parameter(text.data() + first, last - first);
    if (parameter == "$self") sig.has_self = true;
    else if (last > first) {
      sig.has_default[sig.count] = has_default;
      sig.parameters[sig.count++] = parameter;
    }
    start = pos + 1;
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
