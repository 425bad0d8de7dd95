// CustomRawJpeg textures: jpeg_dimensions and the JPEG arm of to_rgba8. The streams are made
// here with libjpeg-turbo's compressor, and plain libjpeg decodes them as the reference.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <jpeglib.h>

#include "file_type/texture.hpp"
#include "jpeg_streams.hpp"

namespace ferngate_dat {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ferngate_testing::encode;
using ferngate_testing::Encoding;
using ferngate_testing::find_segment;
using ferngate_testing::with_frame_size;
using Dimensions = std::optional<std::pair<std::uint32_t, std::uint32_t>>;

// Plain libjpeg's own decoding of a valid stream to `space` (JCS_RGB or JCS_GRAYSCALE).
Bytes reference_decode(const Bytes& stream, J_COLOR_SPACE space) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, stream.data(), stream.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = space;
  jpeg_start_decompress(&cinfo);
  const std::size_t stride = std::size_t{cinfo.output_width} * cinfo.output_components;
  Bytes out(stride * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out.data() + cinfo.output_scanline * stride;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return out;
}

Texture jpeg_record(Bytes stream, std::int32_t width, std::int32_t height,
                    std::uint32_t format_raw = 500) {
  Texture t;
  t.width = width;
  t.height = height;
  t.format_raw = format_raw;
  t.length = static_cast<std::int32_t>(stream.size());
  t.source_data = std::move(stream);
  return t;
}

std::expected<Bytes, TextureDecodeError> convert(const Texture& t) {
  int calls = 0;
  auto result = t.to_rgba8([&calls](std::uint32_t) -> std::expected<Palette, TextureDecodeError> {
    ++calls;
    return std::unexpected(TextureDecodeError::palette_fetch("not expected"));
  });
  EXPECT_EQ(calls, 0);
  return result;
}

// ---------------------------------------------------------------------------------------------

TEST(JpegTexture, ColourStreamsGiveTheDecodersRgbWithOpaqueAlpha) {
  struct Case {
    const char* name;
    Encoding encoding;
  };
  const Case cases[] = {
      {"baseline 4:2:0", {.width = 32, .height = 16}},
      {"odd size", {.width = 37, .height = 23}},
      {"progressive, odd size", {.width = 37, .height = 23, .progressive = true}},
      {"arithmetic coding", {.width = 24, .height = 9, .arithmetic = true}},
      {"stored as RGB", {.width = 13, .height = 7, .stored = JCS_RGB}},
      {"many rows of iMCUs", {.width = 40, .height = 70}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes stream = encode(c.encoding);
    const Texture t = jpeg_record(stream, c.encoding.width, c.encoding.height);
    const auto w = static_cast<std::uint32_t>(c.encoding.width);
    const auto h = static_cast<std::uint32_t>(c.encoding.height);
    EXPECT_EQ(t.jpeg_dimensions(), std::pair(w, h));

    auto rgba = convert(t);
    ASSERT_TRUE(rgba) << rgba.error().message();
    const Bytes rgb = reference_decode(stream, JCS_RGB);
    ASSERT_EQ(rgba->size(), std::size_t{w} * h * 4);
    ASSERT_EQ(rgb.size(), std::size_t{w} * h * 3);
    Bytes expected;
    for (std::size_t i = 0; i < rgb.size(); i += 3) {
      expected.insert(expected.end(), {rgb[i], rgb[i + 1], rgb[i + 2], 0xFF});
    }
    EXPECT_EQ(*rgba, expected);
  }
}

TEST(JpegTexture, GreyscaleStreamsSpreadTheGreyOverRgb) {
  struct Case {
    const char* name;
    int width;
    int height;
    bool progressive;
  };
  // Widths below, at and past whole runs of 16 pixels; heights across several iMCU rows.
  const Case cases[] = {
      {"baseline, odd size", 37, 23, false},    {"progressive, odd size", 37, 23, true},
      {"narrower than 16 pixels", 7, 5, false}, {"exactly 16 pixels wide", 16, 17, false},
      {"wide, many rows", 100, 70, false},      {"wide, progressive", 64, 33, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes stream = encode({.width = c.width,
                                 .height = c.height,
                                 .input = JCS_GRAYSCALE,
                                 .progressive = c.progressive});
    auto rgba = convert(jpeg_record(stream, c.width, c.height));
    ASSERT_TRUE(rgba) << rgba.error().message();
    const Bytes grey = reference_decode(stream, JCS_GRAYSCALE);
    ASSERT_EQ(rgba->size(), grey.size() * 4);
    Bytes expected;
    for (const std::uint8_t v : grey) expected.insert(expected.end(), {v, v, v, 0xFF});
    EXPECT_EQ(*rgba, expected);
  }
}

TEST(JpegTexture, TheStreamNotTheRecordDecidesTheSize) {
  const Bytes stream = encode({.width = 128, .height = 64});
  const Texture t = jpeg_record(stream, 256, 256);
  EXPECT_EQ(t.jpeg_dimensions(), std::pair(128u, 64u));
  auto rgba = convert(t);
  ASSERT_TRUE(rgba) << rgba.error().message();
  EXPECT_EQ(rgba->size(), 32768u);

  // Implausible record dimensions change nothing either.
  EXPECT_EQ(convert(jpeg_record(stream, INT32_MAX, 1)), rgba);
  EXPECT_EQ(convert(jpeg_record(stream, 0, 0)), rgba);
}

TEST(JpegTexture, RefusedStreams) {
  const Bytes colour = encode({.width = 64, .height = 64});
  const Bytes grey = encode({.width = 16, .height = 16, .input = JCS_GRAYSCALE});
  const Bytes cmyk = encode({.width = 16, .height = 8, .input = JCS_CMYK});

  Bytes twelve_bit = grey;
  twelve_bit[find_segment(grey, 0xC0) + 4] = 12;

  Bytes marker_in_scan = colour;
  marker_in_scan.insert(marker_in_scan.begin() + static_cast<std::ptrdiff_t>(colour.size() / 2),
                        {0xFF, 0xD9});

  // Over 2000 valid scans: 11 successive-approximation passes of each AC coefficient.
  std::vector<jpeg_scan_info> scans{{3, {0, 1, 2, 0}, 0, 0, 0, 0}};
  for (int component = 0; component < 3; ++component) {
    for (int k = 1; k < 64; ++k) {
      scans.push_back({1, {component, 0, 0, 0}, k, k, 0, 10});
      for (int al = 9; al >= 0; --al) scans.push_back({1, {component, 0, 0, 0}, k, k, al + 1, al});
    }
  }
  const Bytes many_scans = encode({.width = 8, .height = 8, .scans = scans});

  const Bytes lossless_grey16 = {0xFF, 0xD8, 0xFF, 0xC3, 0x00, 0x0B, 16,  0x00,
                                 0x10, 0x00, 0x10, 0x01, 0x01, 0x11, 0x00};
  const Bytes lossless_rgb8 = {0xFF, 0xD8, 0xFF, 0xC3, 0x00, 0x11, 8,    0x00, 0x10, 0x00, 0x10,
                               0x03, 0x01, 0x11, 0x00, 0x02, 0x11, 0x00, 0x03, 0x11, 0x00};

  struct Case {
    const char* name;
    Bytes stream;
    std::string message;  // the whole message, or its start when `prefix_only`
    Dimensions dimensions;
    bool prefix_only = false;
  };
  const Case cases[] = {
      {"CMYK", cmyk, "JPEG decode failed: unsupported JPEG pixel format: CMYK32",
       std::pair(16u, 8u)},
      {"YCCK", encode({.width = 9, .height = 5, .input = JCS_CMYK, .stored = JCS_YCCK}),
       "JPEG decode failed: unsupported JPEG pixel format: CMYK32", std::pair(9u, 5u)},
      {"damaged CMYK reports the damage", Bytes(cmyk.begin(), cmyk.end() - 40),
       "JPEG decode failed: invalid JPEG format: Premature end of JPEG file", std::pair(16u, 8u)},
      {"16-bit lossless greyscale", lossless_grey16,
       "JPEG decode failed: unsupported JPEG pixel format: L16", std::nullopt},
      {"8-bit lossless colour", lossless_rgb8,
       "JPEG decode failed: unsupported JPEG feature: Unsupported JPEG process: SOF type 0xc3",
       std::nullopt},
      {"12-bit samples", twelve_bit,
       "JPEG decode failed: unsupported JPEG feature: Unsupported JPEG data precision 12",
       std::nullopt},
      {"empty", {}, "JPEG decode failed: invalid JPEG format: Empty input file", std::nullopt},
      {"not JPEG",
       {'D', 'X', 'T', '1', 0, 0, 0, 0},
       "JPEG decode failed: invalid JPEG format: Not a JPEG file: starts with 0x44 0x58",
       std::nullopt},
      {"truncated inside the scan", Bytes(colour.begin(), colour.begin() + colour.size() / 2),
       "JPEG decode failed: invalid JPEG format: Premature end of JPEG file", std::pair(64u, 64u)},
      {"truncated inside the header", Bytes(colour.begin(), colour.begin() + 100),
       "JPEG decode failed: invalid JPEG format: ", std::nullopt, true},
      {"marker inside the scan", marker_in_scan,
       "JPEG decode failed: invalid JPEG format: Corrupt JPEG data: premature end of data segment",
       std::pair(64u, 64u)},
      {"frame larger than libjpeg decodes", with_frame_size(grey, 65535, 65535),
       "JPEG decode failed: unsupported JPEG feature: Maximum supported image dimension is 65500 "
       "pixels",
       std::nullopt},
      {"frame above the pixel cap", with_frame_size(grey, 8192, 4096),
       "JPEG decode failed: image of 8192 x 4096 pixels exceeds the limit of 16777216 pixels",
       std::pair(8192u, 4096u)},
      {"frame at the pixel cap, data short", with_frame_size(grey, 4096, 4096),
       "JPEG decode failed: invalid JPEG format: ", std::pair(4096u, 4096u), true},
      {"more than 1000 scans", many_scans, "JPEG decode failed: stream has more than 1000 scans",
       std::pair(8u, 8u)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Texture t = jpeg_record(c.stream, 16, 16);
    EXPECT_EQ(t.jpeg_dimensions(), c.dimensions);
    auto rgba = convert(t);
    ASSERT_FALSE(rgba) << rgba->size() << " bytes";
    EXPECT_EQ(rgba.error().kind(), TextureDecodeError::Kind::JpegDecode);
    if (c.prefix_only) {
      EXPECT_TRUE(rgba.error().message().starts_with(c.message)) << rgba.error().message();
    } else {
      EXPECT_EQ(rgba.error().message(), c.message);
    }
  }
  ASSERT_GT(scans.size(), 2000u);
}

TEST(JpegTexture, DimensionsOnlyForJpegRecords) {
  const Bytes stream = encode({.width = 20, .height = 10});
  for (const std::uint32_t format : {827611204u, 21u, 0u, 22u}) {
    SCOPED_TRACE(format);
    EXPECT_EQ(jpeg_record(stream, 20, 10, format).jpeg_dimensions(), std::nullopt);
  }
  EXPECT_EQ(jpeg_record(stream, 20, 10).jpeg_dimensions(), std::pair(20u, 10u));
}

}  // namespace
}  // namespace ferngate_dat
