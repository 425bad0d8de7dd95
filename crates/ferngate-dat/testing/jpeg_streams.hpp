// JPEG streams made with libjpeg-turbo's compressor, for the tests, the fuzz seeds and the
// hostile archives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <vector>

#include <jpeglib.h>

namespace ferngate_testing {

/// What to compress: a test pattern of `width` x `height` pixels in colour space `input`.
struct Encoding {
  int width;
  int height;
  J_COLOR_SPACE input = JCS_RGB;  // JCS_RGB, JCS_GRAYSCALE or JCS_CMYK
  std::optional<J_COLOR_SPACE> stored =
      std::nullopt;  // the stream's colour space when not the default
  bool progressive = false;
  bool arithmetic = false;
  std::vector<jpeg_scan_info> scans;  // a scan script of its own
  int quality = 85;
};

/// A stream of a test image with detail in every channel, so that colour conversion and
/// upsampling show.
[[nodiscard]] std::vector<std::uint8_t> encode(const Encoding& e);

/// Samples per pixel of colour space `space`: 1 for greyscale, 4 for CMYK, else 3.
[[nodiscard]] int components_of(J_COLOR_SPACE space);

/// A stream of `pixels`: e.height rows of e.width pixels, each of components_of(e.input) bytes.
/// Nothing when `pixels` is too short or libjpeg fails (out of memory).
[[nodiscard]] std::optional<std::vector<std::uint8_t>> compress_jpeg(
    const Encoding& e, std::span<const std::uint8_t> pixels);

/// The start of the segment with marker `code`, found by walking the segments from the start of
/// image; std::string::npos when there is none.
[[nodiscard]] std::size_t find_segment(const std::vector<std::uint8_t>& stream, std::uint8_t code);

/// `stream` with its baseline frame header rewritten to declare `width` x `height`.
[[nodiscard]] std::vector<std::uint8_t> with_frame_size(std::vector<std::uint8_t> stream,
                                                        std::uint16_t width, std::uint16_t height);

}  // namespace ferngate_testing
