// Builds stored texture records: the 24-byte head, the pixel data, and the palette ID that the
// palette formats carry after it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace ferngate_testing {

/// Raw format numbers of the stored records.
namespace raw_format {
inline constexpr std::uint32_t kR8G8B8 = 20;
inline constexpr std::uint32_t kA8R8G8B8 = 21;
inline constexpr std::uint32_t kR5G6B5 = 23;
inline constexpr std::uint32_t kA4R4G4B4 = 26;
inline constexpr std::uint32_t kA8 = 28;
inline constexpr std::uint32_t kP8 = 41;
inline constexpr std::uint32_t kIndex16 = 101;
inline constexpr std::uint32_t kLscapeR8G8B8 = 243;
inline constexpr std::uint32_t kLscapeAlpha = 244;
inline constexpr std::uint32_t kJpeg = 500;
inline constexpr std::uint32_t kDxt1 = 0x31545844;
inline constexpr std::uint32_t kDxt2 = 0x32545844;
inline constexpr std::uint32_t kDxt3 = 0x33545844;
inline constexpr std::uint32_t kDxt4 = 0x34545844;
inline constexpr std::uint32_t kDxt5 = 0x35545844;
}  // namespace raw_format

struct TextureRecord {
  std::uint32_t id = 0;
  std::int32_t unknown = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint32_t format_raw = 0;
  std::vector<std::uint8_t> source_data;
  /// Written after the pixel data when set (the palette formats need it).
  std::optional<std::uint32_t> default_palette_id;
  /// Written in place of source_data's size when set, to make records that lie about it.
  std::optional<std::int32_t> length;
};

/// The stored bytes of `record`.
[[nodiscard]] std::vector<std::uint8_t> encode_texture(const TextureRecord& record);

}  // namespace ferngate_testing
