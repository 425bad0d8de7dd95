// Runs of stored pixels of the uncompressed formats widened to RGBA8 (red, green, blue, alpha
// bytes). Each function converts `count` pixels from `in` (count times its bytes per pixel) to
// `out` (count x 4 bytes); the two ranges do not overlap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ferngate_dat::pixel_runs {

/// One grey byte a pixel (A8, CustomLscapeAlpha, greyscale JPEG): v becomes v, v, v, 0xFF.
void grey(const std::uint8_t* in, std::uint8_t* out, std::size_t count);
/// Blue, green, red (R8G8B8); alpha 0xFF.
void bgr(const std::uint8_t* in, std::uint8_t* out, std::size_t count);
/// Red, green, blue (CustomLscapeR8G8B8); alpha 0xFF.
void rgb(const std::uint8_t* in, std::uint8_t* out, std::size_t count);
/// Blue, green, red, alpha (A8R8G8B8).
void bgra(const std::uint8_t* in, std::uint8_t* out, std::size_t count);
/// Little-endian words, red in bits 15-11, green 10-5, blue 4-0 (R5G6B5), widened by bit
/// replication; alpha 0xFF.
void r5g6b5(const std::uint8_t* in, std::uint8_t* out, std::size_t count);
/// Little-endian words, alpha in bits 15-12, red 11-8, green 7-4, blue 3-0 (A4R4G4B4), each
/// nibble n widened to n x 17.
void a4r4g4b4(const std::uint8_t* in, std::uint8_t* out, std::size_t count);

/// The forms of bgr, rgb and bgra that run on any processor. The functions above use the SSSE3
/// forms where the processor has SSSE3, and these otherwise.
namespace portable {
void bgr(const std::uint8_t* in, std::uint8_t* out, std::size_t count);
void rgb(const std::uint8_t* in, std::uint8_t* out, std::size_t count);
void bgra(const std::uint8_t* in, std::uint8_t* out, std::size_t count);
}  // namespace portable

/// The SSSE3 forms, built on x86-64 only; to be called only where the processor has SSSE3.
namespace ssse3 {
void bgr(const std::uint8_t* in, std::uint8_t* out, std::size_t count);
void rgb(const std::uint8_t* in, std::uint8_t* out, std::size_t count);
void bgra(const std::uint8_t* in, std::uint8_t* out, std::size_t count);
}  // namespace ssse3

}  // namespace ferngate_dat::pixel_runs
