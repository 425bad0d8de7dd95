#include "sample_archive.hpp"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include "encoders.hpp"
#include "images.hpp"
#include "texture_records.hpp"

namespace ferngate_sample {

namespace {

using ferngate_dat::Palette;
using ferngate_testing::TextureRecord;
namespace raw = ferngate_testing::raw_format;

// Families of derived seeds: one generator plans the archive, and every texture, palette and
// other file draws from a generator of its own.
enum Stream : std::uint64_t { kPlan = 1, kTexture, kPalette, kOther, kLayout };

struct Weighted {
  std::uint32_t value;
  std::uint32_t weight;
};

template <std::size_t N>
std::uint32_t pick(Random& random, const Weighted (&table)[N]) {
  std::uint32_t total = 0;
  for (const Weighted& w : table) total += w.weight;
  std::uint32_t roll = random.below(total);
  for (const Weighted& w : table) {
    if (roll < w.weight) return w.value;
    roll -= w.weight;
  }
  return table[N - 1].value;
}

// Fisher-Yates with our own bounded draws (std::shuffle's differ between standard libraries).
template <typename T>
void shuffle(Random& random, std::vector<T>& items) {
  for (std::size_t i = items.size(); i > 1; --i) {
    std::swap(items[i - 1], items[random.below(static_cast<std::uint32_t>(i))]);
  }
}

// Share of each pixel format among the texture records, per mille. Every format appears once
// before the rest are drawn from this mix, so even a small archive holds them all.
constexpr Weighted kFormatMix[] = {
    {raw::kDxt1, 480},    {raw::kDxt5, 260},   {raw::kDxt3, 20},         {raw::kDxt2, 5},
    {raw::kDxt4, 5},      {raw::kR8G8B8, 25},  {raw::kA8R8G8B8, 30},     {raw::kR5G6B5, 30},
    {raw::kA4R4G4B4, 25}, {raw::kA8, 20},      {raw::kLscapeR8G8B8, 20}, {raw::kLscapeAlpha, 20},
    {raw::kP8, 25},       {raw::kIndex16, 15}, {raw::kJpeg, 20},
};

// Side lengths: block-compressed textures run up to 512; uncompressed ones, up to eight times
// larger per pixel, stop at 256. Both are mostly 32 to 128.
constexpr Weighted kBlockSides[] = {{32, 360}, {64, 380}, {128, 190}, {256, 60}, {512, 10}};
constexpr Weighted kPlainSides[] = {{32, 50}, {64, 35}, {128, 13}, {256, 2}};

// Top bytes of the non-texture records, weighted.
constexpr Weighted kOtherPrefixes[] = {{0x01, 35}, {0x02, 15}, {0x03, 10}, {0x08, 20},
                                       {0x0A, 8},  {0x0D, 10}, {0x0E, 2}};

constexpr std::uint32_t kPalettePrefix = 0x04;
constexpr std::size_t kSmallPalette = 256;
constexpr std::size_t kLargePalette = 2048;

// Palette `index` lies at 0x04000100 + 5 * index; even ones have 256 colours, odd ones 2048.
std::uint32_t palette_id(std::size_t index) {
  return (kPalettePrefix << 24) + 0x100 + 5 * static_cast<std::uint32_t>(index);
}
std::size_t palette_size(std::size_t index) {
  return index % 2 == 0 ? kSmallPalette : kLargePalette;
}

bool is_block_format(std::uint32_t format) {
  return format == raw::kDxt1 || format == raw::kDxt2 || format == raw::kDxt3 ||
         format == raw::kDxt4 || format == raw::kDxt5;
}

// Everything about a texture record that is decided before its pixels are painted.
struct TexturePlan {
  std::uint32_t id = 0;
  std::uint32_t format_raw = 0;
  int width = 0;
  int height = 0;
  std::optional<std::uint32_t> palette_id;
  std::size_t palette_size = 0;
  bool compress = false;
  std::uint64_t seed = 0;
};

std::pair<int, int> plan_size(Random& random, std::uint32_t format) {
  if (format == raw::kJpeg && random.chance(500)) {
    // Photographic sources come in any size.
    return {random.between(24, 300), random.between(24, 300)};
  }
  const bool blocks = is_block_format(format);
  if (blocks && random.chance(15)) {
    // Small odd sizes whose edge blocks are partly outside the image.
    return {random.between(1, 60), random.between(1, 60)};
  }
  const int largest = blocks ? 512 : 256;
  const int side = static_cast<int>(blocks ? pick(random, kBlockSides) : pick(random, kPlainSides));
  int width = side;
  int height = side;
  if (random.chance(200)) {
    // Non-square: the other side is a quarter, a half, twice or four times as long.
    static constexpr int kShifts[] = {-2, -1, 1, 2};
    const int shift = kShifts[random.below(4)];
    height = std::clamp(shift < 0 ? side >> -shift : side << shift, 32, largest);
    if (random.chance(500)) std::swap(width, height);
  }
  return {width, height};
}

std::vector<TexturePlan> plan_textures(const SampleOptions& options, std::size_t palette_count) {
  Random random(derive_seed(options.seed, kPlan, 0));
  const std::size_t count = options.texture_count;
  std::vector<std::uint32_t> formats(count);
  for (std::size_t i = 0; i < count; ++i) {
    formats[i] = i < std::size(kFormatMix) ? kFormatMix[i].value : pick(random, kFormatMix);
  }
  shuffle(random, formats);

  // IDs climb from a base in small random steps, so each prefix has gaps as a grown archive does.
  std::uint32_t next_id[2] = {0x06000100, 0x07000040};
  std::vector<TexturePlan> plans(count);
  for (std::size_t i = 0; i < count; ++i) {
    TexturePlan& plan = plans[i];
    // The first two records guarantee both prefixes; after that about one in ten is 0x07.
    int prefix = 0;
    if (i == 1) prefix = 1;
    if (i > 1) prefix = random.chance(100) ? 1 : 0;
    next_id[prefix] += static_cast<std::uint32_t>(random.between(1, 4));
    plan.id = next_id[prefix];
    plan.format_raw = formats[i];
    std::tie(plan.width, plan.height) = plan_size(random, plan.format_raw);
    // About a fifth are stored compressed; the first one always is.
    plan.compress = i == 0 || random.chance(200);
    if (plan.format_raw == raw::kP8 || plan.format_raw == raw::kIndex16) {
      // P8 takes any palette; Index16 needs a large one.
      const auto pairs = static_cast<std::uint32_t>(palette_count / 2);
      const std::size_t index = plan.format_raw == raw::kIndex16
                                    ? 2 * std::size_t{random.below(pairs)} + 1
                                    : random.below(2 * pairs);
      plan.palette_id = palette_id(index);
      plan.palette_size = palette_size(index);
    }
    plan.seed = derive_seed(options.seed, kTexture, i);
  }
  return plans;
}

// Colours pre-multiplied by their alpha, as DXT2 and DXT4 store them.
void premultiply(Image& image) {
  for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
    const std::uint32_t a = image.rgba[i + 3];
    for (std::size_t c = 0; c < 3; ++c) {
      image.rgba[i + c] = static_cast<std::uint8_t>((image.rgba[i + c] * a + 127) / 255);
    }
  }
}

StoredFile make_texture(const TexturePlan& plan) {
  Random random(plan.seed);
  TextureRecord record;
  record.id = plan.id;
  record.width = plan.width;
  record.height = plan.height;
  record.format_raw = plan.format_raw;
  record.default_palette_id = plan.palette_id;
  const int w = plan.width;
  const int h = plan.height;
  switch (plan.format_raw) {
    case raw::kDxt1:
      record.source_data = encode_blocks(paint_image(random, w, h, false), BlockLayout::Dxt1);
      break;
    case raw::kDxt2:
    case raw::kDxt4: {
      Image image = paint_image(random, w, h, true);
      premultiply(image);
      record.source_data = encode_blocks(
          image, plan.format_raw == raw::kDxt2 ? BlockLayout::Dxt3 : BlockLayout::Dxt5);
      break;
    }
    case raw::kDxt3:
      record.source_data = encode_blocks(paint_image(random, w, h, true), BlockLayout::Dxt3);
      break;
    case raw::kDxt5:
      record.source_data = encode_blocks(paint_image(random, w, h, true), BlockLayout::Dxt5);
      break;
    case raw::kR8G8B8:
    case raw::kLscapeR8G8B8:
    case raw::kR5G6B5:
      record.source_data = pack_pixels(paint_image(random, w, h, false), plan.format_raw);
      break;
    case raw::kA8R8G8B8:
    case raw::kA4R4G4B4:
      record.source_data = pack_pixels(paint_image(random, w, h, true), plan.format_raw);
      break;
    case raw::kA8:
    case raw::kLscapeAlpha:
    case raw::kP8:
    case raw::kIndex16: {
      // One value per pixel straight from a pattern: a grey level, or an index into the palette.
      const std::vector<std::uint16_t> field = paint_field(random, w, h);
      record.source_data.reserve(field.size() * (plan.format_raw == raw::kIndex16 ? 2 : 1));
      for (const std::uint16_t v : field) {
        if (plan.format_raw == raw::kIndex16) {
          const auto index = static_cast<std::uint32_t>(v * plan.palette_size >> 16);
          record.source_data.push_back(static_cast<std::uint8_t>(index));
          record.source_data.push_back(static_cast<std::uint8_t>(index >> 8));
        } else {
          record.source_data.push_back(static_cast<std::uint8_t>(v >> 8));
        }
      }
      break;
    }
    case raw::kJpeg: {
      const bool greyscale = random.chance(300);
      const int quality = random.between(60, 92);
      auto stream = encode_jpeg(paint_image(random, w, h, false), greyscale, quality);
      if (!stream) throw std::runtime_error("JPEG compression failed (out of memory)");
      record.source_data = std::move(*stream);
      break;
    }
    default:
      break;
  }
  return StoredFile{plan.id, ferngate_testing::encode_texture(record), plan.compress};
}

std::vector<StoredFile> make_palettes(const SampleOptions& options, std::size_t count) {
  std::vector<StoredFile> files;
  for (std::size_t i = 0; i < count; ++i) {
    Random random(derive_seed(options.seed, kPalette, i));
    Palette palette;
    palette.id = palette_id(i);
    palette.colors = paint_ramp(random, palette_size(i), random.chance(200));
    files.push_back(StoredFile{palette.id, encode_palette(palette), random.chance(100)});
  }
  return files;
}

// Opaque records of other kinds, which the coverage check never fetches: the file ID, then words
// that look like small counts, flags, floats and hashes.
std::vector<StoredFile> make_others(const SampleOptions& options, std::size_t count) {
  Random plan(derive_seed(options.seed, kOther, 0));
  std::uint32_t next_id[256] = {};
  std::vector<StoredFile> files;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t prefix = pick(plan, kOtherPrefixes);
    if (next_id[prefix] == 0) next_id[prefix] = prefix << 24 | 0x80;
    next_id[prefix] += static_cast<std::uint32_t>(plan.between(1, 8));
    const std::uint32_t id = next_id[prefix];

    Random random(derive_seed(options.seed, kOther, i + 1));
    const int base = 48 << random.between(0, 8);
    const std::size_t words = static_cast<std::size_t>(base + random.between(0, base)) / 4;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(words * 4);
    for (std::size_t k = 0; k < words; ++k) {
      std::uint32_t word = id;
      if (k > 0) {
        const std::uint32_t kind = random.below(10);
        if (kind < 5) {
          word = random.below(256);  // a count, an index or a flag
        } else if (kind < 8) {
          // A float in [-8, 8): sign, exponent 127..129, any mantissa.
          word = random.below(2) << 31 | (127 + random.below(3)) << 23 |
                 static_cast<std::uint32_t>(random.next() & 0x7FFFFF);
        } else {
          word = static_cast<std::uint32_t>(random.next());
        }
      }
      for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<std::uint8_t>(word >> shift));
    }
    files.push_back(StoredFile{id, std::move(bytes), plan.chance(100)});
  }
  return files;
}

