// The AVX2 block kernels, compiled with -mavx2 and run only on processors that have it.
//
// Blocks go eight at a time. The colour palettes of all eight are computed together in 16-bit
// lanes, one lane per end point, and end up as four registers of two palettes each (block 2k in
// the low 128-bit half, block 2k + 1 in the high half), four RGBA words per palette. Each row of
// a pair of blocks is then one variable in-lane permute of those words (vpermilps reads only the
// low two bits of each control word, so the control is the lookup word shifted right) and one
// 32-byte store. DXT3 and DXT5 alphas are made per pair of blocks, 16 bytes per block in texel
// order, and moved into byte 3 of each texel with a byte shuffle.
//
// Everything here has internal linkage and takes raw pointers: see dxt_kernels.hpp.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "file_type/dxt_group_runs.hpp"
#include "file_type/dxt_kernels.hpp"

namespace ferngate_dat::dxt_detail {
namespace {

enum class Format { kDxt1, kDxt3, kDxt5 };

constexpr std::size_t kGroup = 8;  // blocks decoded together

[[nodiscard]] constexpr std::size_t block_size(Format format) {
  return format == Format::kDxt1 ? 8 : 16;
}

// Four palettes (two per register) from the end points of eight blocks.
// `c`: 16-bit lanes, c0 then c1 of one block in each 32-bit word; words 0-3 hold blocks 0, 2, 4,
// 6 and words 4-7 blocks 1, 3, 5, 7. Palette words are RGBA; for DXT3 and DXT5 their alpha is 0.
template <Format F>
[[gnu::always_inline]] inline void palettes(__m256i c, __m256i (&pal)[4]) {
  // Channel fields moved to the top of 15 bits, then expanded with one rounding high multiply:
  // (x * m + 2^14) >> 15 with x = v << 10 (5 bits) or v << 9 (6 bits); see dxt_kernels.hpp.
  const __m256i red =
      _mm256_mulhrs_epi16(_mm256_and_si256(_mm256_srli_epi16(c, 1), _mm256_set1_epi16(0x7C00)),
                          _mm256_set1_epi16(static_cast<short>(kExpand5Multiplier)));
  const __m256i green =
      _mm256_mulhrs_epi16(_mm256_and_si256(_mm256_slli_epi16(c, 4), _mm256_set1_epi16(0x7E00)),
                          _mm256_set1_epi16(static_cast<short>(kExpand6Multiplier)));
  const __m256i blue =
      _mm256_mulhrs_epi16(_mm256_and_si256(_mm256_slli_epi16(c, 10), _mm256_set1_epi16(0x7C00)),
                          _mm256_set1_epi16(static_cast<short>(kExpand5Multiplier)));

  // In each 32-bit word, the low lane becomes palette entry 2 and the high lane entry 3:
  // (2 * ch0 + ch1) / 3 and (ch0 + 2 * ch1) / 3, the division by multiplying by 21846 and keeping
  // the high 16 bits. DXT1 blocks with c0 <= c1 take (ch0 + ch1) / 2 and transparent black.
  const __m256i swap_lanes = _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13,
                                              2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
  const __m256i div3 = _mm256_set1_epi16(static_cast<short>(kDiv3Multiplier));
  __m256i four_colours = _mm256_setzero_si256();
  if constexpr (F == Format::kDxt1) {
    four_colours = _mm256_cmpgt_epi32(_mm256_and_si256(c, _mm256_set1_epi32(0xFFFF)),
                                      _mm256_srli_epi32(c, 16));
  }
  auto interpolate = [&](__m256i e) {
    const __m256i sum = _mm256_add_epi16(e, _mm256_shuffle_epi8(e, swap_lanes));
    const __m256i thirds = _mm256_mulhi_epu16(_mm256_add_epi16(e, sum), div3);
    if constexpr (F == Format::kDxt1) {
      return _mm256_blendv_epi8(_mm256_srli_epi16(sum, 1), thirds, four_colours);
    } else {
      return thirds;
    }
  };
  const __m256i red_23 = interpolate(red);
  const __m256i green_23 = interpolate(green);
  const __m256i blue_23 = interpolate(blue);

  __m256i rg_01 = _mm256_or_si256(red, _mm256_slli_epi16(green, 8));
  __m256i ba_01 = blue;
  __m256i rg_23 = _mm256_or_si256(red_23, _mm256_slli_epi16(green_23, 8));
  __m256i ba_23 = blue_23;
  if constexpr (F == Format::kDxt1) {
    const __m256i opaque = _mm256_set1_epi16(static_cast<short>(0xFF00));
    ba_01 = _mm256_or_si256(ba_01, opaque);
    // Entry 3 of a three-colour block is all zero: keep only entry 2's lane there.
    const __m256i keep = _mm256_or_si256(four_colours, _mm256_set1_epi32(0xFFFF));
    rg_23 = _mm256_and_si256(rg_23, keep);
    ba_23 = _mm256_and_si256(_mm256_or_si256(ba_23, opaque), keep);
  }
  const __m256i e_lo = _mm256_unpacklo_epi16(rg_01, ba_01);  // entries 0, 1 of words 0, 1
  const __m256i e_hi = _mm256_unpackhi_epi16(rg_01, ba_01);  // words 2, 3
  const __m256i p_lo = _mm256_unpacklo_epi16(rg_23, ba_23);  // entries 2, 3 of words 0, 1
  const __m256i p_hi = _mm256_unpackhi_epi16(rg_23, ba_23);
  pal[0] = _mm256_unpacklo_epi64(e_lo, p_lo);  // blocks 0 | 1
  pal[1] = _mm256_unpackhi_epi64(e_lo, p_lo);  // blocks 2 | 3
  pal[2] = _mm256_unpacklo_epi64(e_hi, p_hi);  // blocks 4 | 5
  pal[3] = _mm256_unpackhi_epi64(e_hi, p_hi);  // blocks 6 | 7
}

// The 16 alphas of each of two DXT3 blocks (`pair`: one block per 128-bit half), in texel order:
// low nibble of byte i / 2 for even i, high nibble for odd i, times 17.
[[nodiscard, gnu::always_inline]] inline __m256i dxt3_alphas(__m256i pair) {
  const __m256i nibble_mask = _mm256_set1_epi8(0x0F);
  const __m256i low = _mm256_and_si256(pair, nibble_mask);
  const __m256i high = _mm256_and_si256(_mm256_srli_epi16(pair, 4), nibble_mask);
  const __m256i nibbles = _mm256_unpacklo_epi8(low, high);
  return _mm256_or_si256(nibbles, _mm256_slli_epi16(nibbles, 4));  // n | n << 4 (n < 16)
}

// The 16 alphas of each of two DXT5 blocks, in texel order.
[[nodiscard, gnu::always_inline]] inline __m256i dxt5_alphas(__m256i pair) {
  // Alpha palette entry k in 16-bit lane k: w0 * alpha0 + w1 * alpha1 (one multiply-add of the
  // byte pair alpha0, alpha1 with the weights), then divided by 7 or 5 by multiplying and
  // keeping the high 16 bits. With the divisor as weight, entries 0 and 1 come out as alpha0 and
  // alpha1; with weights 0, entry 6 of the fifths is 0 and entry 7 is set to 255.
  const __m256i end_points =
      _mm256_shuffle_epi8(pair, _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0,
                                                 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1));
  const __m256i sevenths_weights = _mm256_setr_epi8(7, 0, 0, 7, 6, 1, 5, 2, 4, 3, 3, 4, 2, 5, 1, 6,
                                                    7, 0, 0, 7, 6, 1, 5, 2, 4, 3, 3, 4, 2, 5, 1, 6);
  const __m256i fifths_weights = _mm256_setr_epi8(5, 0, 0, 5, 4, 1, 3, 2, 2, 3, 1, 4, 0, 0, 0, 0, 5,
                                                  0, 0, 5, 4, 1, 3, 2, 2, 3, 1, 4, 0, 0, 0, 0);
  const __m256i sevenths =
      _mm256_mulhi_epu16(_mm256_maddubs_epi16(end_points, sevenths_weights),
                         _mm256_set1_epi16(static_cast<short>(kDiv7Multiplier)));
  const __m256i fifths =
      _mm256_or_si256(_mm256_mulhi_epu16(_mm256_maddubs_epi16(end_points, fifths_weights),
                                         _mm256_set1_epi16(static_cast<short>(kDiv5Multiplier))),
                      _mm256_setr_epi16(0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 255));
  // alpha0 - alpha1 > 0 picks the sevenths.
  const __m256i difference =
      _mm256_maddubs_epi16(end_points, _mm256_set1_epi16(static_cast<short>(0xFF01)));
  const __m256i use_sevenths = _mm256_cmpgt_epi16(difference, _mm256_setzero_si256());
  const __m256i entries = _mm256_blendv_epi8(fifths, sevenths, use_sevenths);
  const __m256i palette = _mm256_packus_epi16(entries, entries);

