// The SSSE3 block kernels, compiled with -mssse3 and run only on processors that have it (and
// not AVX2, unless chosen).
//
// Blocks go four at a time. The colour palettes of all four are computed together in 16-bit
// lanes, one lane per end point, and end up as one register per block holding its four RGBA
// palette words. Each row of a block is one byte shuffle of its palette, the shuffle control
// for the row's index byte taken from a table, and one 16-byte store. DXT3 and DXT5 alphas are
// made per block, 16 bytes in texel order, and moved into byte 3 of each texel with a byte
// shuffle.
//
// Everything here has internal linkage and takes raw pointers: see dxt_kernels.hpp.
#include <tmmintrin.h>

#include <cstddef>
#include <cstdint>

#include "file_type/dxt_group_runs.hpp"
#include "file_type/dxt_kernels.hpp"

namespace ferngate_dat::dxt_detail {
namespace {

enum class Format { kDxt1, kDxt3, kDxt5 };

constexpr std::size_t kGroup = 4;  // blocks decoded together

[[nodiscard]] constexpr std::size_t block_size(Format format) {
  return format == Format::kDxt1 ? 8 : 16;
}

// Row shuffles: entry v is the byte shuffle that turns a palette register into the row whose
// index byte is v (texel c uses palette word (v >> 2c) & 3).
struct RowShuffles {
  alignas(16) std::uint8_t control[256][16];
};

constexpr RowShuffles make_row_shuffles() {
  RowShuffles table{};
  for (unsigned v = 0; v < 256; ++v) {
    for (unsigned c = 0; c < 4; ++c) {
      const unsigned index = (v >> (2 * c)) & 3;
      for (unsigned j = 0; j < 4; ++j) {
        table.control[v][4 * c + j] = static_cast<std::uint8_t>(4 * index + j);
      }
    }
  }
  return table;
}

constexpr RowShuffles kRowShuffles = make_row_shuffles();

[[nodiscard, gnu::always_inline]] inline __m128i select(__m128i mask, __m128i if_set,
                                                        __m128i if_clear) {
  return _mm_or_si128(_mm_and_si128(mask, if_set), _mm_andnot_si128(mask, if_clear));
}

// Four palettes from the end points of four blocks. `c`: 16-bit lanes, c0 then c1 of block k in
// 32-bit word k. Palette words are RGBA; for DXT3 and DXT5 their alpha is 0.
template <Format F>
[[gnu::always_inline]] inline void palettes(__m128i c, __m128i (&pal)[4]) {
  // Channel fields moved to the top of 15 bits, then expanded with one rounding high multiply:
  // (x * m + 2^14) >> 15 with x = v << 10 (5 bits) or v << 9 (6 bits); see dxt_kernels.hpp.
  const __m128i red = _mm_mulhrs_epi16(_mm_and_si128(_mm_srli_epi16(c, 1), _mm_set1_epi16(0x7C00)),
                                       _mm_set1_epi16(static_cast<short>(kExpand5Multiplier)));
  const __m128i green =
      _mm_mulhrs_epi16(_mm_and_si128(_mm_slli_epi16(c, 4), _mm_set1_epi16(0x7E00)),
                       _mm_set1_epi16(static_cast<short>(kExpand6Multiplier)));
  const __m128i blue =
      _mm_mulhrs_epi16(_mm_and_si128(_mm_slli_epi16(c, 10), _mm_set1_epi16(0x7C00)),
                       _mm_set1_epi16(static_cast<short>(kExpand5Multiplier)));

  // In each 32-bit word, the low lane becomes palette entry 2 and the high lane entry 3:
  // (2 * ch0 + ch1) / 3 and (ch0 + 2 * ch1) / 3, the division by multiplying by 21846 and keeping
  // the high 16 bits. DXT1 blocks with c0 <= c1 take (ch0 + ch1) / 2 and transparent black.
  const __m128i swap_lanes = _mm_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
  const __m128i div3 = _mm_set1_epi16(static_cast<short>(kDiv3Multiplier));
  __m128i four_colours = _mm_setzero_si128();
  if constexpr (F == Format::kDxt1) {
    four_colours = _mm_cmpgt_epi32(_mm_and_si128(c, _mm_set1_epi32(0xFFFF)), _mm_srli_epi32(c, 16));
  }
  auto interpolate = [&](__m128i e) {
    const __m128i sum = _mm_add_epi16(e, _mm_shuffle_epi8(e, swap_lanes));
    const __m128i thirds = _mm_mulhi_epu16(_mm_add_epi16(e, sum), div3);
    if constexpr (F == Format::kDxt1) {
      return select(four_colours, thirds, _mm_srli_epi16(sum, 1));
    } else {
      return thirds;
    }
  };
  const __m128i red_23 = interpolate(red);
  const __m128i green_23 = interpolate(green);
  const __m128i blue_23 = interpolate(blue);

  __m128i rg_01 = _mm_or_si128(red, _mm_slli_epi16(green, 8));
  __m128i ba_01 = blue;
  __m128i rg_23 = _mm_or_si128(red_23, _mm_slli_epi16(green_23, 8));
  __m128i ba_23 = blue_23;
  if constexpr (F == Format::kDxt1) {
    const __m128i opaque = _mm_set1_epi16(static_cast<short>(0xFF00));
    ba_01 = _mm_or_si128(ba_01, opaque);
    // Entry 3 of a three-colour block is all zero: keep only entry 2's lane there.
    const __m128i keep = _mm_or_si128(four_colours, _mm_set1_epi32(0xFFFF));
    rg_23 = _mm_and_si128(rg_23, keep);
    ba_23 = _mm_and_si128(_mm_or_si128(ba_23, opaque), keep);
  }
  const __m128i e_lo = _mm_unpacklo_epi16(rg_01, ba_01);  // entries 0, 1 of blocks 0, 1
  const __m128i e_hi = _mm_unpackhi_epi16(rg_01, ba_01);  // blocks 2, 3
  const __m128i p_lo = _mm_unpacklo_epi16(rg_23, ba_23);  // entries 2, 3 of blocks 0, 1
  const __m128i p_hi = _mm_unpackhi_epi16(rg_23, ba_23);
  pal[0] = _mm_unpacklo_epi64(e_lo, p_lo);
  pal[1] = _mm_unpackhi_epi64(e_lo, p_lo);
  pal[2] = _mm_unpacklo_epi64(e_hi, p_hi);
  pal[3] = _mm_unpackhi_epi64(e_hi, p_hi);
}

// The 16 alphas of a DXT3 block, in texel order: low nibble of byte i / 2 for even i, high
// nibble for odd i, times 17.
[[nodiscard, gnu::always_inline]] inline __m128i dxt3_alphas(__m128i block) {
  const __m128i nibble_mask = _mm_set1_epi8(0x0F);
  const __m128i low = _mm_and_si128(block, nibble_mask);
  const __m128i high = _mm_and_si128(_mm_srli_epi16(block, 4), nibble_mask);
  const __m128i nibbles = _mm_unpacklo_epi8(low, high);
  return _mm_or_si128(nibbles, _mm_slli_epi16(nibbles, 4));  // n | n << 4 (n < 16)
}

// The 16 alphas of a DXT5 block, in texel order.
[[nodiscard, gnu::always_inline]] inline __m128i dxt5_alphas(__m128i block) {
  // Alpha palette entry k in 16-bit lane k: w0 * alpha0 + w1 * alpha1 (one multiply-add of the
  // byte pair alpha0, alpha1 with the weights), then divided by 7 or 5 by multiplying and
  // keeping the high 16 bits. With the divisor as weight, entries 0 and 1 come out as alpha0 and
  // alpha1; with weights 0, entry 6 of the fifths is 0 and entry 7 is set to 255.
  const __m128i end_points =
      _mm_shuffle_epi8(block, _mm_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1));
  const __m128i sevenths_weights = _mm_setr_epi8(7, 0, 0, 7, 6, 1, 5, 2, 4, 3, 3, 4, 2, 5, 1, 6);
  const __m128i fifths_weights = _mm_setr_epi8(5, 0, 0, 5, 4, 1, 3, 2, 2, 3, 1, 4, 0, 0, 0, 0);
  const __m128i sevenths = _mm_mulhi_epu16(_mm_maddubs_epi16(end_points, sevenths_weights),
                                           _mm_set1_epi16(static_cast<short>(kDiv7Multiplier)));
  const __m128i fifths =
      _mm_or_si128(_mm_mulhi_epu16(_mm_maddubs_epi16(end_points, fifths_weights),
                                   _mm_set1_epi16(static_cast<short>(kDiv5Multiplier))),
                   _mm_setr_epi16(0, 0, 0, 0, 0, 0, 0, 255));
  // alpha0 - alpha1 > 0 picks the sevenths.
  const __m128i difference =
      _mm_maddubs_epi16(end_points, _mm_set1_epi16(static_cast<short>(0xFF01)));
  const __m128i use_sevenths = _mm_cmpgt_epi16(difference, _mm_setzero_si128());
  const __m128i entries = select(use_sevenths, sevenths, fifths);
  const __m128i palette = _mm_packus_epi16(entries, entries);

