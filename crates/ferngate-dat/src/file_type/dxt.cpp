#include "file_type/dxt.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "file_type/dxt_kernels.hpp"

// Block layouts (all multi-byte fields little-endian):
//
//   colour block, 8 bytes (all of DXT1; bytes 8-15 of DXT3 and DXT5)
//     +0  u16 c0       end point 0, RGB 5:6:5 (red 15-11, green 10-5, blue 4-0)
//     +2  u16 c1       end point 1
//     +4  u32 lookup   texel i: palette index in bits 2i..2i+1
//
//   DXT3 alpha, 8 bytes   texel i: byte i/2, low nibble for even i, high nibble for odd i
//
//   DXT5 alpha, 8 bytes
//     +0  u8  alpha0
//     +1  u8  alpha1
//     +2  u48 indices  texel i: alpha palette index in bits 3i..3i+2 (byte 2 holds bits 0-7)
//
// Texel i of a block lies in row i / 4 and column i % 4 of the block, row 0 at the top, so byte
// 4 + r of a colour block holds the four indices of row r, column c in bits 2c..2c+1.
//
// The image walk hands each row of blocks to a kernel (scalar, SSSE3 or AVX2, chosen at run
// time; see dxt_kernels.hpp): the blocks wholly inside the image are written four texels (16
// bytes) a row with no bounds test per texel; a block on the right or bottom edge is decoded into
// a small tile first and only its texels inside the image are copied.
//
// The result is a std::vector<std::uint8_t>, and such a vector initialises every element itself
// (with zeros, or by copying): there is no standard-conforming way to size it without writing
// every byte, nor to hand it bytes written beforehand. So instead of zero-filling the whole image
// and then writing it a second time, the walk decodes a few rows of blocks at a time into a
// staging buffer that stays in the first-level cache and appends them to a vector whose capacity
// was reserved once: each output byte is written once, by that copy. Only when the input runs
// short is the missing rest zero-filled, by the final resize.

