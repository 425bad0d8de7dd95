// The texture record, its pixel formats, and the conversion of its pixels to RGBA8.
//
//   stored texture record (little-endian, no magic, no padding)
//     +0   id                  u32
//     +4   _unknown            i32   kept as read, never interpreted
//     +8   width               i32
//     +12  height              i32
//     +16  format_raw          u32   mapped by SurfacePixelFormat::from_u32
//     +20  length              i32   number of pixel bytes that follow
//     +24  source_data         `length` bytes
//     +24+length  default_palette_id  u32, only for P8 and Index16
#pragma once

#include <algorithm>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "error.hpp"
#include "file_type/palette.hpp"
#include "render.hpp"

namespace ferngate_dat {

/// The most pixels a conversion decodes into a fresh buffer where the stored record cannot
/// vouch for the size itself: 16,777,216 pixels, 64 MiB of RGBA8. Block-compressed textures
/// whose width x height exceed it, and JPEG streams that declare more, are refused instead of
/// allocating gigabytes for a hostile or damaged record. Uncompressed and palettized textures
/// need no cap: their output is at most four times the pixel data that the record really holds.
inline constexpr std::uint64_t kMaxDecodedPixels = std::uint64_t{1} << 24;

/// A texture's pixel format: one of the known layouts, or `Other` carrying the raw number.
class SurfacePixelFormat {
 public:
  enum class Kind {
    Unknown,
    R8G8B8,
    A8R8G8B8,
    R5G6B5,
    A4R4G4B4,
    A8,
    P8,
    Index16,
    CustomLscapeR8G8B8,
    CustomLscapeAlpha,
    CustomRawJpeg,
    Dxt1,
    Dxt2,
    Dxt3,
    Dxt4,
    Dxt5,
    Other,
  };

  /// A named format; `Kind::Other` made this way carries 0, so use `other(raw)` for that kind.
  constexpr SurfacePixelFormat(Kind kind)  // NOLINT: implicit, so formats compare with kinds
      : kind_(kind), raw_(raw_value(kind)) {}
  /// The `Other` format carrying `raw`, whatever `raw` is.
  static constexpr SurfacePixelFormat other(std::uint32_t raw) {
    return SurfacePixelFormat(Kind::Other, raw);
  }

  /// The format whose raw value is `raw`; a number outside the known set gives `Other(raw)`.
  static constexpr SurfacePixelFormat from_u32(std::uint32_t raw) {
    for (int k = 0; k < static_cast<int>(Kind::Other); ++k) {
      if (raw_value(static_cast<Kind>(k)) == raw) return SurfacePixelFormat(static_cast<Kind>(k));
    }
    return other(raw);
  }

  constexpr Kind kind() const { return kind_; }
  /// The raw number: the table value of a named format, the carried value of `Other`.
  constexpr std::uint32_t raw() const { return raw_; }
  /// True for the two palettized formats, P8 and Index16.
  constexpr bool needs_palette() const { return kind_ == Kind::P8 || kind_ == Kind::Index16; }

  /// The kind's name, e.g. `CustomLscapeR8G8B8`, or `Other(22)`.
  std::string debug() const;

  friend constexpr bool operator==(const SurfacePixelFormat&, const SurfacePixelFormat&) = default;

 private:
  constexpr SurfacePixelFormat(Kind kind, std::uint32_t raw) : kind_(kind), raw_(raw) {}

  // Direct3D 9 surface-format numbers, the DXT FourCC codes read as little-endian numbers, and
  // three values of this system's own (243, 244, 500).
  static constexpr std::uint32_t raw_value(Kind kind) {
    switch (kind) {
      case Kind::Unknown:
        return 0;
      case Kind::R8G8B8:
        return 20;
      case Kind::A8R8G8B8:
        return 21;
      case Kind::R5G6B5:
        return 23;
      case Kind::A4R4G4B4:
        return 26;
      case Kind::A8:
        return 28;
      case Kind::P8:
        return 41;
      case Kind::Index16:
        return 101;
      case Kind::CustomLscapeR8G8B8:
        return 243;
      case Kind::CustomLscapeAlpha:
        return 244;
      case Kind::CustomRawJpeg:
        return 500;
      case Kind::Dxt1:
        return 0x31545844;  // "DXT1"
      case Kind::Dxt2:
        return 0x32545844;
      case Kind::Dxt3:
        return 0x33545844;
      case Kind::Dxt4:
        return 0x34545844;
      case Kind::Dxt5:
        return 0x35545844;
      case Kind::Other:
        return 0;
    }
    return 0;
  }

  Kind kind_;
  std::uint32_t raw_;
};

/// Why a texture could not be converted to RGBA8.
class TextureDecodeError {
 public:
  enum class Kind {
    UnsupportedFormat,
    ShortRead,
    DimensionOverflow,
    MissingPaletteId,
    PaletteIndexOutOfRange,
    PaletteFetch,
    JpegDecode,
  };