  // Alpha index of texel t in 16-bit lane t (texels 0-7, then 8-15): the two bytes holding bits
  // 3t..3t+2 of the 48-bit field (bytes 2-7 of the block), multiplied so that those bits become
  // bits 13-15, then shifted down.
  const __m256i first_bytes = _mm256_setr_epi8(2, 3, 2, 3, 2, 3, 3, 4, 3, 4, 3, 4, 4, 5, 4, 5, 2, 3,
                                               2, 3, 2, 3, 3, 4, 3, 4, 3, 4, 4, 5, 4, 5);
  const __m256i second_bytes = _mm256_add_epi8(first_bytes, _mm256_set1_epi8(3));
  const __m256i to_top =
      _mm256_setr_epi16(1 << 13, 1 << 10, 1 << 7, 1 << 12, 1 << 9, 1 << 6, 1 << 11, 1 << 8, 1 << 13,
                        1 << 10, 1 << 7, 1 << 12, 1 << 9, 1 << 6, 1 << 11, 1 << 8);
  const __m256i first =
      _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_shuffle_epi8(pair, first_bytes), to_top), 13);
  const __m256i second =
      _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_shuffle_epi8(pair, second_bytes), to_top), 13);
  return _mm256_shuffle_epi8(palette, _mm256_packus_epi16(first, second));
}

