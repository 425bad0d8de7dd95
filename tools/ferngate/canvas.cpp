#include "canvas.hpp"

#include <algorithm>
#include <cstddef>

#include "bitmap_font.hpp"

namespace ferngate_cli {

namespace {

constexpr int kCheckerSquare = 4;
constexpr std::uint32_t kCheckerLight = 0xCC;
constexpr std::uint32_t kCheckerDark = 0x88;

}  // namespace

Canvas::Canvas(int width, int height, Rgb background)
    : width_(std::max(width, 0)), height_(std::max(height, 0)) {
  pixels_.resize(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 3);
  fill(0, 0, width_, height_, background);
}

Rgb Canvas::at(int x, int y) const {
  const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                         static_cast<std::size_t>(x)) *
                        3;
  return {pixels_[i], pixels_[i + 1], pixels_[i + 2]};
}

void Canvas::put(int x, int y, Rgb color) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                         static_cast<std::size_t>(x)) *
                        3;
  pixels_[i] = color.r;
  pixels_[i + 1] = color.g;
  pixels_[i + 2] = color.b;
}

void Canvas::fill(int x, int y, int w, int h, Rgb color) {
  for (int row = std::max(y, 0); row < std::min(y + h, height_); ++row) {
    for (int col = std::max(x, 0); col < std::min(x + w, width_); ++col) put(col, row, color);
  }
}

void Canvas::text(int x, int y, std::string_view text, int scale, Rgb color) {
  for (const char ch : text) {
    const GlyphRows& rows = glyph(ch);
    for (int row = 0; row < kGlyphHeight; ++row) {
      for (int col = 0; col < kGlyphWidth; ++col) {
        if ((rows[static_cast<std::size_t>(row)] >> (kGlyphWidth - 1 - col) & 1U) == 0) continue;
        fill(x + col * scale, y + row * scale, scale, scale, color);
      }
    }
    x += kGlyphAdvance * scale;
  }
}

void Canvas::thumbnail(int x, int y, int box, const DecodedTexture& texture) {
  const std::uint64_t src_w = texture.width;
  const std::uint64_t src_h = texture.height;
  if (src_w == 0 || src_h == 0 || box <= 0) return;
  // The longer side fills the box; the shorter keeps the ratio, at least one pixel.
  const auto side = static_cast<std::uint64_t>(box);
  const std::uint64_t dst_w =
      src_w >= src_h ? side : std::max<std::uint64_t>(1, side * src_w / src_h);
  const std::uint64_t dst_h =
      src_h >= src_w ? side : std::max<std::uint64_t>(1, side * src_h / src_w);
  const int left = x + static_cast<int>((side - dst_w) / 2);
  const int top = y + static_cast<int>((side - dst_h) / 2);

  for (std::uint64_t dy = 0; dy < dst_h; ++dy) {
    // The source rows and columns this pixel covers; at least one when enlarging.
    const std::uint64_t y0 = dy * src_h / dst_h;
    const std::uint64_t y1 = std::max(y0 + 1, (dy + 1) * src_h / dst_h);
    for (std::uint64_t dx = 0; dx < dst_w; ++dx) {
      const std::uint64_t x0 = dx * src_w / dst_w;
      const std::uint64_t x1 = std::max(x0 + 1, (dx + 1) * src_w / dst_w);
      // Sums of colour weighted by alpha, and of alpha, over the covered source pixels.
      std::uint64_t r = 0;
      std::uint64_t g = 0;
      std::uint64_t b = 0;
      std::uint64_t a = 0;
      for (std::uint64_t sy = y0; sy < y1; ++sy) {
        const std::uint8_t* px = &texture.rgba[(sy * src_w + x0) * 4];
        for (std::uint64_t sx = x0; sx < x1; ++sx, px += 4) {
          r += std::uint64_t{px[0]} * px[3];
          g += std::uint64_t{px[1]} * px[3];
          b += std::uint64_t{px[2]} * px[3];
          a += px[3];
        }
      }
      const std::uint64_t count = (y1 - y0) * (x1 - x0);
      const int cx = left + static_cast<int>(dx);
      const int cy = top + static_cast<int>(dy);
      const bool light = ((dx / kCheckerSquare) + (dy / kCheckerSquare)) % 2 == 0;
      const std::uint64_t behind = light ? kCheckerLight : kCheckerDark;
      // colour over checker: (sum(c·a) + checker·(255·count − sum(a))) / (255·count)
      const std::uint64_t full = 255 * count;
      const auto blend = [&](std::uint64_t weighted) {
        return static_cast<std::uint8_t>((weighted + behind * (full - a) + full / 2) / full);
      };
      put(cx, cy, {blend(r), blend(g), blend(b)});
    }
  }
}

}  // namespace ferngate_cli
