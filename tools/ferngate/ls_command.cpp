// `ferngate ls`: the directory, one file per line, sorted by ID.
#include <algorithm>
#include <string>

#include <fmt/format.h>

#include "archive.hpp"
#include "commands.hpp"

namespace ferngate_cli {

CommandResult run_ls(const std::filesystem::path& archive,
                     const std::vector<std::uint8_t>& top_bytes) {
  auto dat = open_archive(archive);
  if (!dat) return std::unexpected(std::move(dat.error()));
  const auto ids = sorted_ids(*dat, [&top_bytes](std::uint32_t id) {
    return top_bytes.empty() ||
           std::find(top_bytes.begin(), top_bytes.end(), id >> 24) != top_bytes.end();
  });
  // One write for the whole listing: an archive holds tens of thousands of files.
  std::string out;
  out.reserve(ids.size() * 36);
  for (const std::uint32_t id : ids) {
    const ferngate_dat::DatFileEntry& entry = dat->files().at(id);
    out += fmt::format("0x{:08X} {:>10} {}\n", id, entry.size,
                       entry.is_compressed() ? "compressed" : "uncompressed");
  }
  fmt::print("{}", out);
  return {};
}

}  // namespace ferngate_cli
