// How a SIMD block kernel covers a run of blocks with a decoder that takes a fixed group of them
// at a time. Included by each kernel's translation unit: everything here has internal linkage,
// so every unit keeps its own copy, compiled for its own instruction set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ferngate_dat::dxt_detail {
namespace {  // NOLINT(cert-dcl59-cpp): one copy per instruction set, as said above

// `decode_group(src, dst, stride)` decodes kGroup blocks of kBlockSize bytes stored one after
// the other at `src` into kGroup 4 x 4 texel tiles side by side at `dst`, rows `stride` apart.

// The blocks after the last whole group of a run of `count` blocks.
template <std::size_t kGroup, std::size_t kBlockSize, auto decode_group>
[[gnu::noinline]] void finish_group_run(const std::uint8_t* src, std::size_t count,
                                        std::uint8_t* dst, std::size_t stride) {
  if (count >= kGroup) {
    // The last whole group again: the overlap is written twice with the same bytes.
    const std::size_t last = count - kGroup;
    decode_group(src + last * kBlockSize, dst + last * 16, stride);
    return;
  }
  // Fewer blocks than a group: decode them with zero blocks after them into a tile.
  constexpr std::size_t kTileStride = kGroup * 16;
  alignas(32) std::uint8_t blocks[kGroup * kBlockSize] = {};
  alignas(32) std::uint8_t tile[4 * kTileStride];
  std::memcpy(blocks, src, count * kBlockSize);
  decode_group(blocks, tile, kTileStride);
  for (std::size_t r = 0; r < 4; ++r) {
    std::memcpy(dst + r * stride, tile + r * kTileStride, count * 16);
  }
}

// Decodes `count` blocks at `src`, as the kernels' RunFn promises.
template <std::size_t kGroup, std::size_t kBlockSize, auto decode_group>
void run_in_groups(const std::uint8_t* src, std::size_t count, std::uint8_t* dst,
                   std::size_t stride) {
  std::size_t i = 0;
  for (; i + kGroup <= count; i += kGroup) {
    decode_group(src + i * kBlockSize, dst + i * 16, stride);
  }
  if (i == count) return;
  finish_group_run<kGroup, kBlockSize, decode_group>(src, count, dst, stride);
}

}  // namespace
}  // namespace ferngate_dat::dxt_detail
