// A texture record turned into what ferngate shows: RGBA8 pixels of a known width and height.
// Palette formats are drawn through a grey ramp, since ferngate reads no palette files.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "file_type/palette.hpp"
#include "file_type/texture.hpp"
#include "lib.hpp"

namespace ferngate_cli {

/// A converted texture: `rgba` holds width × height pixels, four bytes each, row by row.
struct DecodedTexture {
  ferngate_dat::SurfacePixelFormat format = ferngate_dat::SurfacePixelFormat::Kind::Unknown;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgba;
};

/// The stand-in palette of a palette-format texture: P8 index i is grey i; Index16 runs from
/// black at index 0 to white at the highest index the texture's pixels use. Opaque throughout.
[[nodiscard]] ferngate_dat::Palette grey_ramp(const ferngate_dat::Texture& texture);

/// Converts `texture` with to_rgba8 (palette formats through grey_ramp). JPEG-backed textures
/// take the size their stream declares. The error starts with the stage, "to_rgba8: ", also when
/// the buffer has the wrong size ("to_rgba8: buffer len … != expected w*h*4 = …").
[[nodiscard]] std::expected<DecodedTexture, std::string> decode_texture(
    const ferngate_dat::Texture& texture);

/// Fetches, parses and converts texture `id`; errors start with "get_file: ", "unpack: " or
/// "to_rgba8: ".
[[nodiscard]] std::expected<DecodedTexture, std::string> decode_texture(
    const ferngate_dat::DatDatabase& dat, std::uint32_t id);

}  // namespace ferngate_cli
