#include "file_type/pixel_runs.hpp"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ferngate_dat::pixel_runs {

namespace {

// Where the machine is little-endian, 3-byte pixels go through words: a stored pixel loaded as
// one, an output pixel composed as one with red in bits 0-7 and alpha in bits 24-31.
constexpr bool kWordPixels = std::endian::native == std::endian::little;
constexpr std::uint32_t kOpaque = 0xFF000000U;

std::uint32_t load_u32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

std::uint16_t load_u16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void store_rgba(std::uint8_t* p, std::uint32_t r, std::uint32_t g, std::uint32_t b,
                std::uint32_t a) {
  p[0] = static_cast<std::uint8_t>(r);
  p[1] = static_cast<std::uint8_t>(g);
  p[2] = static_cast<std::uint8_t>(b);
  p[3] = static_cast<std::uint8_t>(a);
}

#if defined(__SSE2__)
__m128i load128(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
void store128(std::uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Eight pixels from 16-bit lanes holding red | green << 8 and blue | alpha << 8.
void store_eight(std::uint8_t* out, __m128i red_green, __m128i blue_alpha) {
  store128(out, _mm_unpacklo_epi16(red_green, blue_alpha));
  store128(out + 16, _mm_unpackhi_epi16(red_green, blue_alpha));
}
#endif

}  // namespace

void grey(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  std::size_t i = 0;
#if defined(__SSE2__)
  // Sixteen pixels at a time: each sample doubled twice by unpacking with itself, alpha or-ed in.
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(kOpaque));
  for (; i + 16 <= count; i += 16) {
    const __m128i g = load128(in + i);
    const __m128i low = _mm_unpacklo_epi8(g, g);
    const __m128i high = _mm_unpackhi_epi8(g, g);
    std::uint8_t* o = out + 4 * i;
    store128(o, _mm_or_si128(_mm_unpacklo_epi16(low, low), alpha));
    store128(o + 16, _mm_or_si128(_mm_unpackhi_epi16(low, low), alpha));
    store128(o + 32, _mm_or_si128(_mm_unpacklo_epi16(high, high), alpha));
    store128(o + 48, _mm_or_si128(_mm_unpackhi_epi16(high, high), alpha));
  }
#endif
  for (; i < count; ++i) store_rgba(out + 4 * i, in[i], in[i], in[i], 0xFF);
}

void portable::bgr(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  // A word load takes the pixel and the first byte of the next, so the last pixel goes alone.
  std::size_t i = 0;
  for (; kWordPixels && i + 1 < count; ++i) {
    // Blue, green, red, next reversed is next, red, green, blue; shifted down, red comes first.
    const std::uint32_t word = std::byteswap(load_u32(in + 3 * i)) >> 8 | kOpaque;
    std::memcpy(out + 4 * i, &word, 4);
  }
  for (; i < count; ++i) store_rgba(out + 4 * i, in[3 * i + 2], in[3 * i + 1], in[3 * i], 0xFF);
}

void portable::rgb(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  std::size_t i = 0;
  for (; kWordPixels && i + 1 < count; ++i) {
    const std::uint32_t word = (load_u32(in + 3 * i) & 0xFFFFFF) | kOpaque;
    std::memcpy(out + 4 * i, &word, 4);
  }
  for (; i < count; ++i) store_rgba(out + 4 * i, in[3 * i], in[3 * i + 1], in[3 * i + 2], 0xFF);
}

void portable::bgra(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  std::size_t i = 0;
#if defined(__SSE2__)
  // Green and alpha stay; blue and red trade places.
  const __m128i green_alpha = _mm_set1_epi32(static_cast<int>(0xFF00FF00U));
  const __m128i low_byte = _mm_set1_epi32(0xFF);
  for (; i + 4 <= count; i += 4) {
    const __m128i v = load128(in + 4 * i);
    const __m128i red = _mm_and_si128(_mm_srli_epi32(v, 16), low_byte);
    const __m128i blue = _mm_slli_epi32(_mm_and_si128(v, low_byte), 16);
    store128(out + 4 * i, _mm_or_si128(_mm_and_si128(v, green_alpha), _mm_or_si128(red, blue)));
  }
#endif
  for (; i < count; ++i) {
    const std::uint8_t* p = in + 4 * i;
    store_rgba(out + 4 * i, p[2], p[1], p[0], p[3]);
  }
}

namespace {

// Whether the SSSE3 forms were built and the processor runs them; asked once.
bool use_ssse3() {
#if defined(FERNGATE_X86_PIXEL_RUNS)
  static const bool has = [] {
    __builtin_cpu_init();  // idempotent; needed when called before the runtime's constructors
    return __builtin_cpu_supports("ssse3") != 0;
  }();
  return has;
#else
  return false;
#endif
}

}  // namespace

void bgr(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  use_ssse3() ? ssse3::bgr(in, out, count) : portable::bgr(in, out, count);
}

void rgb(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  use_ssse3() ? ssse3::rgb(in, out, count) : portable::rgb(in, out, count);
}

void bgra(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  use_ssse3() ? ssse3::bgra(in, out, count) : portable::bgra(in, out, count);
}

void r5g6b5(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i mask5 = _mm_set1_epi16(0x1F);
  const __m128i mask6 = _mm_set1_epi16(0x3F);
  const __m128i opaque = _mm_set1_epi16(static_cast<short>(0xFF00));
  for (; i + 8 <= count; i += 8) {
    const __m128i v = load128(in + 2 * i);
    const __m128i r5 = _mm_srli_epi16(v, 11);
    const __m128i g6 = _mm_and_si128(_mm_srli_epi16(v, 5), mask6);
    const __m128i b5 = _mm_and_si128(v, mask5);
    const __m128i r = _mm_or_si128(_mm_slli_epi16(r5, 3), _mm_srli_epi16(r5, 2));
    const __m128i g = _mm_or_si128(_mm_slli_epi16(g6, 2), _mm_srli_epi16(g6, 4));
    const __m128i b = _mm_or_si128(_mm_slli_epi16(b5, 3), _mm_srli_epi16(b5, 2));
    store_eight(out + 4 * i, _mm_or_si128(r, _mm_slli_epi16(g, 8)), _mm_or_si128(b, opaque));
  }
#endif
  for (; i < count; ++i) {
    const unsigned v = load_u16(in + 2 * i);
    const unsigned r5 = v >> 11;
    const unsigned g6 = (v >> 5) & 0x3F;
    const unsigned b5 = v & 0x1F;
    store_rgba(out + 4 * i, r5 << 3 | r5 >> 2, g6 << 2 | g6 >> 4, b5 << 3 | b5 >> 2, 0xFF);
  }
}

void a4r4g4b4(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i mask4 = _mm_set1_epi16(0x0F);
  // n x 17 = n | n << 4 for a nibble n.
  const auto widen = [](__m128i n) { return _mm_or_si128(n, _mm_slli_epi16(n, 4)); };
  for (; i + 8 <= count; i += 8) {
    const __m128i v = load128(in + 2 * i);
    const __m128i a = widen(_mm_srli_epi16(v, 12));
    const __m128i r = widen(_mm_and_si128(_mm_srli_epi16(v, 8), mask4));
    const __m128i g = widen(_mm_and_si128(_mm_srli_epi16(v, 4), mask4));
    const __m128i b = widen(_mm_and_si128(v, mask4));
    store_eight(out + 4 * i, _mm_or_si128(r, _mm_slli_epi16(g, 8)),
                _mm_or_si128(b, _mm_slli_epi16(a, 8)));
  }
#endif
  for (; i < count; ++i) {
    const unsigned v = load_u16(in + 2 * i);
    store_rgba(out + 4 * i, ((v >> 8) & 0xF) * 17, ((v >> 4) & 0xF) * 17, (v & 0xF) * 17,
               (v >> 12) * 17);
  }
}

}  // namespace ferngate_dat::pixel_runs
