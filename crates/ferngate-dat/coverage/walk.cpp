#include "walk.hpp"

#include <limits>

#include <fmt/format.h>

#include "check.hpp"

namespace ferngate_coverage {

using ferngate_dat::Palette;
using ferngate_dat::SurfacePixelFormat;
using ferngate_dat::Texture;
using ferngate_dat::TextureDecodeError;

namespace {

std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<std::uint64_t>::max()
                                                : product;
}

// The conversion stage only sees formats that need no palette, so a call here is a bug.
std::expected<Palette, TextureDecodeError> unreachable_palette(std::uint32_t /*palette_id*/) {
  stop("internal error: entered unreachable code: non-palette texture asked for a palette");
}

}  // namespace

void convert_and_verify(std::uint32_t id, const Texture& texture, Tallies& tallies) {
  auto converted = texture.to_rgba8(unreachable_palette);
  if (!converted) {
    tallies.decode_failures.emplace_back(id, fmt::format("to_rgba8: {}", converted.error()));
    tallies.unsupported_format_ids[texture.format_raw].push_back(id);
    return;
  }

  // A JPEG texture converts to as many pixels as its stream declares, whatever the record says.
  auto expected_w = static_cast<std::uint32_t>(texture.width);
  auto expected_h = static_cast<std::uint32_t>(texture.height);
  if (texture.format() == SurfacePixelFormat::Kind::CustomRawJpeg) {
    const auto dimensions = texture.jpeg_dimensions().value_or(std::pair{0U, 0U});
    expected_w = dimensions.first;
    expected_h = dimensions.second;
  }
  const std::uint64_t expected_len = saturating_mul(saturating_mul(expected_w, expected_h), 4);
  if (converted->size() != expected_len) {
    tallies.decode_failures.emplace_back(
        id, fmt::format("buffer len {} != expected w*h*4 = {} (w={}, h={})", converted->size(),
                        expected_len, expected_w, expected_h));
    return;
  }
  ++tallies.decoded_ok;
}

Tallies walk_textures(const ferngate_dat::DatDatabase& dat) {
  Tallies tallies;
  for (const auto& [id, entry] : dat.files()) {
    if (!is_texture_id(id)) continue;

    auto bytes = dat.get_file(id);
    if (!bytes) {
      tallies.parse_failures.emplace_back(id, fmt::format("get_file: {}", bytes.error()));
      continue;
    }
    auto texture = Texture::unpack(*bytes);
    if (!texture) {
      tallies.parse_failures.emplace_back(id, fmt::format("unpack: {:?}", texture.error()));
      continue;
    }
    bytes->clear();
    bytes->shrink_to_fit();  // the walk holds one record at a time, and only once

    ++tallies.format_counts[texture->format_raw];
    if (texture->format().needs_palette()) {
      if (texture->default_palette_id) {
        ++tallies.palette_ok;
      } else {
        tallies.palette_missing.push_back(id);
      }
      continue;
    }
    convert_and_verify(id, *texture, tallies);
  }
  return tallies;
}

}  // namespace ferngate_coverage
