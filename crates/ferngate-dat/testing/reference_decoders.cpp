#include "reference_decoders.hpp"

#include <array>

namespace ferngate_testing {

std::vector<std::uint8_t> reference_decompress_lrs(std::span<const std::uint8_t> input) {
  if (input.size() < 4) return {input.begin(), input.end()};
  const std::uint64_t output_size =
      input[0] | input[1] << 8 | input[2] << 16 | static_cast<std::uint64_t>(input[3]) << 24;
  std::vector<std::uint8_t> output;
  std::size_t at = 4;
  unsigned control_byte = 0;
  unsigned control_bit = 0;
  while (output.size() < output_size && at < input.size()) {
    if (control_bit == 0) {
      control_byte = input[at++];
      control_bit = 0x80;
    }
    const bool reference = (control_byte & control_bit) != 0;
    control_bit >>= 1;
    if (reference) {
      if (at + 1 >= input.size()) break;
      const unsigned b1 = input[at];
      const unsigned b2 = input[at + 1];
      at += 2;
      const std::size_t offset = b1 | (b2 & 0xF0) << 4;
      const unsigned length = (b2 & 0x0F) + 2;
      if (offset == 0 || output.empty()) break;
      for (unsigned i = 0; i < length; ++i) {
        if (output.size() >= output_size) break;
        const std::size_t from = offset > output.size() ? 0 : output.size() - offset;
        output.push_back(output[from]);
      }
    } else {
      if (at >= input.size()) break;
      output.push_back(input[at++]);
    }
  }
  return output;
}

namespace {

unsigned u16_at(std::span<const std::uint8_t> data, std::size_t at) {
  return data[at] | data[at + 1] << 8;
}

// Expands end point `color` to 8-bit channel `channel` (0 red, 1 green, 2 blue).
unsigned expand(unsigned color, int channel) {
  if (channel == 0) {
    const unsigned t = (color >> 11) * 255 + 16;
    return (t + (t >> 5)) >> 5;
  }
  if (channel == 1) {
    const unsigned t = ((color >> 5) & 0x3F) * 255 + 32;
    return (t + (t >> 6)) >> 6;
  }
  const unsigned t = (color & 0x1F) * 255 + 16;
  return (t + (t >> 5)) >> 5;
}

enum class Layout { Dxt1, Dxt3, Dxt5 };

// The RGBA of texel `i` of the block at `block`.
std::array<std::uint8_t, 4> texel(std::span<const std::uint8_t> block, unsigned i, Layout layout) {
  const std::size_t colour_at = layout == Layout::Dxt1 ? 0 : 8;
  const unsigned c0 = u16_at(block, colour_at);
  const unsigned c1 = u16_at(block, colour_at + 2);
  const unsigned lookup = block[colour_at + 4] | block[colour_at + 5] << 8 |
                          block[colour_at + 6] << 16 |
                          static_cast<unsigned>(block[colour_at + 7]) << 24;
  const unsigned index = (lookup >> (2 * i)) & 3;
  const bool four_colours = layout != Layout::Dxt1 || c0 > c1;

  std::array<std::uint8_t, 4> rgba{};
  rgba[3] = 255;
  for (int ch = 0; ch < 3; ++ch) {
    const unsigned a = expand(c0, ch);
    const unsigned b = expand(c1, ch);
    unsigned value = 0;
    if (index == 0) {
      value = a;
    } else if (index == 1) {
      value = b;
    } else if (four_colours) {
      value = index == 2 ? (2 * a + b) / 3 : (a + 2 * b) / 3;
    } else {
      value = index == 2 ? (a + b) / 2 : 0;
    }
    rgba[ch] = static_cast<std::uint8_t>(value);
  }
  if (!four_colours && index == 3) rgba[3] = 0;

  if (layout == Layout::Dxt3) {
    const unsigned alpha_byte = block[i / 2];
    const unsigned nibble = i % 2 == 0 ? alpha_byte & 0xF : alpha_byte >> 4;
    rgba[3] = static_cast<std::uint8_t>(nibble * 17);
  } else if (layout == Layout::Dxt5) {
    const unsigned a0 = block[0];
    const unsigned a1 = block[1];
    std::uint64_t mask = 0;
    for (int b = 0; b < 6; ++b) mask |= static_cast<std::uint64_t>(block[2 + b]) << (8 * b);
    const unsigned k = (mask >> (3 * i)) & 7;
    unsigned alpha = 0;
    if (k == 0) {
      alpha = a0;
    } else if (k == 1) {
      alpha = a1;
    } else if (a0 > a1) {
      alpha = ((8 - k) * a0 + (k - 1) * a1) / 7;
    } else if (k <= 5) {
      alpha = ((6 - k) * a0 + (k - 1) * a1) / 5;
    } else {
      alpha = k == 6 ? 0 : 255;
    }
    rgba[3] = static_cast<std::uint8_t>(alpha);
  }
  return rgba;
}

std::vector<std::uint8_t> decode(std::span<const std::uint8_t> data, std::uint32_t width,
                                 std::uint32_t height, Layout layout) {
  const std::size_t block_size = layout == Layout::Dxt1 ? 8 : 16;
  const std::size_t w = width;
  const std::size_t h = height;
  std::vector<std::uint8_t> out(w * h * 4, 0);
  const std::size_t blocks_x = (w + 3) / 4;
  for (std::size_t py = 0; py < h; ++py) {
    for (std::size_t px = 0; px < w; ++px) {
      const std::size_t block_index = (py / 4) * blocks_x + px / 4;
      const std::size_t at = block_index * block_size;
      if (at + block_size > data.size()) continue;  // a missing block stays transparent black
      const auto i = static_cast<unsigned>((py % 4) * 4 + px % 4);
      const auto rgba = texel(data.subspan(at, block_size), i, layout);
      for (int c = 0; c < 4; ++c) out[(py * w + px) * 4 + c] = rgba[c];
    }
  }
  return out;
}

}  // namespace

std::vector<std::uint8_t> reference_decompress_dxt1(std::span<const std::uint8_t> data,
                                                    std::uint32_t width, std::uint32_t height) {
  return decode(data, width, height, Layout::Dxt1);
}
std::vector<std::uint8_t> reference_decompress_dxt3(std::span<const std::uint8_t> data,
                                                    std::uint32_t width, std::uint32_t height) {
  return decode(data, width, height, Layout::Dxt3);
}
std::vector<std::uint8_t> reference_decompress_dxt5(std::span<const std::uint8_t> data,
                                                    std::uint32_t width, std::uint32_t height) {
  return decode(data, width, height, Layout::Dxt5);
}

}  // namespace ferngate_testing
