// An encoder for the stored form of compressed files, the inverse of decompress_lrs: the output
// size, then groups of a control byte (most significant bit first, 1 = back-reference) and up to
// eight tokens, each a literal byte or a reference of a 12-bit offset and a 4-bit length + 2.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace ferngate_testing {

/// The compressed stored form of `data`. Greedy matching with hash chains: references overlap
/// their own output where the data repeats with a short period.
[[nodiscard]] std::vector<std::uint8_t> compress_lrs(std::span<const std::uint8_t> data);

}  // namespace ferngate_testing
