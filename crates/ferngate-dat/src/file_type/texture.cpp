#include "file_type/texture.hpp"

#include <iterator>

#include "byte_reader.hpp"
#include "file_type/dxt.hpp"
#include "file_type/jpeg.hpp"
#include "file_type/pixel_runs.hpp"

namespace ferngate_dat {

namespace {

// The record's fields in their stored order, one declaration a line, so that a failure points at
// the line of its field.
constexpr FieldTag kId{"Texture", "id"};
constexpr FieldTag kUnknown{"Texture", "_unknown"};
constexpr FieldTag kWidth{"Texture", "width"};
constexpr FieldTag kHeight{"Texture", "height"};
constexpr FieldTag kFormatRaw{"Texture", "format_raw"};
constexpr FieldTag kLength{"Texture", "length"};
constexpr FieldTag kSourceData{"Texture", "source_data"};
constexpr FieldTag kDefaultPaletteId{"Texture", "default_palette_id"};

using Rgba8 = std::expected<std::vector<std::uint8_t>, TextureDecodeError>;

static_assert(sizeof(std::size_t) == sizeof(std::uint64_t),
              "pixel counts are 64-bit and index buffers directly");

// a × b, or nothing when the product does not fit in 64 bits.
std::optional<std::uint64_t> checked_mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
  return product;
}

// Bytes that `pixels` pixels of `bpp` bytes need from `source`, or ShortRead when it holds fewer.
// A count that does not fit in 64 bits (a negative dimension) is more than any source holds.
std::expected<void, TextureDecodeError> check_length(std::span<const std::uint8_t> source,
                                                     std::uint64_t pixels, std::uint64_t bpp) {
  const auto needed = checked_mul(pixels, bpp);
  if (!needed || source.size() < *needed) {
    return std::unexpected(TextureDecodeError::short_read());
  }
  return {};
}

// The RGBA8 buffer for `pixels` pixels, allocated once at its final size. Callers have checked
// that the source holds at least `pixels` bytes, so the size is bounded by the input.
std::expected<std::vector<std::uint8_t>, TextureDecodeError> allocate_rgba8(std::uint64_t pixels) {
  const auto bytes = checked_mul(pixels, 4);
  if (!bytes) return std::unexpected(TextureDecodeError::dimension_overflow());
  return std::vector<std::uint8_t>(*bytes);
}

// An uncompressed format: `bpp` stored bytes a pixel, widened by `widen` (see pixel_runs.hpp).
Rgba8 expand_uncompressed(std::span<const std::uint8_t> source, std::uint64_t pixels,
                          std::uint64_t bpp,
                          void (*widen)(const std::uint8_t*, std::uint8_t*, std::size_t)) {
  if (auto ok = check_length(source, pixels, bpp); !ok) {
    return std::unexpected(std::move(ok.error()));
  }
  auto out = allocate_rgba8(pixels);
  if (!out) return out;
  widen(source.data(), out->data(), pixels);
  return out;
}

// P8 (one index byte a pixel) and Index16 (a little-endian 16-bit index a pixel).
Rgba8 expand_palettized(const Texture& texture, std::uint64_t pixels, std::size_t bpp,
                        detail::PaletteLookupRef palette_for) {
  if (!texture.default_palette_id) {
    return std::unexpected(TextureDecodeError::missing_palette_id());
  }
  auto palette = palette_for(*texture.default_palette_id);
  if (!palette) return std::unexpected(std::move(palette.error()));

  const std::span<const std::uint8_t> source = texture.source_data;
  if (auto ok = check_length(source, pixels, bpp); !ok) {
    return std::unexpected(std::move(ok.error()));
  }
  auto out = allocate_rgba8(pixels);
  if (!out) return out;
  const std::vector<std::uint32_t>& colors = palette->colors;
  const std::uint8_t* in = source.data();
  std::uint8_t* dst = out->data();
  for (std::uint64_t i = 0; i < pixels; ++i, in += bpp, dst += 4) {
    const std::size_t index = bpp == 1 ? in[0] : in[0] | static_cast<std::size_t>(in[1]) << 8;
    if (index >= colors.size()) {
      return std::unexpected(TextureDecodeError::palette_index_out_of_range());
    }
    const std::uint32_t argb = colors[index];
    dst[0] = static_cast<std::uint8_t>(argb >> 16);
    dst[1] = static_cast<std::uint8_t>(argb >> 8);
    dst[2] = static_cast<std::uint8_t>(argb);
    dst[3] = static_cast<std::uint8_t>(argb >> 24);
  }
  return out;
}

using DxtDecoder = std::vector<std::uint8_t> (*)(std::span<const std::uint8_t>, std::uint32_t,
                                                 std::uint32_t);

// The block decoders take the dimensions as the same 32 bits read as unsigned, so a stored -1
// arrives as 4294967295. They size their output from them alone, hence the cap.
Rgba8 decode_blocks(const Texture& texture, DxtDecoder decoder) {
  const auto width = static_cast<std::uint32_t>(texture.width);
  const auto height = static_cast<std::uint32_t>(texture.height);
  if (std::uint64_t{width} * height > kMaxDecodedPixels) {
    return std::unexpected(TextureDecodeError::dimension_overflow());
  }
  return decoder(texture.source_data, width, height);
}

Rgba8 decode_jpeg(const Texture& texture) {
  auto decoded = decode_jpeg_rgba8(texture.source_data, kMaxDecodedPixels);
  if (!decoded) return std::unexpected(TextureDecodeError::jpeg_decode(std::move(decoded.error())));
  return std::move(*decoded);
}

}  // namespace

