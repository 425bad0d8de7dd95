// Opening an archive for a subcommand, and the archive's file IDs in the order ferngate shows
// them.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <vector>

#include "commands.hpp"
#include "lib.hpp"

namespace ferngate_cli {

/// True for the IDs texture records live under: top byte 0x06 or 0x07.
constexpr bool is_texture_id(std::uint32_t id) {
  const std::uint32_t top = id >> 24;
  return top == 0x06 || top == 0x07;
}

/// Opens `path`; the error is one line naming the archive, e.g.
/// "cannot open x.dat: No such file or directory".
[[nodiscard]] std::expected<ferngate_dat::DatDatabase, CommandError> open_archive(
    const std::filesystem::path& path);

/// The IDs of the files for which `keep` holds, ascending.
[[nodiscard]] std::vector<std::uint32_t> sorted_ids(const ferngate_dat::DatDatabase& dat,
                                                    const std::function<bool(std::uint32_t)>& keep);

/// The IDs of every texture record, ascending.
[[nodiscard]] std::vector<std::uint32_t> texture_ids(const ferngate_dat::DatDatabase& dat);

}  // namespace ferngate_cli