// Runs work(0) ... work(count - 1) on `threads` threads, the caller's included; rethrows the
// first exception once all have stopped.
template <typename Work>
void run_parallel(std::size_t count, unsigned threads, Work work) {
  std::atomic<std::size_t> next{0};
  std::mutex failure_lock;
  std::exception_ptr failure;
  auto worker = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < count;) {
      try {
        work(i);
      } catch (...) {
        const std::lock_guard lock(failure_lock);
        if (!failure) failure = std::current_exception();
        next.store(count);
        return;
      }
    }
  };
  {
    std::vector<std::jthread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);
    worker();
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace

std::vector<StoredFile> sample_files(const SampleOptions& options) {
  if (options.texture_count > kMaxTextureCount) {
    throw std::invalid_argument("texture count above " + std::to_string(kMaxTextureCount));
  }
  const std::size_t count = options.texture_count;
  // An even number of palettes, so that there are as many large ones as small ones.
  const std::size_t palette_count = 2 * std::max<std::size_t>(2, count / 800);
  const std::size_t other_count = 100 + count / 40;

  const std::vector<TexturePlan> plans = plan_textures(options, palette_count);
  std::vector<StoredFile> files(count);
  unsigned threads = options.threads != 0 ? options.threads : std::thread::hardware_concurrency();
  threads =
      static_cast<unsigned>(std::clamp<std::size_t>(threads, 1, std::max<std::size_t>(1, count)));
  run_parallel(count, threads, [&](std::size_t i) { files[i] = make_texture(plans[i]); });

  std::vector<StoredFile> palettes = make_palettes(options, palette_count);
  std::vector<StoredFile> others = make_others(options, other_count);
  std::move(palettes.begin(), palettes.end(), std::back_inserter(files));
  std::move(others.begin(), others.end(), std::back_inserter(files));
  std::sort(files.begin(), files.end(),
            [](const StoredFile& a, const StoredFile& b) { return a.id < b.id; });
  return files;
}

