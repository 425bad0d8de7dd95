#include "archive.hpp"

#include <algorithm>

#include <fmt/format.h>

namespace ferngate_cli {

std::expected<ferngate_dat::DatDatabase, CommandError> open_archive(
    const std::filesystem::path& path) {
  auto dat = ferngate_dat::DatDatabase::open(path);
  if (dat) return std::move(*dat);
  const ferngate_dat::DatError& error = dat.error();
  // A failure to open the file already carries the path; say it once.
  if (error.kind() == ferngate_dat::DatError::Kind::PathError) {
    return std::unexpected(CommandError::failure(
        fmt::format("cannot open {}: {}", path.string(), error.io_error().message())));
  }
  return std::unexpected(
      CommandError::failure(fmt::format("cannot read archive {}: {}", path.string(), error)));
}

std::vector<std::uint32_t> sorted_ids(const ferngate_dat::DatDatabase& dat,
                                      const std::function<bool(std::uint32_t)>& keep) {
  std::vector<std::uint32_t> ids;
  for (const auto& [id, entry] : dat.files()) {
    if (keep(id)) ids.push_back(id);
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::vector<std::uint32_t> texture_ids(const ferngate_dat::DatDatabase& dat) {
  return sorted_ids(dat, is_texture_id);
}

}  // namespace ferngate_cli
