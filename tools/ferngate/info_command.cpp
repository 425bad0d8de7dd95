// `ferngate info`: what the archive says about itself, and what its directory holds.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include <fmt/format.h>

#include "archive.hpp"
#include "commands.hpp"
#include "render.hpp"

namespace ferngate_cli {

namespace {

// The version string quoted when it is printable text (trailing NULs dropped), else its bytes in
// hexadecimal.
std::string version_text(const std::vector<std::uint8_t>& bytes) {
  std::size_t end = bytes.size();
  while (end > 0 && bytes[end - 1] == 0) --end;
  std::string text(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(end));
  const bool printable =
      std::all_of(text.begin(), text.end(), [](char ch) { return ch >= 0x20 && ch < 0x7F; });
  if (printable) return ferngate_dat::debug_quoted(text);
  return fmt::format("{:02x}", fmt::join(bytes, " "));
}

}  // namespace

CommandResult run_info(const std::filesystem::path& archive) {
  auto dat = open_archive(archive);
  if (!dat) return std::unexpected(std::move(dat.error()));
  const ferngate_dat::DatHeader& header = dat->header();

  std::error_code size_error;
  const std::uintmax_t length = std::filesystem::file_size(archive, size_error);
  std::map<std::uint32_t, std::size_t> by_top_byte;
  std::size_t compressed = 0;
  for (const auto& [id, entry] : dat->files()) {
    ++by_top_byte[id >> 24];
    if (entry.is_compressed()) ++compressed;
  }

  std::string out;
  const auto line = [&out](std::string_view name, const auto& value) {
    out += fmt::format("{:<18}{}\n", name, value);
  };
  line("archive", archive.string());
  line("file size", size_error
                        ? fmt::format("unknown ({}); header file_size {}", size_error.message(),
                                      header.file_size)
                        : fmt::format("{} bytes; header file_size {}{}", length, header.file_size,
                                      length == header.file_size ? "" : " (differs)"));
  line("block size", fmt::format("{} bytes", header.block_size));
  line("files", fmt::format("{} ({} stored compressed)", dat->files().size(), compressed));
  out += "files by top byte (textures are 0x06 and 0x07)\n";
  for (const auto& [top, count] : by_top_byte) {
    line(fmt::format("  0x{:02X}", top), count);
  }
  out += "header\n";
  const std::pair<const char*, std::uint32_t> fields[] = {
      {"magic", header.magic},
      {"block_size", header.block_size},
      {"file_size", header.file_size},
      {"dataset", header.dataset},
      {"subset", header.subset},
      {"free_head", header.free_head},
      {"free_tail", header.free_tail},
      {"free_count", header.free_count},
      {"root_offset", header.root_offset},
      {"new_lru", header.new_lru},
      {"old_lru", header.old_lru},
      {"use_lru", header.use_lru},
      {"master_map_id", header.master_map_id},
      {"engine_version", header.engine_version},
      {"game_version", header.game_version},
  };
  for (const auto& [name, value] : fields) {
    line(fmt::format("  {}", name), fmt::format("{} (0x{:08X})", value, value));
  }
  line("  version_string", version_text(header.version_string));
  line("  version_minor", fmt::format("{} (0x{:08X})", header.version_minor, header.version_minor));
  fmt::print("{}", out);
  return {};
}

}  // namespace ferngate_cli