namespace ferngate_dat {
namespace dxt_detail {
namespace {

constexpr std::size_t kColorBlockOffset = 8;  // DXT3 and DXT5: alpha part first, then colour
constexpr std::size_t kTileBlocks = 8;        // blocks decoded at a time on the clipped path
constexpr std::size_t kStagingBytes = 16384;  // decoded pixels gathered before appending them

// A texel as a 32-bit word whose bytes in memory are red, green, blue, alpha.
[[nodiscard]] constexpr std::uint32_t rgba_word(std::uint32_t r, std::uint32_t g, std::uint32_t b,
                                                std::uint32_t a) {
  if constexpr (std::endian::native == std::endian::little) {
    return r | g << 8 | b << 16 | a << 24;
  } else {
    return r << 24 | g << 16 | b << 8 | a;
  }
}

// The four texel words a colour block's indices select. `three_colour_allowed` is true for DXT1,
// whose blocks with c0 <= c1 (raw 16-bit order) have three colours and transparent black;
// `alpha` is the alpha of the other entries (255 for DXT1, 0 for DXT3 and DXT5, whose alpha is
// added later).
void color_palette(const std::uint8_t* block, bool three_colour_allowed, std::uint32_t alpha,
                   std::uint32_t (&palette)[4]) {
  const std::uint32_t c0 = block[0] | block[1] << 8;
  const std::uint32_t c1 = block[2] | block[3] << 8;
  const std::uint32_t r0 = expand5(c0 >> 11);
  const std::uint32_t g0 = expand6((c0 >> 5) & 0x3F);
  const std::uint32_t b0 = expand5(c0 & 0x1F);
  const std::uint32_t r1 = expand5(c1 >> 11);
  const std::uint32_t g1 = expand6((c1 >> 5) & 0x3F);
  const std::uint32_t b1 = expand5(c1 & 0x1F);
  palette[0] = rgba_word(r0, g0, b0, alpha);
  palette[1] = rgba_word(r1, g1, b1, alpha);
  if (!three_colour_allowed || c0 > c1) {
    // (2 * ch0 + ch1) / 3 and (ch0 + 2 * ch1) / 3
    palette[2] = rgba_word(div3(2 * r0 + r1), div3(2 * g0 + g1), div3(2 * b0 + b1), alpha);
    palette[3] = rgba_word(div3(r0 + 2 * r1), div3(g0 + 2 * g1), div3(b0 + 2 * b1), alpha);
  } else {
    // (ch0 + ch1) / 2, then transparent black
    palette[2] = rgba_word((r0 + r1) >> 1, (g0 + g1) >> 1, (b0 + b1) >> 1, alpha);
    palette[3] = 0;
  }
}

// Writes the 16 texels of a colour block as four rows of 16 bytes, each texel's palette word
// ORed with alpha_word(t) for texel t (0 for DXT1).
template <typename AlphaWord>
void write_texels(const std::uint8_t* color_block, const std::uint32_t (&palette)[4],
                  AlphaWord alpha_word, std::uint8_t* dst, std::size_t stride) {
  for (unsigned r = 0; r < 4; ++r) {
    const std::uint32_t row = color_block[4 + r];
    const std::uint32_t words[4] = {
        palette[row & 3] | alpha_word(4 * r), palette[(row >> 2) & 3] | alpha_word(4 * r + 1),
        palette[(row >> 4) & 3] | alpha_word(4 * r + 2), palette[row >> 6] | alpha_word(4 * r + 3)};
    std::memcpy(dst + r * stride, words, sizeof words);
  }
}

// The 8 bytes from `bytes` as a little-endian number.
[[nodiscard]] std::uint64_t read_u64(const std::uint8_t* bytes) {
  std::uint64_t value = 0;
  for (unsigned b = 0; b < 8; ++b) value |= static_cast<std::uint64_t>(bytes[b]) << (8 * b);
  return value;
}

void scalar_dxt1(const std::uint8_t* src, std::size_t count, std::uint8_t* dst,
                 std::size_t stride) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* block = src + 8 * i;
    std::uint32_t palette[4];
    color_palette(block, true, 255, palette);
    write_texels(
        block, palette, [](unsigned) { return std::uint32_t{0}; }, dst + 16 * i, stride);
  }
}

void scalar_dxt3(const std::uint8_t* src, std::size_t count, std::uint8_t* dst,
                 std::size_t stride) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* block = src + 16 * i;
    std::uint32_t palette[4];
    color_palette(block + kColorBlockOffset, false, 0, palette);
    // Texel t's nibble is bits 4t..4t+3: the low nibble of byte t / 2 for even t, else the high.
    const std::uint64_t nibbles = read_u64(block);
    const auto alpha_word = [nibbles](unsigned t) {
      const auto nibble = static_cast<std::uint32_t>(nibbles >> (4 * t)) & 0x0F;
      return rgba_word(0, 0, 0, nibble | nibble << 4);  // n * 17: 0x7 -> 0x77
    };
    write_texels(block + kColorBlockOffset, palette, alpha_word, dst + 16 * i, stride);
  }
}

void scalar_dxt5(const std::uint8_t* src, std::size_t count, std::uint8_t* dst,
                 std::size_t stride) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* block = src + 16 * i;
    std::uint32_t palette[4];
    color_palette(block + kColorBlockOffset, false, 0, palette);

    const std::uint32_t a0 = block[0];
    const std::uint32_t a1 = block[1];
    std::uint32_t alpha_palette[8];
    alpha_palette[0] = a0;
    alpha_palette[1] = a1;
    if (a0 > a1) {
      for (std::uint32_t k = 2; k < 8; ++k) {
        alpha_palette[k] = div7((8 - k) * a0 + (k - 1) * a1);  // ((8 - k) a0 + (k - 1) a1) / 7
      }
    } else {
      for (std::uint32_t k = 2; k < 6; ++k) {
        alpha_palette[k] = div5((6 - k) * a0 + (k - 1) * a1);  // ((6 - k) a0 + (k - 1) a1) / 5
      }
      alpha_palette[6] = 0;
      alpha_palette[7] = 255;
    }
    for (std::uint32_t& alpha : alpha_palette) alpha = rgba_word(0, 0, 0, alpha);
    const std::uint64_t indices = read_u64(block) >> 16;  // 48 bits, byte 2 lowest
    const auto alpha_word = [&alpha_palette, indices](unsigned t) {
      return alpha_palette[(indices >> (3 * t)) & 7];
    };
    write_texels(block + kColorBlockOffset, palette, alpha_word, dst + 16 * i, stride);
  }
}

