// Plain reference decoders written straight from the algorithms, one byte or one texel at a
// time with no shortcuts. The fuzz targets compare the library's decoders against them, and the
// benchmarks measure how far the library's decoders are ahead of them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace ferngate_testing {

/// The compressed-file decoder, one token and one copied byte at a time.
[[nodiscard]] std::vector<std::uint8_t> reference_decompress_lrs(
    std::span<const std::uint8_t> input);

/// The DXT decoders, every texel decoded on its own from its block's bytes.
[[nodiscard]] std::vector<std::uint8_t> reference_decompress_dxt1(
    std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height);
[[nodiscard]] std::vector<std::uint8_t> reference_decompress_dxt3(
    std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height);
[[nodiscard]] std::vector<std::uint8_t> reference_decompress_dxt5(
    std::span<const std::uint8_t> data, std::uint32_t width, std::uint32_t height);

}  // namespace ferngate_testing
