// S3TC block decoders: DXT1 (BC1), DXT3 (BC2) and DXT5 (BC3) data to RGBA8 pixels.
// Each block covers 4 x 4 pixels; blocks run row of blocks by row of blocks from the top.
// The decoders never fail: missing blocks stay transparent black, edge blocks are clipped.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace ferngate_dat {

/// Decodes `width` x `height` pixels of DXT1 blocks (8 bytes each) into a new RGBA8 buffer of
/// exactly width * height * 4 bytes (empty when that size cannot be addressed at all).
[[nodiscard]] std::vector<std::uint8_t> decompress_dxt1(std::span<const std::uint8_t> image_data,
                                                        std::uint32_t width, std::uint32_t height);
/// As decompress_dxt1, for DXT3 blocks (16 bytes: explicit 4-bit alpha, then a colour block).
[[nodiscard]] std::vector<std::uint8_t> decompress_dxt3(std::span<const std::uint8_t> image_data,
                                                        std::uint32_t width, std::uint32_t height);
/// As decompress_dxt1, for DXT5 blocks (16 bytes: interpolated alpha, then a colour block).
[[nodiscard]] std::vector<std::uint8_t> decompress_dxt5(std::span<const std::uint8_t> image_data,
                                                        std::uint32_t width, std::uint32_t height);

/// Writes the pixels of block (`bx`, `by`) of a `w` x `h` image into `out`, dropping texels that
/// fall outside the image. `block` holds one whole block (8 bytes for DXT1, 16 for DXT3 and DXT5)
/// and `out` at least w * h * 4 bytes; when either is shorter, nothing is written.
void decompress_dxt1_block(std::span<const std::uint8_t> block, std::size_t bx, std::size_t by,
                           std::size_t w, std::size_t h, std::span<std::uint8_t> out);
void decompress_dxt3_block(std::span<const std::uint8_t> block, std::size_t bx, std::size_t by,
                           std::size_t w, std::size_t h, std::span<std::uint8_t> out);
void decompress_dxt5_block(std::span<const std::uint8_t> block, std::size_t bx, std::size_t by,
                           std::size_t w, std::size_t h, std::span<std::uint8_t> out);

/// Expands an RGB 5:6:5 colour to 8 bits a channel with the block decoders' fixed formula.
[[nodiscard]] std::array<std::uint8_t, 3> rgb565_to_rgb888(std::uint16_t color);

}  // namespace ferngate_dat
