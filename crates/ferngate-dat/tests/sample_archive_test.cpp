// The sample archive of make-sample-archive: the same options give the same bytes whatever the
// thread count, the archive holds the whole retail-like mix, every texture record in it converts,
// and the block encoder lays out its blocks (and DXT3's explicit alpha) the way the decoders read
// them.
#include <algorithm>
#include <cstdint>
#include <expected>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "encoders.hpp"
#include "file_type/dxt.hpp"
#include "file_type/texture.hpp"
#include "lib.hpp"
#include "sample_archive.hpp"
#include "temp_dir.hpp"
#include "texture_records.hpp"

namespace ferngate_dat {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ferngate_sample::SampleOptions;
namespace raw = ferngate_testing::raw_format;

SampleOptions small_sample() {
  SampleOptions options;
  options.texture_count = 300;
  options.seed = 42;
  options.block_size = 512;
  options.threads = 2;
  return options;
}

class SampleArchiveTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ferngate_testing::TempDir;
    image_ = new Bytes(ferngate_sample::sample_archive(small_sample()));
    const auto path = *dir_ / "portal.dat";
    ferngate_testing::write_file(path, *image_);
    auto opened = DatDatabase::open(path);
    ASSERT_TRUE(opened.has_value()) << opened.error().debug();
    db_ = new DatDatabase(std::move(*opened));
  }
  static void TearDownTestSuite() {
    delete db_;
    delete image_;
    delete dir_;
  }

  void SetUp() override { ASSERT_NE(db_, nullptr) << "the sample archive did not open"; }

  static bool is_texture(std::uint32_t id) { return id >> 24 == 0x06 || id >> 24 == 0x07; }

  static Texture texture(std::uint32_t id) {
    auto bytes = db_->get_file(id);
    EXPECT_TRUE(bytes.has_value()) << bytes.error().debug();
    auto parsed = Texture::unpack(bytes.value_or(Bytes{}));
    EXPECT_TRUE(parsed.has_value()) << fmt::format("{:08X}: {}", id, parsed.error().debug());
    return parsed.value_or(Texture{});
  }

  static inline ferngate_testing::TempDir* dir_ = nullptr;
  static inline Bytes* image_ = nullptr;
  static inline DatDatabase* db_ = nullptr;
};

TEST_F(SampleArchiveTest, SameOptionsGiveSameBytesAndEveryOptionChangesThem) {
  struct Case {
    const char* name;
    SampleOptions options;
    bool same;
  };
  std::vector<Case> cases;
  cases.push_back({"one thread", small_sample(), true});
  cases.back().options.threads = 1;
  cases.push_back({"another seed", small_sample(), false});
  cases.back().options.seed = 43;
  cases.push_back({"another block size", small_sample(), false});
  cases.back().options.block_size = 1024;
  cases.push_back({"one texture more", small_sample(), false});
  cases.back().options.texture_count = 301;
  cases.push_back({"adjacent blocks", small_sample(), false});
  cases.back().options.adjacent_blocks = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes image = ferngate_sample::sample_archive(c.options);
    EXPECT_EQ(image == *image_, c.same);
  }
}

TEST_F(SampleArchiveTest, AdjacentLayoutHoldsTheSameFilesEachInOneRunOfBlocks) {
  SampleOptions options = small_sample();
  options.adjacent_blocks = true;
  const Bytes image = ferngate_sample::sample_archive(options);
  const auto path = *dir_ / "adjacent.dat";
  ferngate_testing::write_file(path, image);
  const auto adjacent = DatDatabase::open(path);
  ASSERT_TRUE(adjacent.has_value()) << adjacent.error().debug();
  ASSERT_EQ(adjacent->files().size(), db_->files().size());
  std::size_t scattered_chains = 0;
  for (const auto& [id, entry] : adjacent->files()) {
    SCOPED_TRACE(fmt::format("{:08X}", id));
    EXPECT_EQ(adjacent->get_file(id).value(), db_->get_file(id).value());
    for (std::uint32_t at = entry.offset, next = 0; at != 0; at = next) {
      next = ferngate_testing::get_u32(image, at);
      if (next != 0 && next != at + options.block_size) {
        ADD_FAILURE() << fmt::format("block 0x{:08X} links to 0x{:08X}", at, next);
        break;
      }
    }
    const DatFileEntry& scattered = db_->files().at(id);
    const std::uint32_t second = ferngate_testing::get_u32(*image_, scattered.offset);
    if (second != 0 && second != scattered.offset + options.block_size) ++scattered_chains;
  }
  // The default layout, for contrast, breaks most chains of more than one block.
  EXPECT_GT(scattered_chains, db_->files().size() / 2);
}

