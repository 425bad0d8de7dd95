// The pixel encoders of the sample textures: S3TC blocks through stb_dxt (DXT3's explicit alpha
// written here), and JPEG streams through libjpeg-turbo's compressor.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "images.hpp"

namespace ferngate_sample {

enum class BlockLayout {
  Dxt1,  // 8-byte colour blocks, opaque
  Dxt3,  // 4-bit explicit alpha, then a colour block
  Dxt5,  // interpolated 8-bit alpha, then a colour block
};

/// The blocks of `image`, 4 x 4 pixels each, row of blocks by row of blocks from the top. Blocks
/// on the right and bottom edges of an image whose size is not a multiple of 4 repeat the edge
/// pixels to fill the block.
[[nodiscard]] std::vector<std::uint8_t> encode_blocks(const Image& image, BlockLayout layout);

/// A baseline JPEG stream of `image` at `quality` (1 to 100): three-component colour, or one
/// greyscale component made from the pixels' luma. Alpha is dropped. Nothing when libjpeg fails
/// (out of memory).
[[nodiscard]] std::optional<std::vector<std::uint8_t>> encode_jpeg(const Image& image,
                                                                   bool greyscale, int quality);

/// The pixels of `image` in the stored byte layout of uncompressed format `format_raw` (R8G8B8,
/// A8R8G8B8, R5G6B5, A4R4G4B4, CustomLscapeR8G8B8, and A8 or CustomLscapeAlpha as the pixels'
/// luma); empty for other formats.
[[nodiscard]] std::vector<std::uint8_t> pack_pixels(const Image& image, std::uint32_t format_raw);

}  // namespace ferngate_sample