std::atomic<const Kernel*> g_kernel{nullptr};

[[nodiscard]] const Kernel* table_of(KernelId id) {
  switch (id) {
    case KernelId::kScalar:
      return &kScalarKernel;
#if defined(FERNGATE_DXT_X86_KERNELS)
    case KernelId::kSsse3:
      return &kSsse3Kernel;
    case KernelId::kAvx2:
      return &kAvx2Kernel;
#else
    case KernelId::kSsse3:
    case KernelId::kAvx2:
      break;
#endif
  }
  return nullptr;
}

// The best available kernel, or the one FERNGATE_DXT_KERNEL names if it is available.
[[nodiscard]] const Kernel* initial_kernel() {
  constexpr KernelId kAll[] = {KernelId::kScalar, KernelId::kSsse3, KernelId::kAvx2};
  // Read once, when the first conversion picks the kernel; nothing here sets the environment.
  if (const char* wanted = std::getenv("FERNGATE_DXT_KERNEL")) {  // NOLINT(concurrency-mt-unsafe)
    for (const KernelId id : kAll) {
      if (kernel_name(id) == wanted && kernel_available(id)) return table_of(id);
    }
  }
  for (const KernelId id : {KernelId::kAvx2, KernelId::kSsse3}) {
    if (kernel_available(id)) return table_of(id);
  }
  return &kScalarKernel;
}

// Decodes `count` whole blocks that follow each other at `src` (`block_size` bytes each) and
// cover `pixels_wide` columns and `rows` rows of the image at `dst`, through a tile, so that
// nothing outside the image is written.
void decode_clipped(RunFn run, const std::uint8_t* src, std::size_t block_size, std::size_t count,
                    std::size_t pixels_wide, std::size_t rows, std::uint8_t* dst,
                    std::size_t stride) {
  constexpr std::size_t kTileStride = kTileBlocks * 16;
  std::uint8_t tile[4 * kTileStride];
  for (std::size_t first = 0; first < count; first += kTileBlocks) {
    const std::size_t n = std::min(kTileBlocks, count - first);
    run(src + first * block_size, n, tile, kTileStride);
    const std::size_t bytes = std::min(n * 4, pixels_wide - first * 4) * 4;
    for (std::size_t r = 0; r < rows; ++r) {
      std::memcpy(dst + r * stride + first * 16, tile + r * kTileStride, bytes);
    }
  }
}

