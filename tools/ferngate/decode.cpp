#include "decode.hpp"

#include <algorithm>
#include <limits>

#include <fmt/format.h>

namespace ferngate_cli {

using ferngate_dat::Palette;
using ferngate_dat::SurfacePixelFormat;
using ferngate_dat::Texture;
using ferngate_dat::TextureDecodeError;

namespace {

constexpr std::uint32_t kOpaque = 0xFF000000;

std::uint32_t grey(std::uint32_t level) { return kOpaque | level << 16 | level << 8 | level; }

}  // namespace

Palette grey_ramp(const Texture& texture) {
  Palette palette{.id = texture.default_palette_id.value_or(0)};
  if (texture.format() == SurfacePixelFormat::Kind::Index16) {
    // Stretched over the indices in use: real Index16 palettes hold a few thousand colours, so a
    // ramp over all 65536 indices would show them nearly black.
    std::uint32_t highest = 0;
    const std::vector<std::uint8_t>& data = texture.source_data;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
      highest = std::max(highest, data[i] | std::uint32_t{data[i + 1]} << 8);
    }
    const std::uint32_t span = std::max<std::uint32_t>(highest, 1);
    palette.colors.reserve(highest + 1);
    for (std::uint32_t index = 0; index <= highest; ++index) {
      palette.colors.push_back(grey(index * 255 / span));
    }
  } else {
    palette.colors.reserve(256);
    for (std::uint32_t index = 0; index < 256; ++index) palette.colors.push_back(grey(index));
  }
  return palette;
}

std::expected<DecodedTexture, std::string> decode_texture(const Texture& texture) {
  Palette ramp;
  if (texture.format().needs_palette()) ramp = grey_ramp(texture);
  auto rgba = texture.to_rgba8(
      [&ramp](std::uint32_t) -> std::expected<Palette, TextureDecodeError> { return ramp; });
  if (!rgba) return std::unexpected(fmt::format("to_rgba8: {}", rgba.error()));

  DecodedTexture decoded{.format = texture.format(),
                         .width = static_cast<std::uint32_t>(texture.width),
                         .height = static_cast<std::uint32_t>(texture.height)};
  if (decoded.format == SurfacePixelFormat::Kind::CustomRawJpeg) {
    const auto dimensions = texture.jpeg_dimensions().value_or(std::pair{0U, 0U});
    decoded.width = dimensions.first;
    decoded.height = dimensions.second;
  }
  // Both factors are below 2^32, so their product fits; times 4 it may not, and then no buffer
  // could match.
  const std::uint64_t pixels = std::uint64_t{decoded.width} * decoded.height;
  std::uint64_t expected_len = 0;
  if (__builtin_mul_overflow(pixels, 4, &expected_len)) {
    expected_len = std::numeric_limits<std::uint64_t>::max();
  }
  if (rgba->size() != expected_len) {
    return std::unexpected(
        fmt::format("to_rgba8: buffer len {} != expected w*h*4 = {} (w={}, h={})", rgba->size(),
                    expected_len, decoded.width, decoded.height));
  }
  decoded.rgba = std::move(*rgba);
  return decoded;
}

std::expected<DecodedTexture, std::string> decode_texture(const ferngate_dat::DatDatabase& dat,
                                                          std::uint32_t id) {
  auto bytes = dat.get_file(id);
  if (!bytes) return std::unexpected(fmt::format("get_file: {}", bytes.error()));
  auto texture = Texture::unpack(*bytes);
  if (!texture) return std::unexpected(fmt::format("unpack: {}", texture.error()));
  return decode_texture(*texture);
}

}  // namespace ferngate_cli
