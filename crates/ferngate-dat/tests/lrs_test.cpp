#include <random>

#include <gtest/gtest.h>

#include "lzss_encoder.hpp"
#include "reference_decoders.hpp"
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

// Token streams written token by token: control bytes are placed as the groups fill.
class StreamWriter {
 public:
  StreamWriter& literal(std::uint8_t byte) {
    token(false);
    bytes_.push_back(byte);
    return *this;
  }
  StreamWriter& literals(std::size_t count, std::uint8_t first = 1) {
    for (std::size_t i = 0; i < count; ++i) literal(static_cast<std::uint8_t>(first + i * 37));
    return *this;
  }
  // `offset` 0 to 4095, `length` 2 to 17.
  StreamWriter& reference(std::size_t offset, std::size_t length) {
    token(true);
    bytes_.push_back(static_cast<std::uint8_t>(offset & 0xFF));
    bytes_.push_back(static_cast<std::uint8_t>((offset >> 8) << 4 | (length - 2)));
    return *this;
  }
  StreamWriter& references(std::size_t count, std::size_t offset, std::size_t length) {
    for (std::size_t i = 0; i < count; ++i) reference(offset, length);
    return *this;
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  void token(bool is_reference) {
    if (bit_ == 0) {
      control_at_ = bytes_.size();
      bytes_.push_back(0);
      bit_ = 0x80;
    }
    if (is_reference) bytes_[control_at_] |= bit_;
    bit_ >>= 1;
  }
  Bytes bytes_;
  std::size_t control_at_ = 0;
  std::uint8_t bit_ = 0;
};

// Streams long enough for whole groups at a time, each decoded in full, cut to several output
// sizes and cut short in its input: every result must be the plain decoder's.
TEST(DecompressLrs, LongStreamsDecodeAsThePlainDecoderDoes) {
  struct Case {
    const char* name;
    Bytes stream;
  };
  std::vector<Case> cases;
  for (std::size_t offset = 1; offset < 20; ++offset) {
    // Same-offset runs inside a group, across groups, and broken by a literal or a length change.
    cases.push_back({"periodic runs", StreamWriter()
                                          .literals(40)
                                          .references(3, offset, 5)
                                          .references(29, offset, 17)
                                          .literal(9)
                                          .references(11, offset, 2 + offset % 16)
                                          .references(8, offset + 1, 17)
                                          .literals(60)
                                          .bytes()});
  }
  cases.push_back({"references past the start with output already made", StreamWriter()
                                                                             .literals(20)
                                                                             .reference(100, 17)
                                                                             .reference(4000, 9)
                                                                             .literals(8)
                                                                             .references(20, 30, 17)
                                                                             .reference(3000, 3)
                                                                             .literals(300)
                                                                             .reference(4095, 17)
                                                                             .literals(40)
                                                                             .bytes()});
  cases.push_back({"offset 0 inside a group after many groups", StreamWriter()
                                                                    .literals(100)
                                                                    .references(20, 50, 12)
                                                                    .literal(1)
                                                                    .reference(0, 5)
                                                                    .literals(100)
                                                                    .bytes()});
  cases.push_back({"eight literals at once",
                   StreamWriter().literals(400).references(30, 16, 17).literals(400).bytes()});
  {
    // Every control byte in turn, three times: while the output is young (so references may reach
    // past its start), far from the start, and with one reference of each group closer than 16
    // bytes, at a token that moves from group to group.
    StreamWriter writer;
    writer.literals(8);
    std::mt19937 rng(5);
    for (int pass = 0; pass < 3; ++pass) {
      for (unsigned control = 0; control < 256; ++control) {
        const unsigned near_token = pass == 2 ? control % 8 : 8;
        for (unsigned token = 0; token < 8; ++token) {
          if ((control << token & 0x80) == 0) {
            writer.literal(static_cast<std::uint8_t>(rng()));
          } else if (token == near_token) {
            writer.reference(1 + rng() % 15, 2 + rng() % 16);
          } else {
            writer.reference(16 + rng() % 4080, 2 + rng() % 16);
          }
        }
      }
    }
    cases.push_back({"every control byte", writer.bytes()});
  }
  std::mt19937 rng(11);
  for (int round = 0; round < 12; ++round) {
    StreamWriter writer;
    writer.literals(3);
    for (int t = 0; t < 3000; ++t) {
      switch (rng() % 4) {
        case 0:
          writer.literal(static_cast<std::uint8_t>(rng()));
          break;
        case 1:
          writer.reference(1 + rng() % 20, 2 + rng() % 16);
          break;
        default:
          writer.reference(1 + rng() % 4095, 2 + rng() % 16);
          break;
      }
    }
    cases.push_back({"random tokens", writer.bytes()});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t full =
        ferngate_testing::reference_decompress_lrs(with_size(~0U, c.stream)).size();
    for (const std::size_t output_size : {full, full - 1, full / 2 + 3, full + 100}) {
      const Bytes input = with_size(static_cast<std::uint32_t>(output_size), c.stream);
      ASSERT_EQ(decompress_lrs(input), ferngate_testing::reference_decompress_lrs(input))
          << "output size " << output_size;
    }
    for (const std::size_t cut : {c.stream.size() - 1, c.stream.size() / 2, c.stream.size() / 3}) {
      const Bytes input = with_size(
          0xFFFFFF, Bytes(c.stream.begin(), c.stream.begin() + static_cast<std::ptrdiff_t>(cut)));
      ASSERT_EQ(decompress_lrs(input), ferngate_testing::reference_decompress_lrs(input))
          << "stream cut at " << cut;
    }
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
