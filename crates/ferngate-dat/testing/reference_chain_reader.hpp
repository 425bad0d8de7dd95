// The plain way to read a stored file's block chain: two positioned reads per block, the link
// word and then the payload, on the archive's bytes in memory. The library's reader groups its
// reads however it likes but must give exactly these bytes and these errors; the tests and the
// archive fuzz target compare the two.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "error.hpp"

namespace ferngate_testing {

/// The `size` bytes of the chain starting at `offset` in `file`, read block by block with blocks
/// of `block_size` bytes; a link word or payload past the end of `file` is a short read, and a
/// chain that passes a block twice is corrupt.
[[nodiscard]] std::expected<std::vector<std::uint8_t>, ferngate_dat::DatError> reference_read_chain(
    std::span<const std::uint8_t> file, std::uint32_t block_size, std::uint32_t offset,
    std::uint32_t size);

}  // namespace ferngate_testing
