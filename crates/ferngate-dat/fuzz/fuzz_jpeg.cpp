// The JPEG-backed format: arbitrary bytes as the stream of a CustomRawJpeg texture.
//
// Input: the record's width and height (2 bytes each), then the stream.
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  ferngate_dat::Texture texture;
  texture.width = data[0] | data[1] << 8;
  texture.height = data[2] | data[3] << 8;
  texture.format_raw = 500;
  texture.source_data.assign(data + 4, data + size);
  texture.length = static_cast<std::int32_t>(texture.source_data.size());
  ferngate_fuzz::convert_and_check(texture, {});
  return 0;
}
