// Numbers given on ferngate's command line: file IDs and top bytes.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace ferngate_cli {

/// A 32-bit file ID: hexadecimal after "0x" (0x06000001, as `ls` prints them), else decimal.
/// The error says what was wrong, e.g. "invalid file ID 'zz': expected 0x… or a decimal number".
[[nodiscard]] std::expected<std::uint32_t, std::string> parse_file_id(std::string_view text);

/// The top byte of file IDs, 0x00 to 0xFF, written like a file ID (0x06 or 6).
[[nodiscard]] std::expected<std::uint8_t, std::string> parse_top_byte(std::string_view text);

}  // namespace ferngate_cli
