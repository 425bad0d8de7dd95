// decompress_lrs on arbitrary payloads, compared byte for byte with the plain reference decoder.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "reference_decoders.hpp"
#include "utils.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  const auto fast = ferngate_dat::decompress_lrs(input);
  const auto plain = ferngate_testing::reference_decompress_lrs(input);
  if (fast != plain) {
    std::fprintf(stderr, "decompress_lrs differs from the reference: %zu vs %zu bytes\n",
                 fast.size(), plain.size());
    std::abort();
  }
  return 0;
}
