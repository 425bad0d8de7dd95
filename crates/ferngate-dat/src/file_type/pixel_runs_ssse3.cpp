// The SSSE3 forms of the byte-reordering pixel runs: one byte shuffle puts four stored pixels in
// RGBA order. Only this file is built for SSSE3; pixel_runs.cpp calls it where the processor
// has it.
#include "file_type/pixel_runs.hpp"

#include <tmmintrin.h>

namespace ferngate_dat::pixel_runs::ssse3 {

namespace {

__m128i load128(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
void store128(std::uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Three-byte pixels: `order` moves the first 12 bytes of a load (four pixels) to their output
// places and zeroes the alpha bytes, which are then set. A 16-byte load reads four bytes past
// the pixels it converts, so the loops stop where such a load would pass the end of the input;
// the last pixels go through `tail`.
void widen_three(const std::uint8_t* in, std::uint8_t* out, std::size_t count, __m128i order,
                 void (*tail)(const std::uint8_t*, std::uint8_t*, std::size_t)) {
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000U));
  const auto four = [&](std::size_t i) {
    store128(out + 4 * i, _mm_or_si128(_mm_shuffle_epi8(load128(in + 3 * i), order), alpha));
  };
  std::size_t i = 0;
  // Sixteen pixels: the last load starts at pixel i + 12 and ends 52 bytes after pixel i.
  for (; i + 18 <= count; i += 16) {
    four(i);
    four(i + 4);
    four(i + 8);
    four(i + 12);
  }
  for (; i + 6 <= count; i += 4) four(i);
  tail(in + 3 * i, out + 4 * i, count - i);
}

}  // namespace

void bgr(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  widen_three(in, out, count, _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1),
              portable::bgr);
}

void rgb(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  widen_three(in, out, count, _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1),
              portable::rgb);
}

void bgra(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
  std::size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    for (std::size_t k = 0; k < 16; k += 4) {
      store128(out + 4 * (i + k), _mm_shuffle_epi8(load128(in + 4 * (i + k)), order));
    }
  }
  for (; i + 4 <= count; i += 4) {
    store128(out + 4 * i, _mm_shuffle_epi8(load128(in + 4 * i), order));
  }
  portable::bgra(in + 4 * i, out + 4 * i, count - i);
}

}  // namespace ferngate_dat::pixel_runs::ssse3