// Byte shuffle that puts alphas 4r..4r+3 (of 16 in texel order) into byte 3 of the four texels
// of row r and zeroes the rest.
[[nodiscard, gnu::always_inline]] inline __m256i alpha_row_shuffle(int r) {
  const auto a = static_cast<char>(4 * r);
  const char z = static_cast<char>(0x80);
  return _mm256_setr_epi8(z, z, z, a, z, z, z, static_cast<char>(a + 1), z, z, z,
                          static_cast<char>(a + 2), z, z, z, static_cast<char>(a + 3), z, z, z, a,
                          z, z, z, static_cast<char>(a + 1), z, z, z, static_cast<char>(a + 2), z,
                          z, z, static_cast<char>(a + 3));
}

// Decodes blocks 0-7 at `src` to 4 rows of 8 tiles at `dst`.
template <Format F>
[[gnu::always_inline]] inline void decode_group(const std::uint8_t* src, std::uint8_t* dst,
                                                std::size_t stride) {
  __m256i x;  // colour blocks of blocks 0, 2 | 1, 3
  __m256i y;  // colour blocks of blocks 4, 6 | 5, 7
  __m256i whole[4];
  if constexpr (F == Format::kDxt1) {
    x = _mm256_permute4x64_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src)), 0xD8);
    y = _mm256_permute4x64_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 32)),
                                 0xD8);
  } else {
#pragma GCC unroll 4
    for (std::size_t k = 0; k < 4; ++k) {
      whole[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 32 * k));
    }
    x = _mm256_unpackhi_epi64(whole[0], whole[1]);
    y = _mm256_unpackhi_epi64(whole[2], whole[3]);
  }
  const __m256i c = _mm256_castps_si256(
      _mm256_shuffle_ps(_mm256_castsi256_ps(x), _mm256_castsi256_ps(y), _MM_SHUFFLE(2, 0, 2, 0)));
  const __m256i lookups = _mm256_castps_si256(
      _mm256_shuffle_ps(_mm256_castsi256_ps(x), _mm256_castsi256_ps(y), _MM_SHUFFLE(3, 1, 3, 1)));
  __m256i pal[4];
  palettes<F>(c, pal);

  // Right shifts that bring the index of texel c of row r to bits 0-1: 8r + 2c.
  const __m256i shift0 = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
  const __m256i eight = _mm256_set1_epi32(8);
#pragma GCC unroll 4
  for (std::size_t k = 0; k < 4; ++k) {
    __m256i lookup;
    switch (k) {  // the lookup word of blocks 2k | 2k + 1 in every word of its half
      case 0:
        lookup = _mm256_shuffle_epi32(lookups, 0x00);
        break;
      case 1:
        lookup = _mm256_shuffle_epi32(lookups, 0x55);
        break;
      case 2:
        lookup = _mm256_shuffle_epi32(lookups, 0xAA);
        break;
      default:
        lookup = _mm256_shuffle_epi32(lookups, 0xFF);
        break;
    }
    __m256i alphas = _mm256_setzero_si256();
    if constexpr (F == Format::kDxt3) alphas = dxt3_alphas(whole[k]);
    if constexpr (F == Format::kDxt5) alphas = dxt5_alphas(whole[k]);
    const __m256 palette = _mm256_castsi256_ps(pal[k]);
    __m256i shift = shift0;
#pragma GCC unroll 4
    for (int r = 0; r < 4; ++r) {
      __m256i row =
          _mm256_castps_si256(_mm256_permutevar_ps(palette, _mm256_srlv_epi32(lookup, shift)));
      if constexpr (F != Format::kDxt1) {
        row = _mm256_or_si256(row, _mm256_shuffle_epi8(alphas, alpha_row_shuffle(r)));
      }
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + r * stride + 32 * k), row);
      shift = _mm256_add_epi32(shift, eight);
    }
  }
}

}  // namespace

// Constant-initialised, so the kernel choice may read it during another file's start-up; nothing
// runs to make it, so nothing can throw.
// NOLINTNEXTLINE(cert-err58-cpp)
constinit const Kernel kAvx2Kernel = {
    run_in_groups<kGroup, block_size(Format::kDxt1), decode_group<Format::kDxt1>>,
    run_in_groups<kGroup, block_size(Format::kDxt3), decode_group<Format::kDxt3>>,
    run_in_groups<kGroup, block_size(Format::kDxt5), decode_group<Format::kDxt5>>,
};

}  // namespace ferngate_dat::dxt_detail
