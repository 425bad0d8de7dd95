// The JPEG decoder behind CustomRawJpeg textures. libjpeg-turbo lives in jpeg.cpp alone; this
// interface speaks only in bytes, dimensions and failure texts.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace ferngate_dat {

/// The width and height that the JPEG stream `stream` declares, from its header alone; nothing
/// when the header cannot be read.
[[nodiscard]] std::optional<std::pair<std::uint32_t, std::uint32_t>> read_jpeg_dimensions(
    std::span<const std::uint8_t> stream);

/// Decodes the whole JPEG stream `stream` into a new RGBA8 buffer of as many pixels as the stream
/// declares: greyscale v becomes v, v, v, 255 and colour r, g, b becomes r, g, b, 255.
///
/// On failure returns the text of the failure:
///   "invalid JPEG format: <detail>"        malformed, truncated or damaged data (every
///   corrupt-data
///                                          warning counts as a failure);
///   "unsupported JPEG feature: <detail>"   what this decoder cannot decode: 12-bit samples,
///                                          lossless and hierarchical streams, dimensions above
///                                          65500;
///   "unsupported JPEG pixel format: CMYK32" for CMYK and YCCK streams (decoded first, so that
///                                          damaged data still reports as damaged);
///   "unsupported JPEG pixel format: L16"   for lossless greyscale streams of more than 8 bits;
///   "image of W x H pixels exceeds the limit of N pixels" when W x H exceeds `max_pixels`,
///                                          before anything of that size is allocated;
///   "stream has more than 1000 scans"      a hostile progression is cut short;
///   "decoding needs more than N bytes of working memory" past libjpeg's memory limit;
///   libjpeg's own text for other internal failures (out of memory).
/// The detail is libjpeg's own message.
[[nodiscard]] std::expected<std::vector<std::uint8_t>, std::string> decode_jpeg_rgba8(
    std::span<const std::uint8_t> stream, std::uint64_t max_pixels);

}  // namespace ferngate_dat
