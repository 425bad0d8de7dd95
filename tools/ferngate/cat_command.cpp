// `ferngate cat`: one stored file's bytes, decompressed, on standard output.
#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fmt/format.h>

#include "archive.hpp"
#include "commands.hpp"

namespace ferngate_cli {

CommandResult run_cat(const std::filesystem::path& archive, std::uint32_t id) {
  auto dat = open_archive(archive);
  if (!dat) return std::unexpected(std::move(dat.error()));
  if (!dat->files().contains(id)) {
    return std::unexpected(
        CommandError::failure(fmt::format("no file 0x{:08X} in {}", id, archive.string())));
  }
  auto bytes = dat->get_file(id);
  if (!bytes) {
    return std::unexpected(CommandError::failure(fmt::format("0x{:08X}: {}", id, bytes.error())));
  }
  if (std::fwrite(bytes->data(), 1, bytes->size(), stdout) != bytes->size() ||
      std::fflush(stdout) != 0) {
    return std::unexpected(CommandError::failure(fmt::format(
        "cannot write to standard output: {}", std::generic_category().message(errno))));
  }
  return {};
}

}  // namespace ferngate_cli