std::string SurfacePixelFormat::debug() const {
  switch (kind_) {
    case Kind::Unknown:
      return "Unknown";
    case Kind::R8G8B8:
      return "R8G8B8";
    case Kind::A8R8G8B8:
      return "A8R8G8B8";
    case Kind::R5G6B5:
      return "R5G6B5";
    case Kind::A4R4G4B4:
      return "A4R4G4B4";
    case Kind::A8:
      return "A8";
    case Kind::P8:
      return "P8";
    case Kind::Index16:
      return "Index16";
    case Kind::CustomLscapeR8G8B8:
      return "CustomLscapeR8G8B8";
    case Kind::CustomLscapeAlpha:
      return "CustomLscapeAlpha";
    case Kind::CustomRawJpeg:
      return "CustomRawJpeg";
    case Kind::Dxt1:
      return "Dxt1";
    case Kind::Dxt2:
      return "Dxt2";
    case Kind::Dxt3:
      return "Dxt3";
    case Kind::Dxt4:
      return "Dxt4";
    case Kind::Dxt5:
      return "Dxt5";
    case Kind::Other:
      return fmt::format("Other({})", raw_);
  }
  return {};
}

std::string TextureDecodeError::message() const {
  switch (kind_) {
    case Kind::UnsupportedFormat:
      return fmt::format("unsupported pixel format: {:?}", format_);
    case Kind::ShortRead:
      return "source_data too short for declared width/height";
    case Kind::DimensionOverflow:
      return "width * height overflowed usize";
    case Kind::MissingPaletteId:
      return "palettized format but no DefaultPaletteId in header";
    case Kind::PaletteIndexOutOfRange:
      return "pixel index out of palette range";
    case Kind::PaletteFetch:
      return fmt::format("palette fetch failed: {}", text_);
    case Kind::JpegDecode:
      return fmt::format("JPEG decode failed: {}", text_);
  }
  return {};
}

std::string TextureDecodeError::debug() const {
  switch (kind_) {
    case Kind::UnsupportedFormat:
      return fmt::format("UnsupportedFormat({:?})", format_);
    case Kind::ShortRead:
      return "ShortRead";
    case Kind::DimensionOverflow:
      return "DimensionOverflow";
    case Kind::MissingPaletteId:
      return "MissingPaletteId";
    case Kind::PaletteIndexOutOfRange:
      return "PaletteIndexOutOfRange";
    case Kind::PaletteFetch:
      return fmt::format("PaletteFetch({})", debug_quoted(text_));
    case Kind::JpegDecode:
      return fmt::format("JpegDecode({})", debug_quoted(text_));
  }
  return {};
}

