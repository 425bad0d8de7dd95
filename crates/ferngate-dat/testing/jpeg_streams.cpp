#include "jpeg_streams.hpp"

#include <csetjmp>
#include <cstdlib>
#include <string>

namespace ferngate_testing {

std::vector<std::uint8_t> encode(const Encoding& e) {
  const int components = components_of(e.input);
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(e.width) * e.height * components);
  for (int y = 0; y < e.height; ++y) {
    for (int x = 0; x < e.width; ++x) {
      for (int c = 0; c < components; ++c) {
        pixels[(static_cast<std::size_t>(y) * e.width + x) * components + c] =
            static_cast<std::uint8_t>(x * (7 + c * 5) + y * (3 + c * 11) + ((x ^ y) & 8) * 9);
      }
    }
  }

  return compress_jpeg(e, pixels).value_or(std::vector<std::uint8_t>{});
}

namespace {

// libjpeg reports errors by calling error_exit, which must not return: jump back to the caller.
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

[[noreturn]] void on_error_exit(j_common_ptr cinfo) {
  // compress_rows holds no object with a destructor, so the jump skips nothing that must run.
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);  // NOLINT(cert-err52-cpp)
}

void on_output_message(j_common_ptr /*cinfo*/) {}

// Compresses into a malloc'ed buffer. Holds no C++ object, which a longjmp would skip past.
bool compress_rows(const Encoding& e, const std::uint8_t* pixels, int components,
                   unsigned char** stream, unsigned long* stream_size) {
  jpeg_compress_struct cinfo;
  ErrorManager errors;
  cinfo.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = on_error_exit;
  errors.base.output_message = on_output_message;
  if (setjmp(errors.jump) != 0) {  // NOLINT(cert-err52-cpp): see on_error_exit
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, stream, stream_size);
  cinfo.image_width = static_cast<JDIMENSION>(e.width);
  cinfo.image_height = static_cast<JDIMENSION>(e.height);
  cinfo.input_components = components;
  cinfo.in_color_space = e.input;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, e.quality, TRUE);
  if (e.stored) jpeg_set_colorspace(&cinfo, *e.stored);
  if (e.progressive) jpeg_simple_progression(&cinfo);
  if (!e.scans.empty()) {
    cinfo.scan_info = e.scans.data();
    cinfo.num_scans = static_cast<int>(e.scans.size());
  }
  cinfo.arith_code = e.arithmetic ? TRUE : FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  const std::size_t stride =
      static_cast<std::size_t>(e.width) * static_cast<std::size_t>(components);
  while (cinfo.next_scanline < cinfo.image_height) {
    auto row = const_cast<JSAMPROW>(pixels + cinfo.next_scanline * stride);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

int components_of(J_COLOR_SPACE space) {
  switch (space) {
    case JCS_GRAYSCALE:
      return 1;
    case JCS_CMYK:
      return 4;
    default:
      return 3;
  }
}

std::optional<std::vector<std::uint8_t>> compress_jpeg(const Encoding& e,
                                                       std::span<const std::uint8_t> pixels) {
  const int components = components_of(e.input);
  if (pixels.size() < static_cast<std::size_t>(e.width) * e.height * components)
    return std::nullopt;
  unsigned char* stream = nullptr;
  unsigned long stream_size = 0;
  // After a failure the destination may already have handed its buffer on; the pointer is left
  // alone rather than freed twice (a failure means out of memory).
  if (!compress_rows(e, pixels.data(), components, &stream, &stream_size) || stream == nullptr) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(stream, stream + stream_size);
  std::free(stream);
  return bytes;
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
