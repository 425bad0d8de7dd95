// Internals of the DXT decoders: the exact integer replacements for their arithmetic, and the
// block kernels (portable scalar, SSSE3, AVX2) with the choice between them.
//
// The SSSE3 and AVX2 kernels live in their own translation units compiled with -mssse3 and
// -mavx2. Those units include this header for its constants and declarations only: they must
// not call the inline functions below (a copy compiled with wider instructions could then be the
// one the linker keeps for the scalar code), which is why the kernels take raw pointers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ferngate_dat::dxt_detail {

// --- Exact integer replacements -------------------------------------------------------------
// Each is equal to the plain formula beside it over the whole input range given; dxt_test checks
// every value of every range.

// Expansion of a 5-bit channel v (0..31): t = v * 255 + 16, (t + (t >> 5)) >> 5
// equals (v * 263 + 16) >> 5. In 16-bit lanes this is one rounding high multiply:
// (x * m + 2^14) >> 15 with x = v << 10 and m = 263.
inline constexpr std::uint32_t kExpand5Multiplier = 263;
inline constexpr std::uint32_t kExpand5Bias = 16;
inline constexpr int kExpand5Shift = 5;
// Expansion of a 6-bit channel v (0..63): t = v * 255 + 32, (t + (t >> 6)) >> 6
// equals (v * 259 + 32) >> 6; in 16-bit lanes (x * 259 + 2^14) >> 15 with x = v << 9.
inline constexpr std::uint32_t kExpand6Multiplier = 259;
inline constexpr std::uint32_t kExpand6Bias = 32;
inline constexpr int kExpand6Shift = 6;

// x / 3 for x in 0..765 (2 * 255 + 255): (x * 21846) >> 16.
inline constexpr std::uint32_t kDiv3Multiplier = 21846;
inline constexpr std::uint32_t kDiv3Max = 765;
// x / 7 for x in 0..1785 (7 * 255): (x * 9363) >> 16.
inline constexpr std::uint32_t kDiv7Multiplier = 9363;
inline constexpr std::uint32_t kDiv7Max = 1785;
// x / 5 for x in 0..1275 (5 * 255): (x * 13108) >> 16.
inline constexpr std::uint32_t kDiv5Multiplier = 13108;
inline constexpr std::uint32_t kDiv5Max = 1275;

[[nodiscard]] constexpr std::uint32_t expand5(std::uint32_t v) {
  return (v * kExpand5Multiplier + kExpand5Bias) >> kExpand5Shift;
}
[[nodiscard]] constexpr std::uint32_t expand6(std::uint32_t v) {
  return (v * kExpand6Multiplier + kExpand6Bias) >> kExpand6Shift;
}
[[nodiscard]] constexpr std::uint32_t div3(std::uint32_t x) { return (x * kDiv3Multiplier) >> 16; }
[[nodiscard]] constexpr std::uint32_t div7(std::uint32_t x) { return (x * kDiv7Multiplier) >> 16; }
[[nodiscard]] constexpr std::uint32_t div5(std::uint32_t x) { return (x * kDiv5Multiplier) >> 16; }

// --- Kernels ----------------------------------------------------------------------------------

// Decodes `count` whole blocks stored one after the other from `src` into 4 x 4 texel tiles side
// by side: row r (0..3) of block i goes to the 16 bytes at dst + r * stride + 16 * i. All four
// rows of every block are written; clipping is the caller's business.
using RunFn = void (*)(const std::uint8_t* src, std::size_t count, std::uint8_t* dst,
                       std::size_t stride);

struct Kernel {
  RunFn dxt1;
  RunFn dxt3;
  RunFn dxt5;
};

enum class KernelId { kScalar, kSsse3, kAvx2 };

extern const Kernel kScalarKernel;
// Defined only in x86-64 builds (FERNGATE_DXT_X86_KERNELS).
extern const Kernel kSsse3Kernel;
extern const Kernel kAvx2Kernel;

/// Whether this build and this processor can run `id`.
[[nodiscard]] bool kernel_available(KernelId id);

/// The kernel the decoders use. On first use it is the best one available, unless the
/// environment variable FERNGATE_DXT_KERNEL (read once) names an available one: "scalar",
/// "ssse3" or "avx2".
[[nodiscard]] KernelId active_kernel();
[[nodiscard]] const Kernel& active_kernel_table();

/// Makes every later decode use `id` (for tests and fuzzing, which check each kernel on this
/// machine). Returns false, changing nothing, when `id` is not available.
bool use_kernel(KernelId id);

[[nodiscard]] std::string_view kernel_name(KernelId id);

}  // namespace ferngate_dat::dxt_detail
