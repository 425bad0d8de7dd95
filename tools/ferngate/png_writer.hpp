// Writing PNG files: the one place that talks to libpng.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <string>

namespace ferngate_cli {

/// 8-bit pixels row by row without padding: red, green, blue and, for Rgba, alpha
/// (straight, not premultiplied).
struct PngPixels {
  enum class Channels { Rgb = 3, Rgba = 4 };

  std::uint32_t width = 0;
  std::uint32_t height = 0;
  Channels channels = Channels::Rgba;
  std::span<const std::uint8_t> bytes;
};

/// How hard zlib works: Small for files that are kept or shown, Fast for bulk exports.
enum class PngEffort { Small, Fast };

/// Writes `pixels` to `path` as a PNG, replacing the file. Fails, leaving no file behind, when
/// the image is empty, the bytes do not match the size, or the file cannot be written; the error
/// is one line, e.g. "cannot write out.png: No such file or directory".
[[nodiscard]] std::expected<void, std::string> write_png(const std::filesystem::path& path,
                                                         const PngPixels& pixels,
                                                         PngEffort effort = PngEffort::Small);

}  // namespace ferngate_cli