TEST_F(SampleArchiveTest, HoldsEveryFormatBothPrefixesCompressedAndOtherFiles) {
  const std::uint32_t formats[] = {
      raw::kR8G8B8, raw::kA8R8G8B8, raw::kR5G6B5,       raw::kA4R4G4B4,    raw::kA8,
      raw::kP8,     raw::kIndex16,  raw::kLscapeR8G8B8, raw::kLscapeAlpha, raw::kJpeg,
      raw::kDxt1,   raw::kDxt2,     raw::kDxt3,         raw::kDxt4,        raw::kDxt5};
  std::set<std::uint32_t> seen_formats;
  std::set<std::uint32_t> prefixes;
  std::size_t textures = 0, compressed_textures = 0, others = 0, compressed_others = 0;
  std::size_t palettes = 0;
  for (const auto& [id, entry] : db_->files()) {
    prefixes.insert(id >> 24);
    if (is_texture(id)) {
      ++textures;
      if (entry.is_compressed()) ++compressed_textures;
      seen_formats.insert(texture(id).format_raw);
    } else {
      ++others;
      if (entry.is_compressed()) ++compressed_others;
      if (id >> 24 == 0x04) ++palettes;
    }
  }
  EXPECT_EQ(textures, 300U);
  for (const std::uint32_t format : formats) {
    EXPECT_TRUE(seen_formats.contains(format)) << SurfacePixelFormat::from_u32(format).debug();
  }
  EXPECT_EQ(seen_formats.size(), std::size(formats));
  EXPECT_TRUE(prefixes.contains(0x06));
  EXPECT_TRUE(prefixes.contains(0x07));
  // About a fifth stored compressed.
  EXPECT_GT(compressed_textures, textures / 10);
  EXPECT_LT(compressed_textures, textures * 3 / 10);
  EXPECT_GT(palettes, 0U);
  EXPECT_GT(others, palettes);
  EXPECT_GT(compressed_others, 0U);
}

TEST_F(SampleArchiveTest, EveryTextureConvertsWithItsExactDataSize) {
  // The palettes come from the archive itself, as a game client would fetch them.
  auto palette_for = [](std::uint32_t id) -> std::expected<Palette, TextureDecodeError> {
    auto bytes = db_->get_file(id);
    if (!bytes) return std::unexpected(TextureDecodeError::palette_fetch(bytes.error().message()));
    auto palette = ferngate_sample::decode_palette(*bytes);
    if (!palette) return std::unexpected(TextureDecodeError::palette_fetch("short palette"));
    return *palette;
  };
  std::size_t patterned = 0, textures = 0;
  for (const auto& [id, entry] : db_->files()) {
    if (!is_texture(id)) continue;
    ++textures;
    const Texture t = texture(id);
    SCOPED_TRACE(fmt::format("{:08X} {} {}x{}", id, t.format(), t.width, t.height));
    ASSERT_GT(t.width, 0);
    ASSERT_GT(t.height, 0);
    const auto w = static_cast<std::size_t>(t.width);
    const auto h = static_cast<std::size_t>(t.height);
    const std::size_t blocks = ((w + 3) / 4) * ((h + 3) / 4);
    std::optional<std::size_t> data_size;
    switch (t.format().kind()) {
      using Kind = SurfacePixelFormat::Kind;
      case Kind::Dxt1:
        data_size = blocks * 8;
        break;
      case Kind::Dxt2:
      case Kind::Dxt3:
      case Kind::Dxt4:
      case Kind::Dxt5:
        data_size = blocks * 16;
        break;
      case Kind::A8R8G8B8:
        data_size = w * h * 4;
        break;
      case Kind::R8G8B8:
      case Kind::CustomLscapeR8G8B8:
        data_size = w * h * 3;
        break;
      case Kind::R5G6B5:
      case Kind::A4R4G4B4:
      case Kind::Index16:
        data_size = w * h * 2;
        break;
      case Kind::A8:
      case Kind::CustomLscapeAlpha:
      case Kind::P8:
        data_size = w * h;
        break;
      case Kind::CustomRawJpeg:
        EXPECT_EQ(t.jpeg_dimensions(),
                  std::make_pair(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h)));
        break;
      default:
        ADD_FAILURE() << "format outside the sample's mix";
    }
    if (data_size) {
      EXPECT_EQ(t.source_data.size(), *data_size);
    }
    EXPECT_EQ(t.default_palette_id.has_value(), t.format().needs_palette());

    const auto rgba = t.to_rgba8(palette_for);
    ASSERT_TRUE(rgba.has_value()) << rgba.error().message();
    ASSERT_EQ(rgba->size(), w * h * 4);
    for (std::size_t i = 4; i < rgba->size(); i += 4) {
      if (!std::equal(rgba->begin(), rgba->begin() + 4, rgba->begin() + i)) {
        ++patterned;
        break;
      }
    }
  }
  // Pictures, not flat fills; only the tiniest odd-sized ones may come out of one colour.
  EXPECT_GT(patterned, textures * 9 / 10);
}