// Walks the blocks of a w x h image in storage order, decoding each whole block present in
// `image_data`; the first incomplete block ends the walk and leaves the rest transparent black.
[[nodiscard]] std::vector<std::uint8_t> decompress_image(std::span<const std::uint8_t> image_data,
                                                         std::uint32_t width, std::uint32_t height,
                                                         std::size_t block_size,
                                                         RunFn Kernel::*format) {
  const std::size_t w = width;
  const std::size_t h = height;
  if (w == 0 || h == 0) return {};
  // w * h * 4 overflows only for sides beyond 2^30 each on a 64-bit host: no such buffer can
  // exist, and the result is empty rather than an exception (to_rgba8 refuses such sizes first).
  if (h > std::numeric_limits<std::size_t>::max() / 4 / w) return {};
  const std::size_t size = w * h * 4;
  std::vector<std::uint8_t> out;
  out.reserve(size);

  const RunFn run = active_kernel_table().*format;
  const std::size_t stride = w * 4;
  const std::size_t block_count_x = (w + 3) / 4;
  const std::size_t block_count_y = (h + 3) / 4;
  const std::size_t full_columns = w / 4;  // blocks wholly inside the image horizontally
  const std::size_t blocks_present = image_data.size() / block_size;
  // Rows of blocks are decoded into a staging buffer that stays in the first-level cache and
  // appended to `out` a few at a time (see the top of this file).
  const std::size_t band_bytes = std::min<std::size_t>(4, h) * stride;
  const std::size_t bands_per_flush = std::max<std::size_t>(1, kStagingBytes / band_bytes);
  const std::size_t flush_bytes = bands_per_flush * band_bytes;
  const std::unique_ptr<std::uint8_t[]> staging(new std::uint8_t[std::min(flush_bytes, size)]);
  std::size_t staged = 0;
  for (std::size_t by = 0; by < block_count_y; ++by) {
    const std::size_t first = by * block_count_x;
    if (first >= blocks_present) break;
    const std::size_t available = std::min(block_count_x, blocks_present - first);
    const std::uint8_t* src = image_data.data() + first * block_size;
    std::uint8_t* dst = staging.get() + staged;
    const std::size_t rows = std::min<std::size_t>(4, h - by * 4);
    if (rows == 4) {
      const std::size_t inside = std::min(available, full_columns);
      run(src, inside, dst, stride);
      if (available > inside) {
        decode_clipped(run, src + inside * block_size, block_size, 1, w % 4, 4, dst + inside * 16,
                       stride);
      }
    } else {
      decode_clipped(run, src, block_size, available, std::min(available * 4, w), rows, dst,
                     stride);
    }
    if (available < block_count_x) {  // the input ends in this row: its other blocks stay zero
      const std::size_t decoded = std::min(available * 16, stride);
      for (std::size_t r = 0; r < rows; ++r) {
        std::memset(dst + r * stride + decoded, 0, stride - decoded);
      }
    }
    staged += rows * stride;
    if (staged == flush_bytes) {
      out.insert(out.end(), staging.get(), staging.get() + staged);
      staged = 0;
    }
  }
  out.insert(out.end(), staging.get(), staging.get() + staged);
  out.resize(size);  // missing blocks: transparent black
  return out;
}

// Decodes one block into the image through the same clipped path as the image walk. `out` must
// hold at least w * h RGBA pixels; if it does not, nothing is written.
void decompress_one_block(std::span<const std::uint8_t> block, std::size_t block_size,
                          RunFn Kernel::*format, std::size_t bx, std::size_t by, std::size_t w,
                          std::size_t h, std::span<std::uint8_t> out) {
  if (block.size() < block_size) return;
  if (w == 0 || h == 0 || out.size() / 4 / w < h) return;
  if (bx >= (w + 3) / 4 || by >= (h + 3) / 4) return;
  const std::size_t pixels_wide = std::min<std::size_t>(4, w - bx * 4);
  const std::size_t rows = std::min<std::size_t>(4, h - by * 4);
  decode_clipped(active_kernel_table().*format, block.data(), block_size, 1, pixels_wide, rows,
                 out.data() + (by * 4 * w + bx * 4) * 4, w * 4);
}

}  // namespace

const Kernel kScalarKernel = {scalar_dxt1, scalar_dxt3, scalar_dxt5};

bool kernel_available(KernelId id) {
#if defined(FERNGATE_DXT_X86_KERNELS)
  __builtin_cpu_init();  // idempotent; needed when called before the runtime's own constructors
#endif
  switch (id) {
    case KernelId::kScalar:
      return true;
#if defined(FERNGATE_DXT_X86_KERNELS)
    case KernelId::kSsse3:
      return __builtin_cpu_supports("ssse3");
    case KernelId::kAvx2:
      return __builtin_cpu_supports("avx2");
#else
    case KernelId::kSsse3:
    case KernelId::kAvx2:
      break;
#endif
  }
  return false;
}

