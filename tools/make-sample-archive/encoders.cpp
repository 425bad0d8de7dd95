#include "encoders.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "jpeg_streams.hpp"
#include "texture_records.hpp"

// stb_dxt is a single-header library; its implementation is compiled here, and only here. Its
// include directory is a system one, so its C-style code raises no warnings of ours.
#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#include <stb/stb_dxt.h>

namespace ferngate_sample {

namespace {

// The 16 pixels of block (bx, by) in row-major order, RGBA; coordinates past the right or bottom
// edge take the nearest edge pixel.
void gather_block(const Image& image, int bx, int by, std::uint8_t (&texels)[64]) {
  for (int row = 0; row < 4; ++row) {
    const int y = std::min(by * 4 + row, image.height - 1);
    for (int col = 0; col < 4; ++col) {
      const int x = std::min(bx * 4 + col, image.width - 1);
      const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) +
                              static_cast<std::size_t>(x)) *
                             4;
      std::copy_n(&image.rgba[at], 4, &texels[static_cast<std::size_t>(row * 4 + col) * 4]);
    }
  }
}

// DXT3's alpha half: texel i's alpha, cut to 4 bits, lies in byte i / 2, low nibble for even i.
void encode_explicit_alpha(const std::uint8_t (&texels)[64], std::uint8_t* out) {
  for (int i = 0; i < 8; ++i) {
    const auto even = static_cast<std::uint8_t>(texels[(2 * i) * 4 + 3] >> 4);
    const auto odd = static_cast<std::uint8_t>(texels[(2 * i + 1) * 4 + 3] >> 4);
    out[i] = static_cast<std::uint8_t>(even | odd << 4);
  }
}

}  // namespace

std::vector<std::uint8_t> encode_blocks(const Image& image, BlockLayout layout) {
  const int blocks_x = (image.width + 3) / 4;
  const int blocks_y = (image.height + 3) / 4;
  const std::size_t block_size = layout == BlockLayout::Dxt1 ? 8 : 16;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(blocks_x) *
                                static_cast<std::size_t>(blocks_y) * block_size);
  std::uint8_t texels[64];
  std::uint8_t* at = out.data();
  for (int by = 0; by < blocks_y; ++by) {
    for (int bx = 0; bx < blocks_x; ++bx, at += block_size) {
      gather_block(image, bx, by, texels);
      switch (layout) {
        case BlockLayout::Dxt1:
          // stb wants a constant alpha when it stores none.
          for (int i = 0; i < 16; ++i) texels[i * 4 + 3] = 255;
          stb_compress_dxt_block(at, texels, 0, STB_DXT_NORMAL);
          break;
        case BlockLayout::Dxt3:
          encode_explicit_alpha(texels, at);
          for (int i = 0; i < 16; ++i) texels[i * 4 + 3] = 255;
          stb_compress_dxt_block(at + 8, texels, 0, STB_DXT_NORMAL);
          break;
        case BlockLayout::Dxt5:
          stb_compress_dxt_block(at, texels, 1, STB_DXT_NORMAL);
          break;
      }
    }
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> encode_jpeg(const Image& image, bool greyscale,
                                                     int quality) {
  const std::size_t pixels =
      static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
  const int components = greyscale ? 1 : 3;
  std::vector<std::uint8_t> samples(pixels * static_cast<std::size_t>(components));
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint8_t* px = &image.rgba[i * 4];
    if (greyscale) {
      samples[i] = static_cast<std::uint8_t>((px[0] * 77 + px[1] * 150 + px[2] * 29) >> 8);
    } else {
      std::copy_n(px, 3, &samples[i * 3]);
    }
  }
  return ferngate_testing::compress_jpeg({.width = image.width,
                                          .height = image.height,
                                          .input = greyscale ? JCS_GRAYSCALE : JCS_RGB,
                                          .quality = quality},
                                         samples);
}

std::vector<std::uint8_t> pack_pixels(const Image& image, std::uint32_t format_raw) {
  namespace raw = ferngate_testing::raw_format;
  std::vector<std::uint8_t> out;
  const auto put16 = [&out](std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  const std::size_t pixels = image.rgba.size() / 4;
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint8_t* px = &image.rgba[i * 4];
    const std::uint32_t r = px[0];
    const std::uint32_t g = px[1];
    const std::uint32_t b = px[2];
    const std::uint32_t a = px[3];
    switch (format_raw) {
      case raw::kR8G8B8:
        out.insert(out.end(), {px[2], px[1], px[0]});
        break;
      case raw::kLscapeR8G8B8:
        out.insert(out.end(), {px[0], px[1], px[2]});
        break;
      case raw::kA8R8G8B8:
        out.insert(out.end(), {px[2], px[1], px[0], px[3]});
        break;
      case raw::kR5G6B5:
        put16((r >> 3) << 11 | (g >> 2) << 5 | b >> 3);
        break;
      case raw::kA4R4G4B4:
        put16((a >> 4) << 12 | (r >> 4) << 8 | (g >> 4) << 4 | b >> 4);
        break;
      case raw::kA8:
      case raw::kLscapeAlpha:
        // One value per pixel: the luma, so that the plane has the image's detail.
        out.push_back(static_cast<std::uint8_t>((r * 77 + g * 150 + b * 29) >> 8));
        break;
      default:
        return {};
    }
  }
  return out;
}

}  // namespace ferngate_sample
