// A built-in bitmap font for the labels of the contact sheet: printable ASCII only, letters five
// pixels wide and seven high, with two rows below the baseline for g, j, p, q and y.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace ferngate_cli {

inline constexpr int kGlyphWidth = 5;
/// Rows of a glyph cell: seven down to the baseline, two for descenders.
inline constexpr int kGlyphHeight = 9;
inline constexpr int kBaseline = 7;

/// The glyph of one character: its rows, top first; bit 4 of a row is its leftmost column.
using GlyphRows = std::array<std::uint8_t, kGlyphHeight>;
/// Horizontal distance from one character to the next, one blank column included.
inline constexpr int kGlyphAdvance = 6;

/// The glyph of `ch`; characters outside printable ASCII show as '?'.
[[nodiscard]] const GlyphRows& glyph(char ch);

/// Width in pixels of `text` drawn at `scale` (each font pixel a scale × scale square), without
/// the blank column after the last character.
[[nodiscard]] constexpr int text_width(std::string_view text, int scale) {
  return text.empty() ? 0 : (static_cast<int>(text.size()) * kGlyphAdvance - 1) * scale;
}

}  // namespace ferngate_cli