  // Alpha index of texel t in 16-bit lane t (texels 0-7, then 8-15): the two bytes holding bits
  // 3t..3t+2 of the 48-bit field (bytes 2-7 of the block), multiplied so that those bits become
  // bits 13-15, then shifted down.
  const __m128i first_bytes = _mm_setr_epi8(2, 3, 2, 3, 2, 3, 3, 4, 3, 4, 3, 4, 4, 5, 4, 5);
  const __m128i second_bytes = _mm_add_epi8(first_bytes, _mm_set1_epi8(3));
  const __m128i to_top =
      _mm_setr_epi16(1 << 13, 1 << 10, 1 << 7, 1 << 12, 1 << 9, 1 << 6, 1 << 11, 1 << 8);
  const __m128i first =
      _mm_srli_epi16(_mm_mullo_epi16(_mm_shuffle_epi8(block, first_bytes), to_top), 13);
  const __m128i second =
      _mm_srli_epi16(_mm_mullo_epi16(_mm_shuffle_epi8(block, second_bytes), to_top), 13);
  return _mm_shuffle_epi8(palette, _mm_packus_epi16(first, second));
}

// Byte shuffle that puts alphas 4r..4r+3 (of 16 in texel order) into byte 3 of the four texels
// of row r and zeroes the rest.
[[nodiscard, gnu::always_inline]] inline __m128i alpha_row_shuffle(int r) {
  const auto a = static_cast<char>(4 * r);
  const char z = static_cast<char>(0x80);
  return _mm_setr_epi8(z, z, z, a, z, z, z, static_cast<char>(a + 1), z, z, z,
                       static_cast<char>(a + 2), z, z, z, static_cast<char>(a + 3));
}

// Decodes blocks 0-3 at `src` to 4 rows of 4 tiles at `dst`.
template <Format F>
[[gnu::always_inline]] inline void decode_group(const std::uint8_t* src, std::uint8_t* dst,
                                                std::size_t stride) {
  constexpr std::size_t kBlockSize = block_size(F);
  constexpr std::size_t kColorOffset = F == Format::kDxt1 ? 0 : 8;
  __m128i c;
  __m128i whole[4];
  if constexpr (F == Format::kDxt1) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
    c = _mm_castps_si128(
        _mm_shuffle_ps(_mm_castsi128_ps(x), _mm_castsi128_ps(y), _MM_SHUFFLE(2, 0, 2, 0)));
  } else {
#pragma GCC unroll 4
    for (std::size_t k = 0; k < 4; ++k) {
      whole[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16 * k));
    }
    const __m128i x = _mm_unpackhi_epi64(whole[0], whole[1]);
    const __m128i y = _mm_unpackhi_epi64(whole[2], whole[3]);
    c = _mm_castps_si128(
        _mm_shuffle_ps(_mm_castsi128_ps(x), _mm_castsi128_ps(y), _MM_SHUFFLE(2, 0, 2, 0)));
  }
  __m128i pal[4];
  palettes<F>(c, pal);