  static TextureDecodeError unsupported_format(SurfacePixelFormat format) {
    TextureDecodeError error(Kind::UnsupportedFormat);
    error.format_ = format;
    return error;
  }
  static TextureDecodeError short_read() { return TextureDecodeError(Kind::ShortRead); }
  static TextureDecodeError dimension_overflow() {
    return TextureDecodeError(Kind::DimensionOverflow);
  }
  static TextureDecodeError missing_palette_id() {
    return TextureDecodeError(Kind::MissingPaletteId);
  }
  static TextureDecodeError palette_index_out_of_range() {
    return TextureDecodeError(Kind::PaletteIndexOutOfRange);
  }
  /// For palette lookups that cannot produce their palette; `text` says why.
  static TextureDecodeError palette_fetch(std::string text) {
    return TextureDecodeError(Kind::PaletteFetch, std::move(text));
  }
  static TextureDecodeError jpeg_decode(std::string text) {
    return TextureDecodeError(Kind::JpegDecode, std::move(text));
  }

  Kind kind() const { return kind_; }
  /// The refused format of UnsupportedFormat.
  SurfacePixelFormat format() const { return format_; }
  /// The text of PaletteFetch and JpegDecode.
  const std::string& text() const { return text_; }

  /// The message, e.g. "unsupported pixel format: Other(22)".
  std::string message() const;
  /// The kind's name with its data, e.g. `UnsupportedFormat(Other(22))`, `PaletteFetch("gone")`.
  std::string debug() const;

  friend bool operator==(const TextureDecodeError&, const TextureDecodeError&) = default;

 private:
  explicit TextureDecodeError(Kind kind, std::string text = {})
      : kind_(kind), text_(std::move(text)) {}

  Kind kind_;
  SurfacePixelFormat format_ = SurfacePixelFormat::Kind::Unknown;
  std::string text_;
};

namespace detail {

/// A non-owning view of a palette lookup, so that one non-template conversion serves every
/// callable the caller passes.
class PaletteLookupRef {
 public:
  template <typename F>
  explicit PaletteLookupRef(F& lookup)
      : object_(static_cast<void*>(std::addressof(lookup))),
        call_([](void* object, std::uint32_t id) -> std::expected<Palette, TextureDecodeError> {
          return (*static_cast<F*>(object))(id);
        }) {}

  std::expected<Palette, TextureDecodeError> operator()(std::uint32_t id) const {
    return call_(object_, id);
  }

 private:
  void* object_;
  std::expected<Palette, TextureDecodeError> (*call_)(void*, std::uint32_t);
};

}  // namespace detail

/// A parsed texture record; owns its pixel bytes.
struct Texture {
  std::uint32_t id = 0;
  std::int32_t _unknown = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint32_t format_raw = 0;
  std::int32_t length = 0;
  std::vector<std::uint8_t> source_data;
  std::optional<std::uint32_t> default_palette_id;

  /// Parses one stored texture record from the start of `data`; bytes after it are ignored.
  /// A field that runs past the end fails with that field's context; a negative `length` fails
  /// as an assertion at position 24.
  [[nodiscard]] static std::expected<Texture, DatError> unpack(std::span<const std::uint8_t> data);

  /// `format_raw` mapped to its pixel format.
  SurfacePixelFormat format() const { return SurfacePixelFormat::from_u32(format_raw); }

  /// Converts the pixels to a new RGBA8 buffer. `palette_for` maps a palette ID to a `Palette`
  /// or an error; it is called at most once, and only for P8 and Index16. Whatever it throws
  /// passes through unchanged.
  template <typename PaletteFor>
  requires std::is_invocable_r_v<
      std::expected<Palette, TextureDecodeError>, PaletteFor&,
      std::uint32_t> [[nodiscard]] std::expected<std::vector<std::uint8_t>, TextureDecodeError>
  to_rgba8(PaletteFor palette_for) const {
    return convert_to_rgba8(detail::PaletteLookupRef(palette_for));
  }

  /// The width and height that the JPEG stream of a CustomRawJpeg texture declares in its header;
  /// nothing for any other format or when the header cannot be read.
  [[nodiscard]] std::optional<std::pair<std::uint32_t, std::uint32_t>> jpeg_dimensions() const;

  friend bool operator==(const Texture&, const Texture&) = default;

 private:
  [[nodiscard]] std::expected<std::vector<std::uint8_t>, TextureDecodeError> convert_to_rgba8(
      detail::PaletteLookupRef palette_for) const;
};

}  // namespace ferngate_dat

/// `{}` and `{:?}` both give a format's name, e.g. `Dxt1` or `Other(22)`.
template <>
struct fmt::formatter<ferngate_dat::SurfacePixelFormat, char> {
  static constexpr auto parse(fmt::format_parse_context& ctx) {
    auto it = ctx.begin();
    if (it != ctx.end() && *it == '?') ++it;
    if (it != ctx.end() && *it != '}') throw fmt::format_error("expected '}' or '?}'");
    return it;
  }

  static auto format(const ferngate_dat::SurfacePixelFormat& format, fmt::format_context& ctx) {
    const std::string text = format.debug();
    return std::copy(text.begin(), text.end(), ctx.out());
  }
};
