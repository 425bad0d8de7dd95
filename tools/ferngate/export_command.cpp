// `ferngate export`: every texture of the archive as a PNG, then what failed.
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "archive.hpp"
#include "commands.hpp"
#include "decode.hpp"
#include "failure_list.hpp"
#include "png_writer.hpp"
#include "progress.hpp"

namespace ferngate_cli {

CommandResult run_export(const std::filesystem::path& archive,
                         const std::filesystem::path& directory) {
  auto dat = open_archive(archive);
  if (!dat) return std::unexpected(std::move(dat.error()));
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) {
    return std::unexpected(CommandError::failure(
        fmt::format("cannot create directory {}: {}", directory.string(), error.message())));
  }

  const std::vector<std::uint32_t> ids = texture_ids(*dat);
  Failures failures;
  ProgressBar progress("export", ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const std::uint32_t id = ids[i];
    auto decoded = decode_texture(*dat, id);
    if (decoded) {
      auto written = write_png(directory / fmt::format("{:08X}.png", id),
                               {.width = decoded->width,
                                .height = decoded->height,
                                .channels = PngPixels::Channels::Rgba,
                                .bytes = decoded->rgba},
                               PngEffort::Fast);
      if (!written) failures.emplace_back(id, fmt::format("png: {}", written.error()));
    } else {
      failures.emplace_back(id, std::move(decoded.error()));
    }
    progress.update(i + 1);
  }
  progress.clear();

  fmt::print("exported {} of {} textures to {}\n", ids.size() - failures.size(), ids.size(),
             directory.string());
  if (failures.empty()) return {};
  print_failures(failures);
  return std::unexpected(CommandError::failure(fmt::format(
      "{} of {} could not be exported", failures.size(), count_of(ids.size(), "texture"))));
}

}  // namespace ferngate_cli
