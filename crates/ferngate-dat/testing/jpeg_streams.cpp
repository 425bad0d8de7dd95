#include "jpeg_streams.hpp"

#include <cstdlib>
#include <string>

namespace ferngate_testing {

std::vector<std::uint8_t> encode(const Encoding& e) {
  const int components = e.input == JCS_GRAYSCALE ? 1 : e.input == JCS_CMYK ? 4 : 3;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(e.width) * e.height * components);
  for (int y = 0; y < e.height; ++y) {
    for (int x = 0; x < e.width; ++x) {
      for (int c = 0; c < components; ++c) {
        pixels[(static_cast<std::size_t>(y) * e.width + x) * components + c] =
            static_cast<std::uint8_t>(x * (7 + c * 5) + y * (3 + c * 11) + ((x ^ y) & 8) * 9);
      }
    }
  }

  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);  // the compressor is only given valid input
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(e.width);
  cinfo.image_height = static_cast<JDIMENSION>(e.height);
  cinfo.input_components = components;
  cinfo.in_color_space = e.input;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 85, TRUE);
  if (e.stored) jpeg_set_colorspace(&cinfo, *e.stored);
  if (e.progressive) jpeg_simple_progression(&cinfo);
  if (!e.scans.empty()) {
    cinfo.scan_info = e.scans.data();
    cinfo.num_scans = static_cast<int>(e.scans.size());
  }
  cinfo.arith_code = e.arithmetic ? TRUE : FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row =
        pixels.data() + static_cast<std::size_t>(cinfo.next_scanline) * e.width * components;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<std::uint8_t> stream(buffer, buffer + size);
  std::free(buffer);
  return stream;
}

std::size_t find_segment(const std::vector<std::uint8_t>& stream, std::uint8_t code) {
  std::size_t pos = 2;
  while (pos + 4 <= stream.size() && stream[pos] == 0xFF) {
    if (stream[pos + 1] == code) return pos;
    pos += 2 + (stream[pos + 2] << 8 | stream[pos + 3]);
  }
  return std::string::npos;
}

std::vector<std::uint8_t> with_frame_size(std::vector<std::uint8_t> stream, std::uint16_t width,
                                          std::uint16_t height) {
  const std::size_t sof = find_segment(stream, 0xC0);
  if (sof == std::string::npos) return stream;
  stream[sof + 5] = static_cast<std::uint8_t>(height >> 8);
  stream[sof + 6] = static_cast<std::uint8_t>(height);
  stream[sof + 7] = static_cast<std::uint8_t>(width >> 8);
  stream[sof + 8] = static_cast<std::uint8_t>(width);
  return stream;
}

}  // namespace ferngate_testing
