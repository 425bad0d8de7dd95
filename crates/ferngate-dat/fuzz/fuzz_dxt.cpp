// The three DXT decoders on arbitrary block data and bounded dimensions, compared byte for byte
// with the plain per-texel reference decoders.
//
// Input: width (2 bytes), height (2 bytes), a selector byte, then the block data.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "file_type/dxt.hpp"
#include "reference_decoders.hpp"

namespace {

constexpr std::uint32_t kMaxSide = 300;  // edge blocks of every shape, and still fast

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const std::uint32_t width = (data[0] | data[1] << 8) % (kMaxSide + 1);
  const std::uint32_t height = (data[2] | data[3] << 8) % (kMaxSide + 1);
  const std::span<const std::uint8_t> blocks(data + 5, size - 5);

  std::vector<std::uint8_t> fast;
  std::vector<std::uint8_t> plain;
  switch (data[4] % 3) {
    case 0:
      fast = ferngate_dat::decompress_dxt1(blocks, width, height);
      plain = ferngate_testing::reference_decompress_dxt1(blocks, width, height);
      break;
    case 1:
      fast = ferngate_dat::decompress_dxt3(blocks, width, height);
      plain = ferngate_testing::reference_decompress_dxt3(blocks, width, height);
      break;
    default:
      fast = ferngate_dat::decompress_dxt5(blocks, width, height);
      plain = ferngate_testing::reference_decompress_dxt5(blocks, width, height);
      break;
  }
  if (fast != plain) {
    std::fprintf(stderr, "DXT decoder %d differs from the reference at %ux%u\n", data[4] % 3, width,
                 height);
    std::abort();
  }
  return 0;
}
