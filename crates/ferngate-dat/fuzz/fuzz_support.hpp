// What the fuzz targets share: a palette lookup driven by the input, and the invariants every
// successful conversion keeps.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "file_type/texture.hpp"

namespace ferngate_fuzz {

/// A palette lookup that returns a palette of `size` colours, or an error when `size` is 0xFFFF.
struct FuzzPalettes {
  std::uint16_t size = 256;

  std::expected<ferngate_dat::Palette, ferngate_dat::TextureDecodeError> operator()(
      std::uint32_t id) const {
    if (size == 0xFFFF) {
      return std::unexpected(ferngate_dat::TextureDecodeError::palette_fetch("no such palette"));
    }
    ferngate_dat::Palette palette{id, std::vector<std::uint32_t>(size)};
    for (std::uint32_t i = 0; i < size; ++i) palette.colors[i] = i * 0x01030507U;
    return palette;
  }
};

/// Converts `texture` and checks what a successful conversion promises: four bytes a pixel, for
/// the record's pixels, or for the pixels its JPEG stream declares.
inline void convert_and_check(const ferngate_dat::Texture& texture, FuzzPalettes palettes) {
  // Block formats allocate and clear their whole image whatever the data holds: up to 64 MiB
  // below the pixel cap. Past a million pixels that costs time and finds nothing new, so only
  // the refusal above the cap is exercised there.
  using Kind = ferngate_dat::SurfacePixelFormat::Kind;
  const Kind kind = texture.format().kind();
  const bool block_format = kind == Kind::Dxt1 || kind == Kind::Dxt2 || kind == Kind::Dxt3 ||
                            kind == Kind::Dxt4 || kind == Kind::Dxt5;
  const std::uint64_t pixels = std::uint64_t{static_cast<std::uint32_t>(texture.width)} *
                               static_cast<std::uint32_t>(texture.height);
  if (block_format && pixels > (1U << 20) && pixels <= ferngate_dat::kMaxDecodedPixels) return;

  const auto dimensions = texture.jpeg_dimensions();
  const auto converted = texture.to_rgba8(palettes);
  if (!converted) return;
  std::uint64_t w = static_cast<std::uint32_t>(texture.width);
  std::uint64_t h = static_cast<std::uint32_t>(texture.height);
  if (texture.format() == ferngate_dat::SurfacePixelFormat::Kind::CustomRawJpeg) {
    if (!dimensions) {
      std::fprintf(stderr, "a JPEG converted whose header could not be read\n");
      std::abort();
    }
    w = dimensions->first;
    h = dimensions->second;
  }
  if (converted->size() != w * h * 4) {
    std::fprintf(stderr, "conversion gave %zu bytes for %llu x %llu pixels\n", converted->size(),
                 static_cast<unsigned long long>(w), static_cast<unsigned long long>(h));
    std::abort();
  }
}

}  // namespace ferngate_fuzz