TEST(SampleBlockEncoderTest, BlocksDecodeBackToThePictureWithEdgesPadded) {
  using ferngate_sample::BlockLayout;
  struct Case {
    BlockLayout layout;
    int width;
    int height;
  };
  const Case cases[] = {{BlockLayout::Dxt1, 16, 8}, {BlockLayout::Dxt1, 5, 3},
                        {BlockLayout::Dxt3, 13, 7}, {BlockLayout::Dxt3, 1, 1},
                        {BlockLayout::Dxt5, 6, 9},  {BlockLayout::Dxt5, 16, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(fmt::format("layout {} {}x{}", static_cast<int>(c.layout), c.width, c.height));
    // Colours along one line through RGB space, which four-colour blocks follow closely, moving
    // steeply enough from block to block that a misplaced block or edge stands out.
    ferngate_sample::Image image{c.width, c.height, {}};
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        const int t = x * 12 + y * 3;
        image.rgba.insert(image.rgba.end(),
                          {static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(255 - t),
                           static_cast<std::uint8_t>(t / 2), static_cast<std::uint8_t>(255 - t)});
      }
    }
    const Bytes blocks = ferngate_sample::encode_blocks(image, c.layout);
    const auto w = static_cast<std::uint32_t>(c.width);
    const auto h = static_cast<std::uint32_t>(c.height);
    const std::size_t block_count = ((w + 3) / 4) * ((h + 3) / 4);
    Bytes decoded;
    switch (c.layout) {
      case BlockLayout::Dxt1:
        ASSERT_EQ(blocks.size(), block_count * 8);
        decoded = decompress_dxt1(blocks, w, h);
        break;
      case BlockLayout::Dxt3:
        ASSERT_EQ(blocks.size(), block_count * 16);
        decoded = decompress_dxt3(blocks, w, h);
        break;
      case BlockLayout::Dxt5:
        ASSERT_EQ(blocks.size(), block_count * 16);
        decoded = decompress_dxt5(blocks, w, h);
        break;
    }
    ASSERT_EQ(decoded.size(), image.rgba.size());
    for (std::size_t i = 0; i < decoded.size(); ++i) {
      const int want = image.rgba[i];
      const int got = decoded[i];
      if (i % 4 != 3) {
        EXPECT_NEAR(got, want, 20) << "channel " << i % 4 << " of pixel " << i / 4;
      } else if (c.layout == BlockLayout::Dxt1) {
        EXPECT_EQ(got, 255) << "pixel " << i / 4;
      } else if (c.layout == BlockLayout::Dxt3) {
        EXPECT_EQ(got, (want >> 4) * 17) << "pixel " << i / 4;
      } else {
        EXPECT_NEAR(got, want, 20) << "pixel " << i / 4;
      }
    }
  }
}

}  // namespace
}  // namespace ferngate_dat