ferngate_testing::ArchiveOptions sample_layout(const SampleOptions& options) {
  if (options.block_size < kMinBlockSize || options.block_size > kMaxBlockSize) {
    throw std::invalid_argument("block size outside " + std::to_string(kMinBlockSize) + ".." +
                                std::to_string(kMaxBlockSize));
  }
  ferngate_testing::ArchiveOptions layout;
  layout.block_size = options.block_size;
  layout.seed = derive_seed(options.seed, kLayout, 0);
  layout.scatter = !options.adjacent_blocks;
  return layout;
}

std::vector<std::uint8_t> sample_archive(const SampleOptions& options) {
  const ferngate_testing::ArchiveOptions layout = sample_layout(options);
  const std::vector<StoredFile> files = sample_files(options);
  return ferngate_testing::write_archive(files, layout);
}

std::vector<std::uint8_t> encode_palette(const Palette& palette) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(8 + 4 * palette.colors.size());
  const auto put = [&bytes](std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
      bytes.push_back(static_cast<std::uint8_t>(v >> shift));
  };
  put(palette.id);
  put(static_cast<std::uint32_t>(palette.colors.size()));
  for (const std::uint32_t color : palette.colors) put(color);
  return bytes;
}

std::optional<Palette> decode_palette(std::span<const std::uint8_t> bytes) {
  const auto get = [&bytes](std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
  };
  if (bytes.size() < 8) return std::nullopt;
  const std::uint32_t count = get(4);
  if ((bytes.size() - 8) / 4 < count) return std::nullopt;
  Palette palette;
  palette.id = get(0);
  palette.colors.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) palette.colors.push_back(get(8 + 4 * std::size_t{i}));
  return palette;
}

}  // namespace ferngate_sample
