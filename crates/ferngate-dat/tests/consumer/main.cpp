// Uses the installed library: parses and converts a texture record made here, and opens an
// archive that is not there. Prints what it got; exits 1 when anything differs from expected.
#include <cstdio>
#include <vector>

#include <fmt/format.h>

#include "file_type/texture.hpp"
#include "lib.hpp"

int main() {
  // A 1 x 1 R8G8B8 record: id, _unknown, width, height, format 20, length 3, then blue green red.
  const std::vector<std::uint8_t> record = {1, 0, 0,  6, 0, 0, 0, 0, 1, 0, 0,  0,  1, 0,
                                            0, 0, 20, 0, 0, 0, 3, 0, 0, 0, 30, 20, 10};
  const auto texture = ferngate_dat::Texture::unpack(record);
  if (!texture) {
    fmt::print(stderr, "unpack: {}\n", texture.error());
    return 1;
  }
  const auto rgba = texture->to_rgba8(
      [](std::uint32_t) -> std::expected<ferngate_dat::Palette, ferngate_dat::TextureDecodeError> {
        return std::unexpected(ferngate_dat::TextureDecodeError::missing_palette_id());
      });
  const auto missing = ferngate_dat::DatDatabase::open("/nonexistent/portal.dat");
  const bool ok = rgba && *rgba == std::vector<std::uint8_t>{10, 20, 30, 255} && !missing &&
                  missing.error().kind() == ferngate_dat::DatError::Kind::PathError;
  fmt::print("{} 0x{:08X} {} x {}: {}\n", texture->format(), texture->id, texture->width,
             texture->height, missing ? "opened?" : missing.error().message());
  return ok ? 0 : 1;
}
