#include "file_type/dxt.hpp"

#include <cstddef>
#include <limits>

// Block layouts (all multi-byte fields little-endian):
//
//   colour block, 8 bytes (all of DXT1; bytes 8-15 of DXT3 and DXT5)
//     +0  u16 c0       end point 0, RGB 5:6:5 (red 15-11, green 10-5, blue 4-0)
//     +2  u16 c1       end point 1
//     +4  u32 lookup   texel i: palette index in bits 2i..2i+1
//
//   DXT3 alpha, 8 bytes   texel i: byte i/2, low nibble for even i, high nibble for odd i
//
//   DXT5 alpha, 8 bytes
//     +0  u8  alpha0
//     +1  u8  alpha1
//     +2  u48 indices  texel i: alpha palette index in bits 3i..3i+2 (byte 2 holds bits 0-7)
//
// Texel i of a block lies in row i / 4 and column i % 4 of the block, row 0 at the top.

namespace ferngate_dat {
namespace {

constexpr std::size_t kDxt1BlockSize = 8;
constexpr std::size_t kDxt3BlockSize = 16;
constexpr std::size_t kDxt5BlockSize = 16;
// In DXT3 and DXT5 blocks the alpha part comes first, the colour block after it.
constexpr std::size_t kColorBlockOffset = 8;
constexpr std::size_t kTexelsPerBlock = 16;

using Rgba = std::array<std::uint8_t, 4>;
using BlockTexels = std::array<Rgba, kTexelsPerBlock>;
using BlockAlphas = std::array<std::uint8_t, kTexelsPerBlock>;

// DXT1 switches to three colours plus transparent black when c0 <= c1; DXT3 and DXT5 blocks
// always interpolate four colours.
enum class ColorRule { kFourColor, kDxt1 };

[[nodiscard]] std::uint16_t read_u16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

[[nodiscard]] std::uint32_t read_u32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

[[nodiscard]] std::uint8_t u8(std::uint32_t value) { return static_cast<std::uint8_t>(value); }

// Decodes an 8-byte colour block into the colour and alpha of each of its 16 texels.
[[nodiscard]] BlockTexels decode_color_block(std::span<const std::uint8_t> block, ColorRule rule) {
  const std::uint16_t c0 = read_u16(block, 0);
  const std::uint16_t c1 = read_u16(block, 2);
  const std::uint32_t lookup = read_u32(block, 4);

  const auto e0 = rgb565_to_rgb888(c0);
  const auto e1 = rgb565_to_rgb888(c1);

  std::array<Rgba, 4> palette{};
  palette[0] = {e0[0], e0[1], e0[2], 255};
  palette[1] = {e1[0], e1[1], e1[2], 255};
  // The order of the raw 16-bit end points, not of the expanded colours, picks the DXT1 mode.
  if (rule == ColorRule::kFourColor || c0 > c1) {
    for (std::size_t ch = 0; ch < 3; ++ch) {
      const std::uint32_t a = e0[ch];
      const std::uint32_t b = e1[ch];
      palette[2][ch] = u8((2 * a + b) / 3);  // two thirds of the way to end point 0, truncated
      palette[3][ch] = u8((a + 2 * b) / 3);  // two thirds of the way to end point 1, truncated
    }
    palette[2][3] = 255;
    palette[3][3] = 255;
  } else {
    for (std::size_t ch = 0; ch < 3; ++ch) {
      palette[2][ch] = u8((std::uint32_t{e0[ch]} + e1[ch]) / 2);  // midpoint, truncated
    }
    palette[2][3] = 255;
    palette[3] = {0, 0, 0, 0};  // transparent black
  }

  BlockTexels texels{};
  for (std::size_t i = 0; i < kTexelsPerBlock; ++i) {
    texels[i] = palette[(lookup >> (2 * i)) & 3];
  }
  return texels;
}

// The 16 explicit 4-bit alphas of a DXT3 block, widened to 8 bits.
[[nodiscard]] BlockAlphas decode_dxt3_alpha(std::span<const std::uint8_t> alpha_part) {
  BlockAlphas alphas{};
  for (std::size_t i = 0; i < kTexelsPerBlock; ++i) {
    const std::uint8_t alpha_byte = alpha_part[i / 2];
    const std::uint32_t nibble = (i % 2 == 0) ? (alpha_byte & 0x0F) : (alpha_byte >> 4);
    alphas[i] = u8(nibble | nibble << 4);  // n * 17: 0x7 -> 0x77
  }
  return alphas;
}

// The 16 interpolated alphas of a DXT5 block.
[[nodiscard]] BlockAlphas decode_dxt5_alpha(std::span<const std::uint8_t> alpha_part) {
  const std::uint32_t a0 = alpha_part[0];
  const std::uint32_t a1 = alpha_part[1];

  std::array<std::uint8_t, 8> palette{};
  palette[0] = u8(a0);
  palette[1] = u8(a1);
  if (a0 > a1) {
    for (std::uint32_t k = 2; k < 8; ++k) {
      palette[k] = u8(((8 - k) * a0 + (k - 1) * a1) / 7);  // six steps between the end points
    }
  } else {
    for (std::uint32_t k = 2; k < 6; ++k) {
      palette[k] = u8(((6 - k) * a0 + (k - 1) * a1) / 5);  // four steps between the end points
    }
    palette[6] = 0;
    palette[7] = 255;
  }

  std::uint64_t indices = 0;  // 48 bits, byte 2 lowest
  for (std::size_t b = 0; b < 6; ++b) {
    indices |= static_cast<std::uint64_t>(alpha_part[2 + b]) << (8 * b);
  }

  BlockAlphas alphas{};
  for (std::size_t i = 0; i < kTexelsPerBlock; ++i) {
    alphas[i] = palette[(indices >> (3 * i)) & 7];
  }
  return alphas;
}

// Copies the texels of block (bx, by) into the image, dropping those right of column w - 1 or
// below row h - 1. `out` must hold at least w * h RGBA pixels; if it does not, nothing is written.
void write_block(const BlockTexels& texels, std::size_t bx, std::size_t by, std::size_t w,
                 std::size_t h, std::span<std::uint8_t> out) {
  if (w == 0 || h == 0 || out.size() / 4 / w < h) return;
  for (std::size_t i = 0; i < kTexelsPerBlock; ++i) {
    const std::size_t px = bx * 4 + i % 4;
    const std::size_t py = by * 4 + i / 4;
    if (px >= w || py >= h) continue;
    const std::size_t off = (py * w + px) * 4;
    for (std::size_t c = 0; c < 4; ++c) out[off + c] = texels[i][c];
  }
}

// Walks the blocks of a w x h image in storage order, decoding each whole block present in
// `image_data`; the first incomplete block ends the walk and leaves the rest transparent black.
template <typename DecodeBlock>
[[nodiscard]] std::vector<std::uint8_t> decompress_image(std::span<const std::uint8_t> image_data,
                                                         std::uint32_t width, std::uint32_t height,
                                                         std::size_t block_size,
                                                         DecodeBlock decode_block) {
  const std::size_t w = width;
  const std::size_t h = height;
  if (w == 0 || h == 0) return {};
  // w * h * 4 overflows only for sides beyond 2^30 each on a 64-bit host: no such buffer can
  // exist, and the result is empty rather than an exception (to_rgba8 refuses such sizes first).
  if (h > std::numeric_limits<std::size_t>::max() / 4 / w) return {};
  std::vector<std::uint8_t> out(w * h * 4, 0);

  const std::size_t block_count_x = (w + 3) / 4;
  const std::size_t block_count_y = (h + 3) / 4;
  std::size_t pos = 0;
  for (std::size_t by = 0; by < block_count_y; ++by) {
    for (std::size_t bx = 0; bx < block_count_x; ++bx) {
      if (image_data.size() - pos < block_size) return out;
      decode_block(image_data.subspan(pos, block_size), bx, by, w, h, std::span(out));
      pos += block_size;
    }
  }
  return out;
}

}  // namespace

std::array<std::uint8_t, 3> rgb565_to_rgb888(std::uint16_t color) {
  const std::uint32_t c = color;
  std::uint32_t t = (c >> 11) * 255 + 16;
  const std::uint32_t red = (t + (t >> 5)) >> 5;  // about r5 * 255 / 31
  t = ((c >> 5) & 0x3F) * 255 + 32;
  const std::uint32_t green = (t + (t >> 6)) >> 6;  // about g6 * 255 / 63
  t = (c & 0x1F) * 255 + 16;
  const std::uint32_t blue = (t + (t >> 5)) >> 5;  // about b5 * 255 / 31
  return {u8(red), u8(green), u8(blue)};
}

void decompress_dxt1_block(std::span<const std::uint8_t> block, std::size_t bx, std::size_t by,
                           std::size_t w, std::size_t h, std::span<std::uint8_t> out) {
  if (block.size() < kDxt1BlockSize) return;
  write_block(decode_color_block(block, ColorRule::kDxt1), bx, by, w, h, out);
}

void decompress_dxt3_block(std::span<const std::uint8_t> block, std::size_t bx, std::size_t by,
                           std::size_t w, std::size_t h, std::span<std::uint8_t> out) {
  if (block.size() < kDxt3BlockSize) return;
  BlockTexels texels = decode_color_block(block.subspan(kColorBlockOffset), ColorRule::kFourColor);
  const BlockAlphas alphas = decode_dxt3_alpha(block.first(8));
  for (std::size_t i = 0; i < kTexelsPerBlock; ++i) texels[i][3] = alphas[i];
  write_block(texels, bx, by, w, h, out);
}

void decompress_dxt5_block(std::span<const std::uint8_t> block, std::size_t bx, std::size_t by,
                           std::size_t w, std::size_t h, std::span<std::uint8_t> out) {
  if (block.size() < kDxt5BlockSize) return;
  BlockTexels texels = decode_color_block(block.subspan(kColorBlockOffset), ColorRule::kFourColor);
  const BlockAlphas alphas = decode_dxt5_alpha(block.first(8));
  for (std::size_t i = 0; i < kTexelsPerBlock; ++i) texels[i][3] = alphas[i];
  write_block(texels, bx, by, w, h, out);
}

std::vector<std::uint8_t> decompress_dxt1(std::span<const std::uint8_t> image_data,
                                          std::uint32_t width, std::uint32_t height) {
  return decompress_image(image_data, width, height, kDxt1BlockSize, decompress_dxt1_block);
}

std::vector<std::uint8_t> decompress_dxt3(std::span<const std::uint8_t> image_data,
                                          std::uint32_t width, std::uint32_t height) {
  return decompress_image(image_data, width, height, kDxt3BlockSize, decompress_dxt3_block);
}

std::vector<std::uint8_t> decompress_dxt5(std::span<const std::uint8_t> image_data,
                                          std::uint32_t width, std::uint32_t height) {
  return decompress_image(image_data, width, height, kDxt5BlockSize, decompress_dxt5_block);
}

}  // namespace ferngate_dat