std::expected<Texture, DatError> Texture::unpack(std::span<const std::uint8_t> data) {
  ByteReader reader(data);
  Texture texture;

  // The six fixed fields are 4 bytes each; the signed ones keep the same 32 bits.
  const FieldTag* const fixed_fields[] = {&kId,     &kUnknown,   &kWidth,
                                          &kHeight, &kFormatRaw, &kLength};
  std::uint32_t fixed[std::size(fixed_fields)] = {};
  for (std::size_t i = 0; i < std::size(fixed_fields); ++i) {
    auto value = reader.u32(*fixed_fields[i]);
    if (!value) return std::unexpected(std::move(value.error()));
    fixed[i] = *value;
  }
  texture.id = fixed[0];
  texture._unknown = static_cast<std::int32_t>(fixed[1]);
  texture.width = static_cast<std::int32_t>(fixed[2]);
  texture.height = static_cast<std::int32_t>(fixed[3]);
  texture.format_raw = fixed[4];
  texture.length = static_cast<std::int32_t>(fixed[5]);

  if (texture.length < 0) {
    return std::unexpected(BinReadError{
        BinReadError::AssertFail{reader.position(),
                                 fmt::format("count {} out of range of usize", texture.length)},
        {}});
  }
  // The bytes are taken only once the input is known to hold them all, so a huge declared
  // length over a short input fails without reserving anything.
  auto source = reader.bytes(static_cast<std::size_t>(texture.length), kSourceData);
  if (!source) return std::unexpected(std::move(source.error()));
  texture.source_data.assign(source->begin(), source->end());

  if (texture.format().needs_palette()) {
    auto palette_id = reader.u32(kDefaultPaletteId);
    if (!palette_id) return std::unexpected(std::move(palette_id.error()));
    texture.default_palette_id = *palette_id;
  }
  return texture;
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> Texture::jpeg_dimensions() const {
  if (format().kind() != SurfacePixelFormat::Kind::CustomRawJpeg) return std::nullopt;
  return read_jpeg_dimensions(source_data);
}

// Checks the dimensions, then dispatches on the format. The order of the failures is fixed:
// dimensions, format, palette ID, the lookup's own error, data length, palette indices.
std::expected<std::vector<std::uint8_t>, TextureDecodeError> Texture::convert_to_rgba8(
    detail::PaletteLookupRef palette_for) const {
  // Widened with their sign: a stored -1 is 2^64 - 1.
  const auto w = static_cast<std::uint64_t>(static_cast<std::int64_t>(width));
  const auto h = static_cast<std::uint64_t>(static_cast<std::int64_t>(height));
  const auto pixels = checked_mul(w, h);
  if (!pixels) return std::unexpected(TextureDecodeError::dimension_overflow());

  using Kind = SurfacePixelFormat::Kind;
  const SurfacePixelFormat pixel_format = format();
  switch (pixel_format.kind()) {
    case Kind::R8G8B8:
      return expand_uncompressed(source_data, *pixels, 3, pixel_runs::bgr);
    case Kind::A8R8G8B8:
      return expand_uncompressed(source_data, *pixels, 4, pixel_runs::bgra);
    case Kind::R5G6B5:
      return expand_uncompressed(source_data, *pixels, 2, pixel_runs::r5g6b5);
    case Kind::A4R4G4B4:
      return expand_uncompressed(source_data, *pixels, 2, pixel_runs::a4r4g4b4);
    case Kind::A8:
    case Kind::CustomLscapeAlpha:
      return expand_uncompressed(source_data, *pixels, 1, pixel_runs::grey);
    case Kind::CustomLscapeR8G8B8:
      return expand_uncompressed(source_data, *pixels, 3, pixel_runs::rgb);
    case Kind::P8:
      return expand_palettized(*this, *pixels, 1, palette_for);
    case Kind::Index16:
      return expand_palettized(*this, *pixels, 2, palette_for);
    case Kind::CustomRawJpeg:
      return decode_jpeg(*this);
    case Kind::Dxt1:
      return decode_blocks(*this, decompress_dxt1);
    case Kind::Dxt2:
    case Kind::Dxt3:
      return decode_blocks(*this, decompress_dxt3);
    case Kind::Dxt4:
    case Kind::Dxt5:
      return decode_blocks(*this, decompress_dxt5);
    case Kind::Unknown:
    case Kind::Other:
      break;
  }
  return std::unexpected(TextureDecodeError::unsupported_format(pixel_format));
}

}  // namespace ferngate_dat
