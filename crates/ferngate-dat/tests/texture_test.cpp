// The texture record, its pixel formats, and the conversion to RGBA8 of every format but JPEG
// (jpeg_test covers that one).
#include "file_type/texture.hpp"
#include "file_type/pixel_runs.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <expected>
#include <functional>
#include <iterator>
#include <optional>
#include <ostream>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include "file_type/dxt.hpp"

namespace ferngate_dat {

// Readable failure output: a conversion's error by its debug form, its pixels in hex.
void PrintTo(const std::expected<std::vector<std::uint8_t>, TextureDecodeError>& result,
             std::ostream* out) {
  if (result) {
    *out << fmt::format("{} bytes: {:02X}", result->size(), fmt::join(*result, " "));
  } else {
    *out << result.error().debug();
  }
}

namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = SurfacePixelFormat::Kind;

constexpr std::uint32_t kP8 = 41;
constexpr std::uint32_t kIndex16 = 101;

void put_u32(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

// A stored texture record; `palette_id` is appended when given, whatever the format.
Bytes record(std::uint32_t format_raw, std::int32_t width, std::int32_t height, const Bytes& data,
             std::optional<std::uint32_t> palette_id = std::nullopt) {
  Bytes out;
  put_u32(out, 0x06001234);                      // id
  put_u32(out, static_cast<std::uint32_t>(-7));  // _unknown
  put_u32(out, static_cast<std::uint32_t>(width));
  put_u32(out, static_cast<std::uint32_t>(height));
  put_u32(out, format_raw);
  put_u32(out, static_cast<std::uint32_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  if (palette_id) put_u32(out, *palette_id);
  return out;
}

Texture texture(SurfacePixelFormat format, std::int32_t width, std::int32_t height, Bytes data,
                std::optional<std::uint32_t> palette_id = std::nullopt) {
  Texture t;
  t.format_raw = format.raw();
  t.width = width;
  t.height = height;
  t.length = static_cast<std::int32_t>(data.size());
  t.source_data = std::move(data);
  t.default_palette_id = palette_id;
  return t;
}

// A palette lookup that counts its calls and answers with `result`.
struct Lookup {
  std::expected<Palette, TextureDecodeError> result =
      std::unexpected(TextureDecodeError::palette_fetch("lookup not expected"));
  int* calls;
  std::optional<std::uint32_t>* requested = nullptr;

  std::expected<Palette, TextureDecodeError> operator()(std::uint32_t id) const {
    ++*calls;
    if (requested != nullptr) *requested = id;
    return result;
  }
};

// Converts a texture whose format needs no palette, checking that the lookup stays unused.
std::expected<Bytes, TextureDecodeError> convert(const Texture& t) {
  int calls = 0;
  auto result = t.to_rgba8(Lookup{.calls = &calls});
  EXPECT_EQ(calls, 0) << "palette lookup called for " << t.format().debug();
  return result;
}

// ---------------------------------------------------------------------------------------------
// Texture::unpack

TEST(TextureUnpack, ReadsEveryFieldAndIgnoresTrailingBytes) {
  const Bytes stored = record(21, 2, -3, {1, 2, 3, 4, 5});
  auto parsed = Texture::unpack(stored);
  ASSERT_TRUE(parsed) << parsed.error().message();
  EXPECT_EQ(parsed->id, 0x06001234u);
  EXPECT_EQ(parsed->_unknown, -7);
  EXPECT_EQ(parsed->width, 2);
  EXPECT_EQ(parsed->height, -3);
  EXPECT_EQ(parsed->format_raw, 21u);
  EXPECT_EQ(parsed->length, 5);
  EXPECT_EQ(parsed->source_data, (Bytes{1, 2, 3, 4, 5}));
  EXPECT_EQ(parsed->default_palette_id, std::nullopt);
  EXPECT_EQ(parsed->format(), Kind::A8R8G8B8);

  Bytes longer = stored;
  longer.insert(longer.end(), {0xAA, 0xBB, 0xCC, 0xDD, 0xEE});
  EXPECT_EQ(Texture::unpack(longer), parsed);
}

TEST(TextureUnpack, OnlyPalettizedFormatsReadDefaultPaletteId) {
  for (const std::uint32_t format : {kP8, kIndex16}) {
    SCOPED_TRACE(format);
    auto without = Texture::unpack(record(format, 1, 1, {7}));
    ASSERT_FALSE(without);
    ASSERT_EQ(without.error().kind(), DatError::Kind::BinRead);
    EXPECT_EQ(without.error().bin_read_error().frames.at(0).message,
              "While parsing field 'default_palette_id' in Texture");

    auto with = Texture::unpack(record(format, 1, 1, {7}, 0x04000ABCu));
    ASSERT_TRUE(with) << with.error().message();
    EXPECT_EQ(with->default_palette_id, 0x04000ABCu);
    EXPECT_EQ(with->source_data, Bytes{7});
  }
  // Every other format ends after source_data; a following word is left unread.
  for (const std::uint32_t format : {0u, 20u, 21u, 22u, 500u, 0x31545844u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(format);
    auto parsed = Texture::unpack(record(format, 1, 1, {7}));
    ASSERT_TRUE(parsed) << parsed.error().message();
    EXPECT_EQ(parsed->default_palette_id, std::nullopt);
    EXPECT_EQ(Texture::unpack(record(format, 1, 1, {7}, 0x04000ABCu)), parsed);
  }
}

TEST(TextureUnpack, InputEndingInsideAFieldNamesThatField) {
  // A P8 record with 3 pixel bytes: every field is present, so every cut lands in one.
  const Bytes full = record(kP8, 3, 1, {9, 8, 7}, 0x04000001);
  struct Field {
    const char* name;
    std::size_t end;  // offset just past the field
  };
  const Field fields[] = {{"id", 4},           {"_unknown", 8},           {"width", 12},
                          {"height", 16},      {"format_raw", 20},        {"length", 24},
                          {"source_data", 27}, {"default_palette_id", 31}};
  ASSERT_EQ(full.size(), 31u);

  std::string previous_location;
  std::size_t start = 0;
  for (const Field& field : fields) {
    const std::string context = fmt::format("While parsing field '{}' in Texture", field.name);
    std::string location;
    for (std::size_t cut = start; cut < field.end; ++cut) {
      SCOPED_TRACE(fmt::format("{} bytes", cut));
      auto parsed = Texture::unpack(std::span(full).first(cut));
      ASSERT_FALSE(parsed);
      ASSERT_EQ(parsed.error().kind(), DatError::Kind::BinRead);
      const BinReadError& failure = parsed.error().bin_read_error();
      ASSERT_EQ(failure.frames.size(), 1u);
      EXPECT_EQ(failure.frames[0].message, context);
      EXPECT_TRUE(std::holds_alternative<IoError>(failure.failure));
      location = failure.frames[0].location;
      // The rendering carries the context and the place the field is declared.
      EXPECT_NE(fmt::format("{}", parsed.error()).find(context), std::string::npos);
      EXPECT_NE(fmt::format("{}", parsed.error()).find(location), std::string::npos);
    }
    // Each field points at its own declaration, in declaration order.
    EXPECT_TRUE(location.starts_with("crates/ferngate-dat/src/file_type/texture.cpp:")) << location;
    if (!previous_location.empty()) {
      EXPECT_GT(std::stoi(location.substr(location.rfind(':') + 1)),
                std::stoi(previous_location.substr(previous_location.rfind(':') + 1)))
          << field.name;
    }
    previous_location = location;
    start = field.end;
  }
  EXPECT_TRUE(Texture::unpack(full));
}

TEST(TextureUnpack, NegativeLengthIsAnAssertionAtPosition24) {
  struct Case {
    std::int32_t length;
    const char* message;
  };
  for (const Case& c : {Case{-1, "count -1 out of range of usize"},
                        Case{INT32_MIN, "count -2147483648 out of range of usize"}}) {
    for (const std::size_t trailing : {0u, 4u, 100u}) {
      SCOPED_TRACE(fmt::format("length {}, {} bytes after it", c.length, trailing));
      Bytes stored = record(kP8, 1, 1, {});
      stored[20] = static_cast<std::uint8_t>(c.length);
      stored[21] = static_cast<std::uint8_t>(c.length >> 8);
      stored[22] = static_cast<std::uint8_t>(c.length >> 16);
      stored[23] = static_cast<std::uint8_t>(c.length >> 24);
      stored.resize(24 + trailing, 0x55);
      auto parsed = Texture::unpack(stored);
      ASSERT_FALSE(parsed);
      ASSERT_EQ(parsed.error().kind(), DatError::Kind::BinRead);
      EXPECT_EQ(parsed.error().bin_read_error(),
                (BinReadError{BinReadError::AssertFail{24, c.message}, {}}));
      EXPECT_NE(parsed.error().message().find(c.message), std::string::npos);
    }
  }
}

TEST(TextureUnpack, HugeLengthOverShortInputFailsInSourceData) {
  Bytes stored = record(21, 1, 1, {1, 2, 3});
  const std::uint8_t length_max[] = {0xFF, 0xFF, 0xFF, 0x7F};  // 2147483647
  std::copy(std::begin(length_max), std::end(length_max), stored.begin() + 20);
  auto parsed = Texture::unpack(stored);
  ASSERT_FALSE(parsed);
  EXPECT_EQ(parsed.error().bin_read_error().frames.at(0).message,
            "While parsing field 'source_data' in Texture");
}

// ---------------------------------------------------------------------------------------------
// SurfacePixelFormat and TextureDecodeError

TEST(SurfacePixelFormat, MapsEveryKnownRawValue) {
  struct Case {
    std::uint32_t raw;
    Kind kind;
    const char* name;
  };
  const Case cases[] = {
      {0, Kind::Unknown, "Unknown"},
      {20, Kind::R8G8B8, "R8G8B8"},
      {21, Kind::A8R8G8B8, "A8R8G8B8"},
      {23, Kind::R5G6B5, "R5G6B5"},
      {26, Kind::A4R4G4B4, "A4R4G4B4"},
      {28, Kind::A8, "A8"},
      {41, Kind::P8, "P8"},
      {101, Kind::Index16, "Index16"},
      {243, Kind::CustomLscapeR8G8B8, "CustomLscapeR8G8B8"},
      {244, Kind::CustomLscapeAlpha, "CustomLscapeAlpha"},
      {500, Kind::CustomRawJpeg, "CustomRawJpeg"},
      {827611204, Kind::Dxt1, "Dxt1"},
      {844388420, Kind::Dxt2, "Dxt2"},
      {861165636, Kind::Dxt3, "Dxt3"},
      {877942852, Kind::Dxt4, "Dxt4"},
      {894720068, Kind::Dxt5, "Dxt5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SurfacePixelFormat format = SurfacePixelFormat::from_u32(c.raw);
    EXPECT_EQ(format.kind(), c.kind);
    EXPECT_EQ(format, SurfacePixelFormat(c.kind));
    EXPECT_EQ(format.raw(), c.raw);
    EXPECT_EQ(format.debug(), c.name);
    EXPECT_EQ(fmt::format("{:?}", format), c.name);
    EXPECT_EQ(format.needs_palette(), c.kind == Kind::P8 || c.kind == Kind::Index16);
    EXPECT_NE(format, SurfacePixelFormat::other(c.raw));
  }
}

TEST(SurfacePixelFormat, OtherCarriesItsRawValue) {
  const SurfacePixelFormat other = SurfacePixelFormat::from_u32(22);
  EXPECT_EQ(other.kind(), Kind::Other);
  EXPECT_EQ(other.raw(), 22u);
  EXPECT_EQ(other.debug(), "Other(22)");
  EXPECT_EQ(fmt::format("{:?}", other), "Other(22)");
  EXPECT_FALSE(other.needs_palette());
  EXPECT_EQ(other, SurfacePixelFormat::other(22));
  EXPECT_NE(other, SurfacePixelFormat::from_u32(24));
  EXPECT_NE(other, SurfacePixelFormat(Kind::Unknown));
  EXPECT_EQ(SurfacePixelFormat::from_u32(0xFFFFFFFF).debug(), "Other(4294967295)");
  EXPECT_EQ(SurfacePixelFormat::from_u32(0x31545845).debug(), "Other(827611205)");
}

TEST(TextureDecodeError, MessagesAndDebugForms) {
  struct Case {
    TextureDecodeError error;
    const char* message;
    const char* debug;
  };
  const Case cases[] = {
      {TextureDecodeError::unsupported_format(SurfacePixelFormat::from_u32(22)),
       "unsupported pixel format: Other(22)", "UnsupportedFormat(Other(22))"},
      {TextureDecodeError::unsupported_format(Kind::Unknown), "unsupported pixel format: Unknown",
       "UnsupportedFormat(Unknown)"},
      {TextureDecodeError::short_read(), "source_data too short for declared width/height",
       "ShortRead"},
      {TextureDecodeError::dimension_overflow(), "width * height overflowed usize",
       "DimensionOverflow"},
      {TextureDecodeError::missing_palette_id(),
       "palettized format but no DefaultPaletteId in header", "MissingPaletteId"},
      {TextureDecodeError::palette_index_out_of_range(), "pixel index out of palette range",
       "PaletteIndexOutOfRange"},
      {TextureDecodeError::palette_fetch("no \"palette\" 0x04000001"),
       "palette fetch failed: no \"palette\" 0x04000001",
       R"(PaletteFetch("no \"palette\" 0x04000001"))"},
      {TextureDecodeError::jpeg_decode("invalid JPEG format: x"),
       "JPEG decode failed: invalid JPEG format: x", R"(JpegDecode("invalid JPEG format: x"))"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.error.message(), c.message);
    EXPECT_EQ(fmt::format("{}", c.error), c.message);
    EXPECT_EQ(fmt::format("{:?}", c.error), c.debug);
  }
}

// ---------------------------------------------------------------------------------------------
// to_rgba8: uncompressed formats

struct Uncompressed {
  Kind kind;
  std::size_t bpp;
};
constexpr Uncompressed kUncompressed[] = {
    {Kind::R8G8B8, 3},
    {Kind::A8R8G8B8, 4},
    {Kind::R5G6B5, 2},
    {Kind::A4R4G4B4, 2},
    {Kind::A8, 1},
    {Kind::CustomLscapeR8G8B8, 3},
    {Kind::CustomLscapeAlpha, 1},
};

TEST(ToRgba8, UncompressedPixelRules) {
  struct Case {
    const char* name;
    Kind kind;
    std::int32_t width;
    Bytes data;
    Bytes expected;
  };
  const Case cases[] = {
      {"R8G8B8 stores blue first",
       Kind::R8G8B8,
       2,
       {1, 2, 3, 0xA0, 0xB0, 0xC0},
       {3, 2, 1, 0xFF, 0xC0, 0xB0, 0xA0, 0xFF}},
      {"CustomLscapeR8G8B8 stores red first",
       Kind::CustomLscapeR8G8B8,
       1,
       {1, 2, 3},
       {1, 2, 3, 0xFF}},
      {"A8R8G8B8", Kind::A8R8G8B8, 1, {1, 2, 3, 4}, {3, 2, 1, 4}},
      {"R5G6B5 replicates bits",
       Kind::R5G6B5,
       5,
       {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF, 0x03, 0x00},
       {0xFF, 0,    0,    0xFF, 0,    0xFF, 0, 0xFF, 0,    0,
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0,    0x18, 0xFF}},
      {"R5G6B5 green 11 gives 44", Kind::R5G6B5, 1, {0x60, 0x01}, {0, 44, 0, 0xFF}},
      {"A4R4G4B4", Kind::A4R4G4B4, 1, {0x21, 0x84}, {0x44, 0x22, 0x11, 0x88}},
      {"A8 is grey, opaque", Kind::A8, 2, {0x80, 0x00}, {0x80, 0x80, 0x80, 0xFF, 0, 0, 0, 0xFF}},
      {"CustomLscapeAlpha is grey, opaque",
       Kind::CustomLscapeAlpha,
       1,
       {0x80},
       {0x80, 0x80, 0x80, 0xFF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto rgba = convert(texture(c.kind, c.width, 1, c.data));
    ASSERT_TRUE(rgba) << rgba.error().message();
    EXPECT_EQ(*rgba, c.expected);
  }
}

// Long rows go through the converters' wide paths (4, 8 or 16 pixels at a time) and their
// tails; every pixel must still follow its format's definition, applied here pixel by pixel.
TEST(ToRgba8, UncompressedRowsOfEveryLengthFollowThePixelDefinitions) {
  using Pixel = std::array<std::uint8_t, 4>;
  const auto word = [](const std::uint8_t* p) { return static_cast<unsigned>(p[0] | p[1] << 8); };
  const auto bits5 = [](unsigned v) { return static_cast<std::uint8_t>(v << 3 | v >> 2); };
  const auto bits6 = [](unsigned v) { return static_cast<std::uint8_t>(v << 2 | v >> 4); };
  const auto nibble = [](unsigned v) { return static_cast<std::uint8_t>(v * 17); };
  struct Definition {
    Kind kind;
    std::size_t bpp;
    std::function<Pixel(const std::uint8_t*)> pixel;
  };
  const Definition definitions[] = {
      {Kind::R8G8B8, 3,
       [](const std::uint8_t* p) {
         return Pixel{p[2], p[1], p[0], 0xFF};
       }},
      {Kind::CustomLscapeR8G8B8, 3,
       [](const std::uint8_t* p) {
         return Pixel{p[0], p[1], p[2], 0xFF};
       }},
      {Kind::A8R8G8B8, 4,
       [](const std::uint8_t* p) {
         return Pixel{p[2], p[1], p[0], p[3]};
       }},
      {Kind::R5G6B5, 2,
       [&](const std::uint8_t* p) {
         const unsigned v = word(p);
         return Pixel{bits5(v >> 11), bits6(v >> 5 & 0x3F), bits5(v & 0x1F), 0xFF};
       }},
      {Kind::A4R4G4B4, 2,
       [&](const std::uint8_t* p) {
         const unsigned v = word(p);
         return Pixel{nibble(v >> 8 & 0xF), nibble(v >> 4 & 0xF), nibble(v & 0xF), nibble(v >> 12)};
       }},
      {Kind::A8, 1,
       [](const std::uint8_t* p) {
         return Pixel{p[0], p[0], p[0], 0xFF};
       }},
      {Kind::CustomLscapeAlpha, 1,
       [](const std::uint8_t* p) {
         return Pixel{p[0], p[0], p[0], 0xFF};
       }},
  };
  std::mt19937 random(7);
  for (const Definition& definition : definitions) {
    for (const std::int32_t width : {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33, 100}) {
      SCOPED_TRACE(fmt::format("{} x {}", SurfacePixelFormat(definition.kind).debug(), width));
      Bytes stored(static_cast<std::size_t>(width) * definition.bpp);
      for (auto& byte : stored) byte = static_cast<std::uint8_t>(random());
      Bytes expected;
      for (std::size_t i = 0; i < static_cast<std::size_t>(width); ++i) {
        const Pixel pixel = definition.pixel(&stored[i * definition.bpp]);
        expected.insert(expected.end(), pixel.begin(), pixel.end());
      }
      auto rgba = convert(texture(definition.kind, width, 1, stored));
      ASSERT_TRUE(rgba) << rgba.error().message();
      EXPECT_EQ(*rgba, expected);
    }
  }
}

// The byte-reordering runs have an SSSE3 form that the converters use where the processor has
// it; both forms must agree for every run length, reading only the pixels they are given (the
// input is exactly that long, so the sanitizer build sees any read past it).
TEST(ToRgba8, ProcessorSpecificRunsMatchThePortableOnes) {
  using Run = void (*)(const std::uint8_t*, std::uint8_t*, std::size_t);
  struct Pair {
    const char* name;
    Run chosen;
    Run portable;
    std::size_t bpp;
  };
  const Pair pairs[] = {
      {"bgr", pixel_runs::bgr, pixel_runs::portable::bgr, 3},
      {"rgb", pixel_runs::rgb, pixel_runs::portable::rgb, 3},
      {"bgra", pixel_runs::bgra, pixel_runs::portable::bgra, 4},
  };
  std::mt19937 random(11);
  for (const Pair& pair : pairs) {
    for (std::size_t count = 0; count <= 70; ++count) {
      SCOPED_TRACE(fmt::format("{} x {}", pair.name, count));
      Bytes stored(count * pair.bpp);
      for (auto& byte : stored) byte = static_cast<std::uint8_t>(random());
      Bytes chosen(count * 4, 0xAA);
      Bytes portable(count * 4, 0x55);
      pair.chosen(stored.data(), chosen.data(), count);
      pair.portable(stored.data(), portable.data(), count);
      EXPECT_EQ(chosen, portable);
    }
  }
}

TEST(ToRgba8, UncompressedLengthTestAndEmptyImages) {
  for (const Uncompressed& format : kUncompressed) {
    SCOPED_TRACE(SurfacePixelFormat(format.kind).debug());
    // A 3 x 2 image: pixel bytes 0, 1, 2, ...
    Bytes exact(6 * format.bpp);
    for (std::size_t i = 0; i < exact.size(); ++i) exact[i] = static_cast<std::uint8_t>(i * 37);

    auto whole = convert(texture(format.kind, 3, 2, exact));
    ASSERT_TRUE(whole) << whole.error().message();
    EXPECT_EQ(whole->size(), 24u);

    Bytes longer = exact;
    longer.insert(longer.end(), {0xDE, 0xAD, 0xBE, 0xEF});
    EXPECT_EQ(convert(texture(format.kind, 3, 2, longer)), whole);

    Bytes shorter(exact.begin(), exact.end() - 1);
    EXPECT_EQ(convert(texture(format.kind, 3, 2, shorter)),
              std::unexpected(TextureDecodeError::short_read()));

    for (const auto& [w, h] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{-1, 0}}) {
      EXPECT_EQ(convert(texture(format.kind, w, h, {1, 2, 3})), Bytes{}) << w << " x " << h;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// to_rgba8: palettized formats

TEST(ToRgba8Palette, LooksUpEachIndex) {
  Palette palette{.id = 0x04000007, .colors = std::vector<std::uint32_t>(514, 0x11223344)};
  palette.colors[0] = 0xFF000000;
  palette.colors[2] = 0x80FF4020;
  palette.colors[513] = 0x01020304;

  struct Case {
    Kind kind;
    std::int32_t width;
    Bytes data;
    Bytes expected;
  };
  const Case cases[] = {
      {Kind::P8, 3, {2, 0, 1}, {0xFF, 0x40, 0x20, 0x80, 0, 0, 0, 0xFF, 0x22, 0x33, 0x44, 0x11}},
      {Kind::Index16,
       2,
       {0x01, 0x02, 0x02, 0x00},
       {0x02, 0x03, 0x04, 0x01, 0xFF, 0x40, 0x20, 0x80}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(SurfacePixelFormat(c.kind).debug());
    int calls = 0;
    std::optional<std::uint32_t> requested;
    auto rgba = texture(c.kind, c.width, 1, c.data, 0x04000007)
                    .to_rgba8(Lookup{.result = palette, .calls = &calls, .requested = &requested});
    ASSERT_TRUE(rgba) << rgba.error().message();
    EXPECT_EQ(*rgba, c.expected);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(requested, 0x04000007u);
  }
}

TEST(ToRgba8Palette, FailuresComeInTheirOrder) {
  const Palette four{.id = 1, .colors = {0xFF000000, 0xFF0000FF, 0xFF00FF00, 0xFFFF0000}};
  const Palette empty{.id = 1, .colors = {}};
  const std::unexpected fetch_failed(TextureDecodeError::palette_fetch("palette 4000001 absent"));
  const std::unexpected other_kind(TextureDecodeError::dimension_overflow());
  const std::unexpected missing_id(TextureDecodeError::missing_palette_id());
  const std::unexpected short_read(TextureDecodeError::short_read());
  const std::unexpected out_of_range(TextureDecodeError::palette_index_out_of_range());
  const Bytes red_black{0xFF, 0, 0, 0xFF, 0, 0, 0, 0xFF};

  struct Case {
    const char* name;
    Kind kind;
    std::int32_t width;
    Bytes data;
    std::optional<std::uint32_t> palette_id;
    std::expected<Palette, TextureDecodeError> lookup;
    std::expected<Bytes, TextureDecodeError> expected;
    int calls;
  };
  const Case cases[] = {
      {"missing ID before the length test", Kind::P8, 4, {}, std::nullopt, four, missing_id, 0},
      {"missing ID with 0 pixels", Kind::Index16, 0, {}, std::nullopt, four, missing_id, 0},
      {"lookup error passes unchanged", Kind::P8, 1, {0}, 1, fetch_failed, fetch_failed, 1},
      {"lookup error before length test", Kind::Index16, 4, {}, 1, fetch_failed, fetch_failed, 1},
      {"lookup's other kinds pass unchanged", Kind::P8, 1, {0}, 1, other_kind, other_kind, 1},
      {"length test after the fetch", Kind::P8, 4, {0, 1, 2}, 1, four, short_read, 1},
      {"Index16 needs two bytes a pixel", Kind::Index16, 2, {0, 0, 1}, 1, four, short_read, 1},
      {"index equal to the palette length", Kind::P8, 3, {0, 1, 4}, 1, four, out_of_range, 1},
      {"Index16 index past the palette", Kind::Index16, 1, {0x00, 0x01}, 1, four, out_of_range, 1},
      {"empty palette fails on the first pixel", Kind::P8, 1, {0}, 1, empty, out_of_range, 1},
      {"0 pixels still fetch the palette once", Kind::P8, 0, {}, 1, empty, Bytes{}, 1},
      {"extra bytes are ignored", Kind::P8, 2, {3, 0, 9}, 1, four, red_black, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int calls = 0;
    auto rgba = texture(c.kind, c.width, 1, c.data, c.palette_id)
                    .to_rgba8(Lookup{.result = c.lookup, .calls = &calls});
    EXPECT_EQ(rgba, c.expected);
    EXPECT_EQ(calls, c.calls);
  }
}

TEST(ToRgba8Palette, WhatTheLookupThrowsPassesThrough) {
  auto throwing = [](std::uint32_t) -> std::expected<Palette, TextureDecodeError> {
    throw std::runtime_error("lookup stopped the check");
  };
  EXPECT_THROW((void)texture(Kind::P8, 2, 2, {0, 0, 0, 0}, 1).to_rgba8(throwing),
               std::runtime_error);
  // For every other format the same lookup is safe to pass.
  auto rgba = texture(Kind::A8, 1, 1, {5}).to_rgba8(throwing);
  EXPECT_EQ(rgba, (Bytes{5, 5, 5, 0xFF}));
}

// ---------------------------------------------------------------------------------------------
// to_rgba8: dimensions, dispatch and refusal

std::vector<SurfacePixelFormat> every_format() {
  std::vector<SurfacePixelFormat> formats;
  for (int k = 0; k < static_cast<int>(Kind::Other); ++k) {
    formats.emplace_back(static_cast<Kind>(k));
  }
  formats.push_back(SurfacePixelFormat::from_u32(22));
  return formats;
}

TEST(ToRgba8, DimensionOverflowComesFirstForEveryFormat) {
  for (const SurfacePixelFormat format : every_format()) {
    for (const auto& [w, h] :
         {std::pair{-1, 2}, std::pair{2, -1}, std::pair{-1, -1}, std::pair{INT32_MIN, INT32_MAX}}) {
      SCOPED_TRACE(fmt::format("{:?} {} x {}", format, w, h));
      // No palette ID and no data: those failures would come later.
      EXPECT_EQ(convert(texture(format, w, h, {})),
                std::unexpected(TextureDecodeError::dimension_overflow()));
    }
  }
}

TEST(ToRgba8, NegativeTimesOneIsRefusedWithoutReading) {
  // width x height = 2^64 - 1 pixels fits in 64 bits; the byte count of any format does not, or
  // is far beyond the data, and the block decoders would need 4294967295 pixels.
  const Palette palette{.id = 1, .colors = std::vector<std::uint32_t>(256)};
  for (const SurfacePixelFormat format : every_format()) {
    if (format.kind() == Kind::CustomRawJpeg) continue;  // sized by its stream; see jpeg_test
    const bool blocks = format.kind() >= Kind::Dxt1 && format.kind() <= Kind::Dxt5;
    const bool refused = format.kind() == Kind::Unknown || format.kind() == Kind::Other;
    for (const auto& [w, h] : {std::pair{-1, 1}, std::pair{1, -1}}) {
      SCOPED_TRACE(fmt::format("{:?} {} x {}", format, w, h));
      int calls = 0;
      auto rgba = texture(format, w, h, Bytes(64, 1), 1)
                      .to_rgba8(Lookup{.result = palette, .calls = &calls});
      const TextureDecodeError expected = refused  ? TextureDecodeError::unsupported_format(format)
                                          : blocks ? TextureDecodeError::dimension_overflow()
                                                   : TextureDecodeError::short_read();
      EXPECT_EQ(rgba, std::unexpected(expected));
      EXPECT_EQ(calls, format.needs_palette() ? 1 : 0);
    }
  }
}

TEST(ToRgba8, UnknownAndOtherFormatsAreUnsupported) {
  for (const SurfacePixelFormat format :
       {SurfacePixelFormat(Kind::Unknown), SurfacePixelFormat::from_u32(22)}) {
    auto rgba = convert(texture(format, 1, 1, {1, 2, 3, 4}));
    ASSERT_FALSE(rgba);
    EXPECT_EQ(rgba.error(), TextureDecodeError::unsupported_format(format));
    EXPECT_EQ(rgba.error().message(), "unsupported pixel format: " + format.debug());
  }
}

TEST(ToRgba8, BlockFormatsGoToTheirDecoder) {
  // Two blocks' worth of bytes for DXT3/5, four for DXT1; the decoders never fail.
  Bytes data(32);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 29 + 3);
  using Decoder =
      std::vector<std::uint8_t> (*)(std::span<const std::uint8_t>, std::uint32_t, std::uint32_t);
  const std::pair<Kind, Decoder> arms[] = {{Kind::Dxt1, decompress_dxt1},
                                           {Kind::Dxt2, decompress_dxt3},
                                           {Kind::Dxt3, decompress_dxt3},
                                           {Kind::Dxt4, decompress_dxt5},
                                           {Kind::Dxt5, decompress_dxt5}};
  for (const auto& [kind, decoder] : arms) {
    for (const auto& [w, h] :
         {std::pair{8, 4}, std::pair{5, 3}, std::pair{16, 16}, std::pair{-1, 0}}) {
      SCOPED_TRACE(fmt::format("{:?} {} x {}", SurfacePixelFormat(kind), w, h));
      EXPECT_EQ(convert(texture(kind, w, h, data)),
                decoder(data, static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h)));
    }
  }
}

TEST(ToRgba8, BlockFormatsAboveThePixelCapAreRefused) {
  ASSERT_EQ(kMaxDecodedPixels, 16777216u);
  EXPECT_EQ(convert(texture(Kind::Dxt5, 4097, 4096, {})),
            std::unexpected(TextureDecodeError::dimension_overflow()));
  EXPECT_EQ(convert(texture(Kind::Dxt1, 16777217, 1, {})),
            std::unexpected(TextureDecodeError::dimension_overflow()));
  EXPECT_TRUE(convert(texture(Kind::Dxt1, 4096, 4096, {})));
}

}  // namespace
}  // namespace ferngate_dat
