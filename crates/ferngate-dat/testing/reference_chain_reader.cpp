#include "reference_chain_reader.hpp"

#include <algorithm>
#include <optional>

#include <fmt/format.h>

#include "archive_writer.hpp"

namespace ferngate_testing {

using ferngate_dat::DatError;
using ferngate_dat::IoError;

std::expected<std::vector<std::uint8_t>, DatError> reference_read_chain(
    std::span<const std::uint8_t> file, std::uint32_t block_size, std::uint32_t offset,
    std::uint32_t size) {
  if (size == 0) return std::vector<std::uint8_t>{};
  if (size > file.size()) return std::unexpected(DatError(IoError::short_read()));
  const auto read = [file](std::uint64_t at, std::size_t count) {
    return at + count <= file.size() ? std::optional(file.subspan(at, count)) : std::nullopt;
  };
  std::vector<std::uint8_t> out;
  std::vector<std::uint64_t> visited;
  std::uint64_t current = offset;
  while (out.size() < size) {
    const auto link = read(current, 4);
    if (!link) return std::unexpected(DatError(IoError::short_read()));
    const std::uint32_t next = get_u32(*link, 0);
    const std::size_t left = size - out.size();
    const auto payload =
        read(current + 4, next == 0 ? left : std::min<std::size_t>(left, block_size - 4));
    if (!payload) return std::unexpected(DatError(IoError::short_read()));
    out.insert(out.end(), payload->begin(), payload->end());
    visited.push_back(current);
    current = next;
  }
  std::sort(visited.begin(), visited.end());
  if (const auto again = std::adjacent_find(visited.begin(), visited.end());
      again != visited.end()) {
    return std::unexpected(DatError::corruption(fmt::format(
        "block chain from offset 0x{:08X} passes the block at 0x{:08X} twice", offset, *again)));
  }
  return out;
}

}  // namespace ferngate_testing