#pragma GCC unroll 4
  for (std::size_t k = 0; k < 4; ++k) {
    const std::uint8_t* index_rows = src + k * kBlockSize + kColorOffset + 4;
    __m128i alphas = _mm_setzero_si128();
    if constexpr (F == Format::kDxt3) alphas = dxt3_alphas(whole[k]);
    if constexpr (F == Format::kDxt5) alphas = dxt5_alphas(whole[k]);
#pragma GCC unroll 4
    for (int r = 0; r < 4; ++r) {
      const __m128i control =
          _mm_load_si128(reinterpret_cast<const __m128i*>(kRowShuffles.control[index_rows[r]]));
      __m128i row = _mm_shuffle_epi8(pal[k], control);
      if constexpr (F != Format::kDxt1) {
        row = _mm_or_si128(row, _mm_shuffle_epi8(alphas, alpha_row_shuffle(r)));
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + r * stride + 16 * k), row);
    }
  }
}

}  // namespace

// Constant-initialised, so the kernel choice may read it during another file's start-up; nothing
// runs to make it, so nothing can throw.
// NOLINTNEXTLINE(cert-err58-cpp)
constinit const Kernel kSsse3Kernel = {
    run_in_groups<kGroup, block_size(Format::kDxt1), decode_group<Format::kDxt1>>,
    run_in_groups<kGroup, block_size(Format::kDxt3), decode_group<Format::kDxt3>>,
    run_in_groups<kGroup, block_size(Format::kDxt5), decode_group<Format::kDxt5>>,
};

}  // namespace ferngate_dat::dxt_detail
