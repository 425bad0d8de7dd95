// `ferngate texture`: one texture decoded to a PNG.
#include <fmt/format.h>

#include "archive.hpp"
#include "commands.hpp"
#include "decode.hpp"
#include "png_writer.hpp"

namespace ferngate_cli {

CommandResult run_texture(const std::filesystem::path& archive, std::uint32_t id,
                          const std::filesystem::path& output) {
  if (!is_texture_id(id)) {
    return std::unexpected(CommandError::usage(
        fmt::format("0x{:08X} is not a texture: texture IDs have the top byte 0x06 or 0x07", id)));
  }
  auto dat = open_archive(archive);
  if (!dat) return std::unexpected(std::move(dat.error()));
  if (!dat->files().contains(id)) {
    return std::unexpected(
        CommandError::failure(fmt::format("no file 0x{:08X} in {}", id, archive.string())));
  }
  auto decoded = decode_texture(*dat, id);
  if (!decoded) {
    return std::unexpected(CommandError::failure(fmt::format("0x{:08X}: {}", id, decoded.error())));
  }
  auto written = write_png(output, {.width = decoded->width,
                                    .height = decoded->height,
                                    .channels = PngPixels::Channels::Rgba,
                                    .bytes = decoded->rgba});
  if (!written) return std::unexpected(CommandError::failure(std::move(written.error())));
  fmt::print("0x{:08X}: {} {} x {} -> {}\n", id, decoded->format, decoded->width, decoded->height,
             output.string());
  return {};
}

}  // namespace ferngate_cli
