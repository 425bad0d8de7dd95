#include <random>

#include <gtest/gtest.h>

#include "lzss_encoder.hpp"
#include "utils.hpp"

namespace ferngate_dat {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct DecodeCase {
  const char* name;
  Bytes input;
  Bytes output;
};

Bytes with_size(std::uint32_t size, const Bytes& stream) {
  Bytes out(4 + stream.size());
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(size >> (8 * i));
  std::copy(stream.begin(), stream.end(), out.begin() + 4);
  return out;
}

TEST(DecompressLrs, DecodesTokensAndStopsOnMalformedInput) {
  const DecodeCase cases[] = {
      {"fewer than four bytes come back unchanged", {1, 2, 3}, {1, 2, 3}},
      {"empty input", {}, {}},
      {"four bytes declaring a size give nothing", with_size(100, {}), {}},
      {"output size 0 ignores the stream", with_size(0, {0x00, 'a', 'b'}), {}},
      {"literals stop at the output size",
       with_size(5, {0x00, 1, 2, 3, 4, 5, 6, 7, 8}),
       {1, 2, 3, 4, 5}},
      {"offset 1 repeats the last byte", with_size(6, {0x40, 0x41, 0x01, 0x03}), Bytes(6, 0x41)},
      {"a reference is cut at the output size", with_size(4, {0x40, 0x41, 0x01, 0x03}),
       Bytes(4, 0x41)},
      {"offset and length take both nibbles of b2",
       // 4 literals, then offset 0x004 | (0x1 << 8) = 260 from a 4-byte output: index 0 repeats.
       with_size(7, {0x08, 'a', 'b', 'c', 'd', 0x04, 0x11}),
       {'a', 'b', 'c', 'd', 'a', 'a', 'a'}},
      {"a distance past the start copies from index 0 until the output has grown",
       with_size(6, {0x20, 0x41, 0x42, 0x03, 0x02}),
       {0x41, 0x42, 0x41, 0x41, 0x42, 0x41}},
      {"offset 0 ends the stream", with_size(10, {0x40, 'x', 0x00, 0x00, 'y'}), {'x'}},
      {"a reference with one byte left ends the stream", with_size(10, {0x40, 'x', 0x01}), {'x'}},
      {"a control byte that is the last byte ends the stream", with_size(10, {0x00}), {}},
      {"a reference before any output stops decoding", with_size(4, {0x80, 0x01, 0x03, 'z'}), {}},
      {"a ninth token reads a new control byte",
       with_size(10, {0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0x80, 0x01, 0x00}),
       {1, 2, 3, 4, 5, 6, 7, 8, 8, 8}},
      {"a payload cut inside a reference keeps what came before",
       with_size(20, {0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0x80, 0x01}),
       {1, 2, 3, 4, 5, 6, 7, 8}},
      {"bytes after the output size are ignored",
       with_size(2, {0x00, 'a', 'b', 'c', 'd'}),
       {'a', 'b'}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decompress_lrs(c.input), c.output);
  }
}

TEST(DecompressLrs, HugeDeclaredSizeOverShortInputReservesLittle) {
  const Bytes input = with_size(0xFFFFFFFF, {0x00, 'a', 'b'});
  const Bytes output = decompress_lrs(input);
  EXPECT_EQ(output, (Bytes{'a', 'b'}));
  EXPECT_LE(output.capacity(), 64U);
}

TEST(CompressLrs, RoundTripsThroughTheDecoder) {
  std::mt19937 rng(7);
  std::vector<Bytes> samples = {{}, {42}, Bytes(5000, 0xAA)};
  Bytes random(3000);
  for (auto& b : random) b = static_cast<std::uint8_t>(rng());
  samples.push_back(random);
  Bytes periodic;  // short periods make references that overlap their own output
  for (int i = 0; i < 4000; ++i) periodic.push_back(static_cast<std::uint8_t>("abc"[i % 3]));
  samples.push_back(periodic);
  Bytes far;  // repeats 4000 bytes back, near the longest distance
  for (int i = 0; i < 9000; ++i)
    far.push_back(static_cast<std::uint8_t>((i % 4000) * 7 + (i / 97)));
  samples.push_back(far);
  for (const auto& data : samples) {
    SCOPED_TRACE(data.size());
    const Bytes stored = ferngate_testing::compress_lrs(data);
    EXPECT_EQ(decompress_lrs(stored), data);
  }
  EXPECT_LT(ferngate_testing::compress_lrs(periodic).size(), periodic.size() / 4);
}

}  // namespace
}  // namespace ferngate_dat
