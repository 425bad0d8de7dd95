// Texture::unpack and to_rgba8 on arbitrary records, with palettes of varying size or a failing
// palette lookup.
//
// Input: the palette size (2 bytes; 0xFFFF makes the lookup fail), then the stored record.
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const ferngate_fuzz::FuzzPalettes palettes{static_cast<std::uint16_t>(data[0] | data[1] << 8)};
  const auto texture = ferngate_dat::Texture::unpack({data + 2, size - 2});
  if (texture) ferngate_fuzz::convert_and_check(*texture, palettes);
  return 0;
}
