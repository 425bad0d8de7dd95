// Rendering of the library's values: `{}` gives a value's message, `{:?}` its debug rendering.
#pragma once

#include <concepts>
#include <string>
#include <string_view>

#include <fmt/format.h>

namespace ferngate_dat {

/// A value with a message (its display form) and a debug rendering.
template <typename T>
concept Renderable = requires(const T& value) {
  { value.message() } -> std::convertible_to<std::string>;
  { value.debug() } -> std::convertible_to<std::string>;
};

/// `text` in double quotes, with quotes, backslashes and control characters escaped.
std::string debug_quoted(std::string_view text);

}  // namespace ferngate_dat

template <ferngate_dat::Renderable T>
struct fmt::formatter<T, char> {
  bool debug = false;

  constexpr auto parse(fmt::format_parse_context& ctx) {
    auto it = ctx.begin();
    if (it != ctx.end() && *it == '?') {
      debug = true;
      ++it;
    }
    if (it != ctx.end() && *it != '}') throw fmt::format_error("expected '}' or '?}'");
    return it;
  }

  auto format(const T& value, fmt::format_context& ctx) const {
    const std::string text = debug ? value.debug() : value.message();
    return std::copy(text.begin(), text.end(), ctx.out());
  }
};
