#include "file_type/dxt.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file_type/dxt_kernels.hpp"
#include "reference_decoders.hpp"

namespace ferngate_dat {
namespace dxt_detail {
// Test parameters print as the kernel's name.
void PrintTo(KernelId id, std::ostream* os) { *os << kernel_name(id); }
}  // namespace dxt_detail

namespace {

using dxt_detail::KernelId;

using Bytes = std::vector<std::uint8_t>;
using Rgba = std::array<std::uint8_t, 4>;
using Rgb = std::array<std::uint8_t, 3>;

constexpr std::uint16_t kRed = 0xF800;    // red field 31
constexpr std::uint16_t kBlue = 0x001F;   // blue field 31
constexpr std::uint16_t kWhite = 0xFFFF;  // every field at its maximum

// Every texel uses palette index i % 4 (0b11'10'01'00 per row).
constexpr std::uint32_t kIndexPerColumn = 0xE4E4E4E4;

constexpr Rgba kTransparent{0, 0, 0, 0};

// The lookup word that gives every texel palette index `index`.
constexpr std::uint32_t all_texels(std::uint32_t index) { return index * 0x55555555u; }

void append_le(Bytes& bytes, std::uint64_t value, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    bytes.push_back(static_cast<std::uint8_t>(value >> 8 * i));
}

Bytes color_block(std::uint16_t c0, std::uint16_t c1, std::uint32_t lookup) {
  Bytes b;
  append_le(b, c0, 2);
  append_le(b, c1, 2);
  append_le(b, lookup, 4);
  return b;
}

Bytes dxt3_block(const std::array<std::uint8_t, 8>& alphas, const Bytes& colors) {
  Bytes b(alphas.begin(), alphas.end());
  b.insert(b.end(), colors.begin(), colors.end());
  return b;
}

// `indices` is the 48-bit alpha index field: texel i in bits 3i..3i+2.
Bytes dxt5_block(std::uint8_t alpha0, std::uint8_t alpha1, std::uint64_t indices,
                 const Bytes& colors) {
  Bytes b{alpha0, alpha1};
  append_le(b, indices, 6);
  b.insert(b.end(), colors.begin(), colors.end());
  return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Rgba pixel(const Bytes& image, std::size_t width, std::size_t x, std::size_t y) {
  const std::size_t off = (y * width + x) * 4;
  return {image.at(off), image.at(off + 1), image.at(off + 2), image.at(off + 3)};
}

// Pixel i (row-major) of a decoded 4 x 4 image, that is texel i of its only block.
Rgba texel(const Bytes& image, std::size_t i) { return pixel(image, 4, i % 4, i / 4); }

enum class Format { kDxt1, kDxt3, kDxt5 };

Bytes decode(Format format, const Bytes& data, std::uint32_t width, std::uint32_t height) {
  switch (format) {
    case Format::kDxt1:
      return decompress_dxt1(data, width, height);
    case Format::kDxt3:
      return decompress_dxt3(data, width, height);
    case Format::kDxt5:
      return decompress_dxt5(data, width, height);
  }
  return {};
}

// A block of `format` whose colour part is `colors` and whose alpha part (if any) gives every
// texel alpha `alpha`.
Bytes opaque_block(Format format, const Bytes& colors, std::uint8_t alpha = 255) {
  switch (format) {
    case Format::kDxt1:
      return colors;
    case Format::kDxt3: {
      const auto nibble = static_cast<std::uint8_t>(alpha & 0x0F);
      const auto pair = static_cast<std::uint8_t>(nibble | nibble << 4);
      return dxt3_block({pair, pair, pair, pair, pair, pair, pair, pair}, colors);
    }
    case Format::kDxt5:
      return dxt5_block(alpha, alpha, 0, colors);
  }
  return {};
}

const char* name(Format format) {
  switch (format) {
    case Format::kDxt1:
      return "DXT1";
    case Format::kDxt3:
      return "DXT3";
    case Format::kDxt5:
      return "DXT5";
  }
  return "?";
}

constexpr std::array kAllFormats{Format::kDxt1, Format::kDxt3, Format::kDxt5};

// The decoder tests run once per block kernel (scalar, SSSE3, AVX2); each instance makes the
// decoders use its kernel, and is skipped where the processor lacks it.
class EveryKernel : public testing::TestWithParam<KernelId> {
 protected:
  void SetUp() override {
    if (!dxt_detail::use_kernel(GetParam())) GTEST_SKIP() << "this processor lacks the kernel";
  }
  void TearDown() override { dxt_detail::use_kernel(initial_); }

 private:
  KernelId initial_ = dxt_detail::active_kernel();
};

class DecompressDxt1 : public EveryKernel {};
class DecompressDxt3 : public EveryKernel {};
class DecompressDxt5 : public EveryKernel {};
class DecompressDxt3AndDxt5 : public EveryKernel {};
class DecompressBlocks : public EveryKernel {};

const auto kKernels = testing::Values(KernelId::kScalar, KernelId::kSsse3, KernelId::kAvx2);
std::string kernel_label(const testing::TestParamInfo<KernelId>& info) {
  return std::string(dxt_detail::kernel_name(info.param));
}
INSTANTIATE_TEST_SUITE_P(, DecompressDxt1, kKernels, kernel_label);
INSTANTIATE_TEST_SUITE_P(, DecompressDxt3, kKernels, kernel_label);
INSTANTIATE_TEST_SUITE_P(, DecompressDxt5, kKernels, kernel_label);
INSTANTIATE_TEST_SUITE_P(, DecompressDxt3AndDxt5, kKernels, kernel_label);
INSTANTIATE_TEST_SUITE_P(, DecompressBlocks, kKernels, kernel_label);

using Reference = std::function<Bytes(std::span<const std::uint8_t>, std::uint32_t, std::uint32_t)>;
Reference reference(Format format) {
  switch (format) {
    case Format::kDxt1:
      return ferngate_testing::reference_decompress_dxt1;
    case Format::kDxt3:
      return ferngate_testing::reference_decompress_dxt3;
    case Format::kDxt5:
      return ferngate_testing::reference_decompress_dxt5;
  }
  return {};
}

std::size_t block_size(Format format) { return format == Format::kDxt1 ? 8 : 16; }

TEST(Rgb565ToRgb888, ExpandsWithTheFixedFormula) {
  struct Case {
    std::uint16_t color;
    Rgb expected;
  };
  const Case cases[] = {
      {0x0000, {0, 0, 0}},
      {0xFFFF, {255, 255, 255}},
      {0x07E0, {0, 255, 0}},
      // 5-bit red: replication gives 24 for 3, exact rounding 165, 206, 239 for 20, 25, 29.
      {3 << 11, {25, 0, 0}},
      {16 << 11, {132, 0, 0}},
      {20 << 11, {164, 0, 0}},
      {25 << 11, {205, 0, 0}},
      {29 << 11, {238, 0, 0}},
      // 5-bit blue, same formula.
      {3, {0, 0, 25}},
      {29, {0, 0, 238}},
      // 6-bit green: bit replication would give 44 for 11, exact rounding 215 for 53.
      {11 << 5, {0, 45, 0}},
      {53 << 5, {0, 214, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "color 0x" << std::hex << c.color);
    EXPECT_EQ(rgb565_to_rgb888(c.color), c.expected);
  }
}

TEST(DxtArithmetic, IntegerReplacementsEqualThePlainFormulasOverTheirWholeRange) {
  using dxt_detail::kDiv3Max, dxt_detail::kDiv5Max, dxt_detail::kDiv7Max;
  using dxt_detail::kExpand5Multiplier, dxt_detail::kExpand6Multiplier;
  struct Case {
    const char* label;
    std::uint32_t max;  // the inputs are 0..max
    std::function<std::uint32_t(std::uint32_t)> replacement;
    std::function<std::uint32_t(std::uint32_t)> plain;
  };
  const auto expand5_plain = [](std::uint32_t v) {
    const std::uint32_t t = v * 255 + 16;
    return (t + (t >> 5)) >> 5;
  };
  const auto expand6_plain = [](std::uint32_t v) {
    const std::uint32_t t = v * 255 + 32;
    return (t + (t >> 6)) >> 6;
  };
  // The 16-bit lane form: a rounding high multiply (x * m + 2^14) >> 15.
  const auto rounding_high_multiply = [](std::uint32_t x, std::uint32_t m) {
    return (x * m + (1u << 14)) >> 15;
  };
  const Case cases[] = {
      {"5-bit expansion", 31, dxt_detail::expand5, expand5_plain},
      {"5-bit expansion, 16-bit lanes", 31,
       [&](std::uint32_t v) { return rounding_high_multiply(v << 10, kExpand5Multiplier); },
       expand5_plain},
      {"6-bit expansion", 63, dxt_detail::expand6, expand6_plain},
      {"6-bit expansion, 16-bit lanes", 63,
       [&](std::uint32_t v) { return rounding_high_multiply(v << 9, kExpand6Multiplier); },
       expand6_plain},
      {"x / 3", kDiv3Max, dxt_detail::div3, [](std::uint32_t x) { return x / 3; }},
      {"x / 7", kDiv7Max, dxt_detail::div7, [](std::uint32_t x) { return x / 7; }},
      {"x / 5", kDiv5Max, dxt_detail::div5, [](std::uint32_t x) { return x / 5; }},
  };
  EXPECT_EQ(kDiv3Max, 3u * 255);  // 2 * ch0 + ch1
  EXPECT_EQ(kDiv7Max, 7u * 255);  // (8 - k) * alpha0 + (k - 1) * alpha1
  EXPECT_EQ(kDiv5Max, 5u * 255);  // (6 - k) * alpha0 + (k - 1) * alpha1
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    for (std::uint32_t x = 0; x <= c.max; ++x) {
      ASSERT_EQ(c.replacement(x), c.plain(x)) << "at " << x;
    }
  }
}

TEST_P(DecompressBlocks, EveryPairOfEndPointChannelsMatchesTheReference) {
  // Block (i, j) of a 64 x 64 grid has c0 from i and c1 from j: green i and j (all 64 x 64
  // pairs), red i % 32 and j % 32, blue i / 2 and j / 2 (all 32 x 32 pairs), in both orders
  // (both DXT1 rules); each row of texels uses the four indices.
  const auto end_point = [](std::uint32_t i) {
    return static_cast<std::uint16_t>((i % 32) << 11 | i << 5 | i / 2);
  };
  for (const Format format : kAllFormats) {
    SCOPED_TRACE(name(format));
    Bytes data;
    for (std::uint32_t i = 0; i < 64; ++i) {
      for (std::uint32_t j = 0; j < 64; ++j) {
        const Bytes block =
            opaque_block(format, color_block(end_point(i), end_point(j), 0x1B1B1B1B),
                         static_cast<std::uint8_t>(i * 4 + j));
        data.insert(data.end(), block.begin(), block.end());
      }
    }
    EXPECT_EQ(decode(format, data, 256, 256), reference(format)(data, 256, 256));
  }
}

TEST_P(DecompressDxt5, EveryPairOfAlphaEndPointsMatchesTheReference) {
  // Block (i, j) of a 256 x 256 grid has alpha0 i and alpha1 j; texel t uses alpha index t % 8.
  std::uint64_t indices = 0;
  for (std::uint64_t t = 0; t < 16; ++t) indices |= (t % 8) << (3 * t);
  Bytes data;
  for (std::uint32_t i = 0; i < 256; ++i) {
    for (std::uint32_t j = 0; j < 256; ++j) {
      const Bytes block = dxt5_block(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(j),
                                     indices, color_block(kRed, kBlue, kIndexPerColumn));
      data.insert(data.end(), block.begin(), block.end());
    }
  }
  EXPECT_EQ(decompress_dxt5(data, 1024, 256),
            ferngate_testing::reference_decompress_dxt5(data, 1024, 256));
}

TEST_P(DecompressBlocks, EveryEdgeShapeAndInputLengthMatchesTheReference) {
  // Random blocks for images of every width up to 72 (up to 18 blocks a row: whole groups of
  // blocks, partial ones and edge blocks) and every height up to 9, then a wider one; the input
  // is whole, longer, or cut inside the last row of blocks, inside the first, or to nothing.
  std::mt19937 random(6);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;
  for (std::uint32_t w = 1; w <= 72; ++w) {
    for (std::uint32_t h = 1; h <= 9; ++h) sizes.emplace_back(w, h);
  }
  sizes.emplace_back(300, 37);
  for (const Format format : kAllFormats) {
    for (const auto& [w, h] : sizes) {
      SCOPED_TRACE(testing::Message() << name(format) << " " << w << "x" << h);
      const std::size_t needed = ((w + 3) / 4) * ((h + 3) / 4) * block_size(format);
      Bytes data(needed + 16);
      for (std::uint8_t& byte : data) byte = static_cast<std::uint8_t>(random());
      const std::size_t row_bytes = ((w + 3) / 4) * block_size(format);
      for (const std::size_t length :
           {needed, needed + 16, needed - row_bytes / 2 - 1, row_bytes / 2 + 3, std::size_t{0}}) {
        const std::span<const std::uint8_t> input(data.data(), std::min(length, data.size()));
        ASSERT_EQ(decode(format, Bytes(input.begin(), input.end()), w, h),
                  reference(format)(input, w, h))
            << "input of " << input.size() << " bytes";
      }
    }
  }
}

TEST_P(DecompressDxt1, PicksFourOrThreeColoursByRawEndPointOrder) {
  struct Case {
    const char* label;
    std::uint16_t c0, c1;
    std::array<Rgba, 4> by_index;
  };
  const Case cases[] = {
      {"c0 > c1: four colours",
       kRed,
       kBlue,
       {{{255, 0, 0, 255}, {0, 0, 255, 255}, {170, 0, 85, 255}, {85, 0, 170, 255}}}},
      {"c0 > c1: four colours, truncated thirds (518 / 3 gives 172)",
       0xF801,  // red 31, blue 1
       0x081F,  // red 1, blue 31
       {{{255, 0, 8, 255}, {8, 0, 255, 255}, {172, 0, 90, 255}, {90, 0, 172, 255}}}},
      {"c0 < c1: three colours, truncated midpoint",
       kBlue,
       kRed,
       {{{0, 0, 255, 255}, {255, 0, 0, 255}, {127, 0, 127, 255}, kTransparent}}},
      {"c0 == c1: three colours",
       kWhite,
       kWhite,
       {{{255, 255, 255, 255}, {255, 255, 255, 255}, {255, 255, 255, 255}, kTransparent}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Bytes out = decompress_dxt1(color_block(c.c0, c.c1, kIndexPerColumn), 4, 4);
    ASSERT_EQ(out.size(), 64u);
    for (std::size_t i = 0; i < 16; ++i) {
      SCOPED_TRACE(testing::Message() << "texel " << i);
      EXPECT_EQ(texel(out, i), c.by_index[i % 4]);
    }
  }
}

TEST_P(DecompressDxt3AndDxt5, AlwaysUseFourColoursWithAlphaFromTheAlphaPart) {
  struct Case {
    std::uint16_t c0, c1;
    std::array<Rgb, 4> by_index;
  };
  // The two colour blocks that DXT1 decodes with the three-colour rule.
  const Case cases[] = {
      {kBlue, kRed, {{{0, 0, 255}, {255, 0, 0}, {85, 0, 170}, {170, 0, 85}}}},
      {kWhite, kWhite, {{{255, 255, 255}, {255, 255, 255}, {255, 255, 255}, {255, 255, 255}}}},
  };
  for (const Format format : {Format::kDxt3, Format::kDxt5}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << name(format) << " c0 0x" << std::hex << c.c0);
      const Bytes block = opaque_block(format, color_block(c.c0, c.c1, kIndexPerColumn), 0x77);
      const Bytes out = decode(format, block, 4, 4);
      ASSERT_EQ(out.size(), 64u);
      for (std::size_t i = 0; i < 16; ++i) {
        SCOPED_TRACE(testing::Message() << "texel " << i);
        const Rgb& rgb = c.by_index[i % 4];
        EXPECT_EQ(texel(out, i), (Rgba{rgb[0], rgb[1], rgb[2], 0x77}));
      }
    }
  }
}

TEST_P(DecompressDxt3, TakesLowNibbleForEvenTexelsHighForOddAndTimes17) {
  // Byte j holds nibble 2j low and 2j + 1 high, so texel i carries nibble i.
  const std::array<std::uint8_t, 8> alphas{0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
  const Bytes out = decompress_dxt3(dxt3_block(alphas, color_block(kRed, kBlue, 0)), 4, 4);
  ASSERT_EQ(out.size(), 64u);
  for (std::size_t i = 0; i < 16; ++i) {
    SCOPED_TRACE(testing::Message() << "texel " << i);
    EXPECT_EQ(texel(out, i), (Rgba{255, 0, 0, static_cast<std::uint8_t>(i * 0x11)}));
  }
}

TEST_P(DecompressDxt5, InterpolatesAlphaWithTruncation) {
  struct Case {
    std::uint8_t alpha0, alpha1;
    std::array<std::uint8_t, 8> by_index;
  };
  const Case cases[] = {
      {255, 0, {255, 0, 218, 182, 145, 109, 72, 36}},      // sevenths
      {0, 255, {0, 255, 51, 102, 153, 204, 0, 255}},       // fifths, then 0 and 255
      {100, 100, {100, 100, 100, 100, 100, 100, 0, 255}},  // equal end points: fifths
      {1, 9, {1, 9, 2, 4, 5, 7, 0, 255}},                  // 13, 21, 29, 37 fifths, truncated
  };
  // Texel i uses alpha index i % 8.
  std::uint64_t indices = 0;
  for (std::uint64_t i = 0; i < 16; ++i) indices |= (i % 8) << (3 * i);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "alpha0 " << int{c.alpha0} << " alpha1 " << int{c.alpha1});
    const Bytes out =
        decompress_dxt5(dxt5_block(c.alpha0, c.alpha1, indices, color_block(kRed, kBlue, 0)), 4, 4);
    ASSERT_EQ(out.size(), 64u);
    for (std::size_t i = 0; i < 16; ++i) {
      SCOPED_TRACE(testing::Message() << "texel " << i);
      EXPECT_EQ(texel(out, i), (Rgba{255, 0, 0, c.by_index[i % 8]}));
    }
  }
}

TEST_P(DecompressDxt5, AlphaIndexFieldIsLittleEndian48Bits) {
  // Literal bytes 2-7 of the block, with alpha index 5 (binary 101) at one texel and 0 elsewhere.
  struct Case {
    std::array<std::uint8_t, 6> index_bytes;
    std::size_t texel;
  };
  const Case cases[] = {
      {{0x05, 0, 0, 0, 0, 0}, 0},     // bits 0-2: lowest bits of byte 2
      {{0x40, 0x01, 0, 0, 0, 0}, 2},  // bits 6-8: across bytes 2 and 3
      {{0, 0x80, 0x02, 0, 0, 0}, 5},  // bits 15-17: across bytes 3 and 4
      {{0, 0, 0, 0, 0, 0xA0}, 15},    // bits 45-47: highest bits of byte 7
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "texel " << c.texel);
    Bytes block{0, 255};  // alpha index 0 gives 0, 5 gives 204
    block.insert(block.end(), c.index_bytes.begin(), c.index_bytes.end());
    const Bytes colors = color_block(kRed, kBlue, 0);
    block.insert(block.end(), colors.begin(), colors.end());
    const Bytes out = decompress_dxt5(block, 4, 4);
    ASSERT_EQ(out.size(), 64u);
    for (std::size_t i = 0; i < 16; ++i) {
      SCOPED_TRACE(testing::Message() << "at texel " << i);
      EXPECT_EQ(texel(out, i)[3], i == c.texel ? 204 : 0);
    }
  }
}

TEST_P(DecompressDxt1, TexelIUsesIndexBits2iAndLandsInRowIDiv4ColumnIMod4) {
  for (std::size_t i = 0; i < 16; ++i) {
    SCOPED_TRACE(testing::Message() << "texel " << i);
    // Index 3 at texel i only (both of its bits set), index 0 everywhere else.
    const std::uint32_t lookup = 3u << (2 * i);
    const Rgba kIndex0{255, 0, 0, 255};
    const Rgba kIndex3{85, 0, 170, 255};
    const Bytes out = decompress_dxt1(color_block(kRed, kBlue, lookup), 4, 4);
    ASSERT_EQ(out.size(), 64u);
    for (std::size_t y = 0; y < 4; ++y) {
      for (std::size_t x = 0; x < 4; ++x) {
        const Rgba expected = (y == i / 4 && x == i % 4) ? kIndex3 : kIndex0;
        EXPECT_EQ(pixel(out, 4, x, y), expected) << "pixel " << x << "," << y;
      }
    }
  }
}

TEST_P(DecompressDxt1, ClipsEdgeBlocksOfA5x3Image) {
  // Block (0, 0): red, with index 3 in row 3 (below the image).
  // Block (1, 0): column 0 blue, columns 1-3 (right of the image) index 2 (each row 10'10'10'01).
  const Bytes left = color_block(kRed, kBlue, 0xFF000000);
  const Bytes right = color_block(kRed, kBlue, 0xA9A9A9A9);
  const Bytes out = decompress_dxt1(concat({left, right}), 5, 3);
  ASSERT_EQ(out.size(), 60u);
  const Rgba red{255, 0, 0, 255};
  const Rgba blue{0, 0, 255, 255};
  for (std::size_t y = 0; y < 3; ++y) {
    for (std::size_t x = 0; x < 5; ++x) {
      EXPECT_EQ(pixel(out, 5, x, y), x < 4 ? red : blue) << "pixel " << x << "," << y;
    }
  }

  // The block writers leave everything past the image alone, even where `out` has room for a
  // fourth row.
  Bytes canvas(80, 0xCD);
  decompress_dxt1_block(left, 0, 0, 5, 3, canvas);
  decompress_dxt1_block(right, 1, 0, 5, 3, canvas);
  EXPECT_EQ(Bytes(canvas.begin(), canvas.begin() + 60), out);
  EXPECT_EQ(Bytes(canvas.begin() + 60, canvas.end()), Bytes(20, 0xCD));
}

TEST_P(DecompressBlocks, StopsAtTheFirstIncompleteBlock) {
  for (const Format format : kAllFormats) {
    SCOPED_TRACE(name(format));
    // Blocks (0, 0) red and (1, 0) white, then block (0, 1) short of half its bytes (20 bytes
    // in all for DXT1) or of its last byte.
    const Bytes first = opaque_block(format, color_block(kRed, kBlue, all_texels(0)));
    const Bytes second = opaque_block(format, color_block(kWhite, kBlue, all_texels(0)));
    for (const std::size_t missing : {first.size() / 2, std::size_t{1}}) {
      SCOPED_TRACE(testing::Message() << missing << " bytes missing");
      Bytes data = concat({first, second, first});
      data.resize(data.size() - missing);

      const Bytes out = decode(format, data, 8, 8);
      ASSERT_EQ(out.size(), 256u);
      for (std::size_t y = 0; y < 8; ++y) {
        for (std::size_t x = 0; x < 8; ++x) {
          const Rgba expected = y >= 4  ? kTransparent
                                : x < 4 ? Rgba{255, 0, 0, 255}
                                        : Rgba{255, 255, 255, 255};
          EXPECT_EQ(pixel(out, 8, x, y), expected) << "pixel " << x << "," << y;
        }
      }
    }
    EXPECT_EQ(decode(format, {}, 8, 8), Bytes(256, 0));
  }
}

TEST_P(DecompressBlocks, IgnoresBytesPastTheLastBlock) {
  for (const Format format : kAllFormats) {
    SCOPED_TRACE(name(format));
    const Bytes block = opaque_block(format, color_block(kRed, kBlue, kIndexPerColumn));
    const Bytes longer = concat({block, Bytes(16, 0xAB)});
    const Bytes out = decode(format, longer, 4, 4);
    ASSERT_EQ(out.size(), 64u);
    EXPECT_EQ(out, decode(format, block, 4, 4));
  }
}

TEST_P(DecompressBlocks, ZeroWidthOrHeightGivesAnEmptyBuffer) {
  const Bytes data(64, 0xFF);
  for (const Format format : kAllFormats) {
    const std::array<std::uint32_t, 2> sizes[] = {{0, 0}, {0, 4}, {4, 0}};
    for (const auto& [w, h] : sizes) {
      SCOPED_TRACE(testing::Message() << name(format) << " " << w << "x" << h);
      EXPECT_TRUE(decode(format, data, w, h).empty());
    }
  }
}

}  // namespace
}  // namespace ferngate_dat
