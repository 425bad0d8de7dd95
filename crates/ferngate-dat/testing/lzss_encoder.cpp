#include "lzss_encoder.hpp"

#include <algorithm>
#include <array>

namespace ferngate_testing {

namespace {

constexpr std::size_t kMaxOffset = 4095;
constexpr std::size_t kMinLength = 2;
constexpr std::size_t kMaxLength = 17;
constexpr std::size_t kChainDepth = 32;
constexpr std::size_t kHashBits = 14;

std::size_t hash_pair(const std::uint8_t* p) {
  return (static_cast<std::size_t>(p[0]) << 6 ^ p[1]) & ((1U << kHashBits) - 1);
}

}  // namespace

std::vector<std::uint8_t> compress_lrs(std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> out;
  out.reserve(4 + data.size() + data.size() / 8 + 1);
  const auto size = static_cast<std::uint32_t>(data.size());
  for (int shift = 0; shift < 32; shift += 8)
    out.push_back(static_cast<std::uint8_t>(size >> shift));

  // head[h]: the latest position whose two bytes hash to h; prev[p]: the one before p.
  constexpr std::size_t kNone = SIZE_MAX;
  std::vector<std::size_t> head(std::size_t{1} << kHashBits, kNone);
  std::vector<std::size_t> prev(data.size(), kNone);
  auto remember = [&](std::size_t pos) {
    if (pos + 1 >= data.size()) return;
    const std::size_t h = hash_pair(&data[pos]);
    prev[pos] = head[h];
    head[h] = pos;
  };

  std::size_t control_at = 0;
  std::uint8_t control_bit = 0;
  std::size_t pos = 0;
  while (pos < data.size()) {
    if (control_bit == 0) {
      control_at = out.size();
      out.push_back(0);
      control_bit = 0x80;
    }

    std::size_t best_length = 0;
    std::size_t best_offset = 0;
    if (pos + 1 < data.size()) {
      const std::size_t limit = std::min(kMaxLength, data.size() - pos);
      std::size_t candidate = head[hash_pair(&data[pos])];
      for (std::size_t depth = 0; candidate != kNone && depth < kChainDepth;
           ++depth, candidate = prev[candidate]) {
        const std::size_t offset = pos - candidate;
        if (offset > kMaxOffset) break;
        std::size_t length = 0;
        // The source may run into the bytes being produced: that is how runs repeat.
        while (length < limit && data[candidate + length] == data[pos + length]) ++length;
        if (length > best_length) {
          best_length = length;
          best_offset = offset;
          if (length == limit) break;
        }
      }
    }

    if (best_length >= kMinLength) {
      out[control_at] |= control_bit;
      out.push_back(static_cast<std::uint8_t>(best_offset & 0xFF));
      out.push_back(
          static_cast<std::uint8_t>((best_offset >> 8) << 4 | (best_length - kMinLength)));
      for (std::size_t i = 0; i < best_length; ++i) remember(pos + i);
      pos += best_length;
    } else {
      out.push_back(data[pos]);
      remember(pos);
      ++pos;
    }
    control_bit >>= 1;
  }
  return out;
}

}  // namespace ferngate_testing