const Kernel& active_kernel_table() {
  const Kernel* kernel = g_kernel.load(std::memory_order_relaxed);
  if (kernel == nullptr) {
    const Kernel* chosen = initial_kernel();
    // A concurrent first call may have stored its choice (the same one) first: keep that.
    if (g_kernel.compare_exchange_strong(kernel, chosen, std::memory_order_relaxed)) {
      kernel = chosen;
    }
  }
  return *kernel;
}

KernelId active_kernel() {
  const Kernel* kernel = &active_kernel_table();
  for (const KernelId id : {KernelId::kAvx2, KernelId::kSsse3}) {
    if (kernel == table_of(id)) return id;
  }
  return KernelId::kScalar;
}

bool use_kernel(KernelId id) {
  if (!kernel_available(id)) return false;
  g_kernel.store(table_of(id), std::memory_order_relaxed);
  return true;
}

std::string_view kernel_name(KernelId id) {
  switch (id) {
    case KernelId::kScalar:
      return "scalar";
    case KernelId::kSsse3:
      return "ssse3";
    case KernelId::kAvx2:
      return "avx2";
  }
  return "?";
}

}  // namespace dxt_detail

using dxt_detail::Kernel;

std::array<std::uint8_t, 3> rgb565_to_rgb888(std::uint16_t color) {
  const std::uint32_t c = color;
  std::uint32_t t = (c >> 11) * 255 + 16;
  const std::uint32_t red = (t + (t >> 5)) >> 5;  // about r5 * 255 / 31
  t = ((c >> 5) & 0x3F) * 255 + 32;
  const std::uint32_t green = (t + (t >> 6)) >> 6;  // about g6 * 255 / 63
  t = (c & 0x1F) * 255 + 16;
  const std::uint32_t blue = (t + (t >> 5)) >> 5;  // about b5 * 255 / 31
  return {static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(green),
          static_cast<std::uint8_t>(blue)};
}

void decompress_dxt1_block(std::span<const std::uint8_t> block, std::size_t bx, std::size_t by,
                           std::size_t w, std::size_t h, std::span<std::uint8_t> out) {
  dxt_detail::decompress_one_block(block, 8, &Kernel::dxt1, bx, by, w, h, out);
}

void decompress_dxt3_block(std::span<const std::uint8_t> block, std::size_t bx, std::size_t by,
                           std::size_t w, std::size_t h, std::span<std::uint8_t> out) {
  dxt_detail::decompress_one_block(block, 16, &Kernel::dxt3, bx, by, w, h, out);
}

void decompress_dxt5_block(std::span<const std::uint8_t> block, std::size_t bx, std::size_t by,
                           std::size_t w, std::size_t h, std::span<std::uint8_t> out) {
  dxt_detail::decompress_one_block(block, 16, &Kernel::dxt5, bx, by, w, h, out);
}

std::vector<std::uint8_t> decompress_dxt1(std::span<const std::uint8_t> image_data,
                                          std::uint32_t width, std::uint32_t height) {
  return dxt_detail::decompress_image(image_data, width, height, 8, &Kernel::dxt1);
}

std::vector<std::uint8_t> decompress_dxt3(std::span<const std::uint8_t> image_data,
                                          std::uint32_t width, std::uint32_t height) {
  return dxt_detail::decompress_image(image_data, width, height, 16, &Kernel::dxt3);
}

std::vector<std::uint8_t> decompress_dxt5(std::span<const std::uint8_t> image_data,
                                          std::uint32_t width, std::uint32_t height) {
  return dxt_detail::decompress_image(image_data, width, height, 16, &Kernel::dxt5);
}

}  // namespace ferngate_dat
