// The three DXT decoders on arbitrary block data and bounded dimensions, compared byte for byte
// with the plain per-texel reference decoders, through each block kernel (scalar, SSSE3, AVX2).
//
// Input: width (2 bytes), height (2 bytes), a selector byte, then the block data. Both sides are
// bounded; the height also by the rows of blocks the data fills. The selector
// picks the decoder (selector % 3: DXT1, DXT3, DXT5) and the kernel ((selector / 3) % 3: scalar,
// SSSE3, AVX2; the scalar one where the processor lacks the kernel picked). At exit the number of
// inputs run through each kernel is printed.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "file_type/dxt.hpp"
#include "file_type/dxt_kernels.hpp"
#include "reference_decoders.hpp"

namespace {

using ferngate_dat::dxt_detail::KernelId;

constexpr std::uint32_t kMaxSide = 300;  // edge blocks of every shape, and still fast

struct KernelRuns {
  std::array<unsigned long long, 3> counts{};
  ~KernelRuns() {
    std::fprintf(stderr, "fuzz_dxt: inputs per kernel: scalar %llu, ssse3 %llu, avx2 %llu\n",
                 counts[0], counts[1], counts[2]);
  }
};
KernelRuns runs;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const std::span<const std::uint8_t> blocks(data + 5, size - 5);
  // The height stops two block rows below what the data fills: one row the data ends in and one
  // it does not reach. Taller images only add more missing blocks, and would slow every run.
  const std::size_t block_bytes = data[4] % 3 == 0 ? 8 : 16;
  const std::uint32_t width = (data[0] | data[1] << 8) % (kMaxSide + 1);
  const std::size_t blocks_per_row = std::max<std::size_t>(1, (width + 3) / 4);
  const std::size_t rows_given = blocks.size() / block_bytes / blocks_per_row + 2;
  const auto max_height =
      static_cast<std::uint32_t>(std::min<std::size_t>(kMaxSide, 4 * rows_given));
  const std::uint32_t height = (data[2] | data[3] << 8) % (max_height + 1);

  KernelId kernel = static_cast<KernelId>((data[4] / 3) % 3);
  if (!ferngate_dat::dxt_detail::use_kernel(kernel)) {
    kernel = KernelId::kScalar;
    ferngate_dat::dxt_detail::use_kernel(kernel);
  }
  ++runs.counts[static_cast<std::size_t>(kernel)];

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
    std::fprintf(stderr, "DXT decoder %d (kernel %d) differs from the reference at %ux%u\n",
                 data[4] % 3, static_cast<int>(kernel), width, height);
    std::abort();
  }
  return 0;
}
