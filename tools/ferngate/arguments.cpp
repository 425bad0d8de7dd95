#include "arguments.hpp"

#include <charconv>
#include <limits>
#include <system_error>

#include <fmt/format.h>

namespace ferngate_cli {

namespace {

// An unsigned number no larger than `max`: hexadecimal after "0x" or "0X", else decimal. Signs,
// spaces and trailing characters are refused.
std::expected<std::uint64_t, std::string> parse_number(std::string_view what, std::string_view text,
                                                       std::uint64_t max) {
  std::string_view digits = text;
  int base = 10;
  if (digits.starts_with("0x") || digits.starts_with("0X")) {
    digits.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || error == std::errc::invalid_argument ||
      end != digits.data() + digits.size()) {
    return std::unexpected(fmt::format(
        "invalid {} '{}': expected hexadecimal after 0x or a decimal number", what, text));
  }
  if (error == std::errc::result_out_of_range || value > max) {
    return std::unexpected(
        fmt::format("invalid {} '{}': at most 0x{:X} ({})", what, text, max, max));
  }
  return value;
}

}  // namespace

std::expected<std::uint32_t, std::string> parse_file_id(std::string_view text) {
  auto value = parse_number("file ID", text, std::numeric_limits<std::uint32_t>::max());
  if (!value) return std::unexpected(std::move(value.error()));
  return static_cast<std::uint32_t>(*value);
}

std::expected<std::uint8_t, std::string> parse_top_byte(std::string_view text) {
  auto value = parse_number("top byte", text, std::numeric_limits<std::uint8_t>::max());
  if (!value) return std::unexpected(std::move(value.error()));
  return static_cast<std::uint8_t>(*value);
}

}  // namespace ferngate_cli
