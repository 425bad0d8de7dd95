// End-to-end: the built ferngate tool's subcommands on an archive made here.
#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include <gtest/gtest.h>
#include <png.h>

#include "archive_writer.hpp"
#include "file_type/texture.hpp"
#include "jpeg_streams.hpp"
#include "lib.hpp"
#include "program_runner.hpp"
#include "temp_dir.hpp"
#include "texture_records.hpp"

namespace {

using ferngate_dat::DatDatabase;
using ferngate_dat::Palette;
using ferngate_dat::Texture;
using ferngate_dat::TextureDecodeError;
using ferngate_testing::ProgramResult;
using ferngate_testing::StoredFile;
using ferngate_testing::TextureRecord;
using Bytes = std::vector<std::uint8_t>;
namespace raw = ferngate_testing::raw_format;

// The files of the test archive: opaque files under other top bytes, one texture of each kind of
// conversion (some stored compressed), and textures that cannot be exported.
constexpr std::uint32_t kOpaque = 0x01000001;
constexpr std::uint32_t kOpaqueCompressed = 0x01000002;
constexpr std::uint32_t kPalettes = 0x04000001;
constexpr std::uint32_t kRgb = 0x06000001;
constexpr std::uint32_t kArgb = 0x06000002;  // stored compressed
constexpr std::uint32_t kDxt1 = 0x06000003;
constexpr std::uint32_t kP8 = 0x06000004;
constexpr std::uint32_t kJpeg = 0x06000005;
constexpr std::uint32_t kIndex16 = 0x07000001;
constexpr std::uint32_t kUnknownFormat = 0x06000006;  // to_rgba8 refuses it
constexpr std::uint32_t kTruncated = 0x06000007;      // unpack fails
constexpr std::uint32_t kEmpty = 0x07000002;          // 0 x 0: no PNG can hold it

const std::vector<std::uint32_t> kGoodTextures = {kRgb, kArgb, kDxt1, kP8, kJpeg, kIndex16};

std::vector<StoredFile> test_files() {
  const auto texture = [](std::uint32_t id, const TextureRecord& record, bool compress = false) {
    return StoredFile{id, ferngate_testing::encode_texture(record), compress};
  };
  Bytes opaque(300);
  for (std::size_t i = 0; i < opaque.size(); ++i) opaque[i] = static_cast<std::uint8_t>(i * 7);
  return {
      {kOpaque, opaque},
      {kOpaqueCompressed, Bytes(5000, 0xAB), true},
      {kPalettes, {1, 2, 3, 4}},
      // Four different channels per pixel, so that any swap or loss shows.
      texture(kRgb, {.width = 2,
                     .height = 2,
                     .format_raw = raw::kR8G8B8,
                     .source_data = {1, 2, 3, 40, 50, 60, 70, 80, 90, 200, 210, 220}}),
      texture(kArgb,
              {.width = 2,
               .height = 1,
               .format_raw = raw::kA8R8G8B8,
               .source_data = {10, 20, 30, 0x80, 200, 100, 50, 0x00}},
              true),
      texture(kDxt1, {.width = 4,
                      .height = 4,
                      .format_raw = raw::kDxt1,
                      .source_data = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0xE4, 0xE4, 0xE4}}),
      texture(kP8, {.width = 4,
                    .height = 1,
                    .format_raw = raw::kP8,
                    .source_data = {0, 1, 128, 255},
                    .default_palette_id = kPalettes}),
      // The record's own size differs from its stream's: the stream's decides.
      texture(kJpeg, {.width = 256,
                      .height = 256,
                      .format_raw = raw::kJpeg,
                      .source_data = ferngate_testing::encode({.width = 20, .height = 10})}),
      texture(kIndex16, {.width = 3,
                         .height = 1,
                         .format_raw = raw::kIndex16,
                         .source_data = {0, 0, 0x00, 0x02, 0x00, 0x04},
                         .default_palette_id = kPalettes}),
      texture(kUnknownFormat, {.width = 1, .height = 1, .format_raw = 999, .source_data = {1}}),
      {kTruncated, {1, 2, 3}},
      texture(kEmpty, {.width = 0, .height = 0, .format_raw = raw::kA8}),
  };
}

struct Png {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  Bytes rgba;
};

// Reads a PNG with libpng as 8-bit RGBA.
std::optional<Png> read_png(const std::filesystem::path& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return std::nullopt;
  image.format = PNG_FORMAT_RGBA;
  Png png{image.width, image.height, Bytes(PNG_IMAGE_SIZE(image))};
  if (png_image_finish_read(&image, nullptr, png.rgba.data(), 0, nullptr) == 0) {
    png_image_free(&image);
    return std::nullopt;
  }
  return png;
}

// What `texture` and `export` must write for a good texture: to_rgba8's pixels, palette formats
// through the grey ramp (P8 index i as grey i; Index16 from black at 0 to white at the highest
// index used, here 0x400).
Png expected_png(const DatDatabase& dat, std::uint32_t id) {
  if (id == kP8)
    return {4, 1, {0, 0, 0, 255, 1, 1, 1, 255, 128, 128, 128, 255, 255, 255, 255, 255}};
  if (id == kIndex16) return {3, 1, {0, 0, 0, 255, 127, 127, 127, 255, 255, 255, 255, 255}};
  const auto texture = Texture::unpack(dat.get_file(id).value()).value();
  auto rgba = texture.to_rgba8([](std::uint32_t) -> std::expected<Palette, TextureDecodeError> {
    return std::unexpected(TextureDecodeError::palette_fetch("no palette here"));
  });
  const auto size = texture.jpeg_dimensions().value_or(std::pair{texture.width, texture.height});
  return {static_cast<std::uint32_t>(size.first), static_cast<std::uint32_t>(size.second),
          rgba.value()};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class CliTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ferngate_testing::write_file(archive_, ferngate_testing::write_archive(files_)));
    auto dat = DatDatabase::open(archive_);
    ASSERT_TRUE(dat.has_value());
    dat_.emplace(std::move(*dat));
  }

  static ProgramResult ferngate(const std::vector<std::string>& args) {
    return ferngate_testing::run_program(FERNGATE_PROGRAM, args, {});
  }

  ferngate_testing::TempDir dir_;
  std::filesystem::path archive_ = dir_ / "portal.dat";
  std::vector<StoredFile> files_ = test_files();
  std::optional<DatDatabase> dat_;
};

TEST_F(CliTest, LsListsFilesSortedByIdAndFiltersByTopByte) {
  const auto line = [this](std::uint32_t id) {
    const auto& entry = dat_->files().at(id);
    return fmt::format("0x{:08X} {:>10} {}\n", id, entry.size,
                       entry.is_compressed() ? "compressed" : "uncompressed");
  };
  std::vector<std::uint32_t> all;
  for (const auto& file : files_) all.push_back(file.id);
  std::sort(all.begin(), all.end());
  const std::vector<std::uint32_t> textures07 = {kIndex16, kEmpty};
  std::vector<std::uint32_t> textures;
  std::copy_if(all.begin(), all.end(), std::back_inserter(textures),
               [](std::uint32_t id) { return id >> 24 == 6 || id >> 24 == 7; });

  const struct {
    std::vector<std::string> filter;
    std::vector<std::uint32_t> ids;
  } cases[] = {
      {{}, all},
      {{"--type", "0x07"}, textures07},
      {{"--type", "6", "-t", "0x07"}, textures},
      {{"--type", "0x05"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(fmt::format("filter {}", fmt::join(c.filter, " ")));
    std::vector<std::string> args = {"ls", archive_.string()};
    args.insert(args.end(), c.filter.begin(), c.filter.end());
    const auto result = ferngate(args);
    std::string expected;
    for (const std::uint32_t id : c.ids) expected += line(id);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.err, "");
  }
  // The archive's compressed entries say so.
  EXPECT_EQ(line(kArgb).substr(22), "compressed\n");
}

TEST_F(CliTest, InfoShowsSizesCountsByTopByteAndTheHeader) {
  const auto result = ferngate({"info", archive_.string()});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const std::uint64_t length = std::filesystem::file_size(archive_);
  const auto& header = dat_->header();
  const std::string summary = fmt::format(
      "archive           {}\n"
      "file size         {} bytes; header file_size {}\n"
      "block size        1024 bytes\n"
      "files             12 (2 stored compressed)\n"
      "files by top byte (textures are 0x06 and 0x07)\n"
      "  0x01            2\n"
      "  0x04            1\n"
      "  0x06            7\n"
      "  0x07            2\n"
      "header\n",
      archive_.string(), length, header.file_size);
  EXPECT_EQ(result.out.substr(0, summary.size()), summary);
  const auto lines = lines_of(result.out);
  for (const auto& [name, value] : {std::pair{"magic", header.magic},
                                    {"root_offset", header.root_offset},
                                    {"engine_version", header.engine_version},
                                    {"version_minor", header.version_minor}}) {
    const std::string expected = fmt::format("  {:<16}{} (0x{:08X})", name, value, value);
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
  }
  EXPECT_EQ(result.err, "");
}

TEST_F(CliTest, CatWritesTheStoredFileDecompressed) {
  for (const std::uint32_t id : {kOpaque, kOpaqueCompressed, kArgb, kTruncated}) {
    SCOPED_TRACE(fmt::format("0x{:08X}", id));
    const auto result = ferngate({"cat", archive_.string(), fmt::format("0x{:08X}", id)});
    const Bytes expected = dat_->get_file(id).value();
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(Bytes(result.out.begin(), result.out.end()), expected);
  }
  // Decimal IDs work too.
  EXPECT_EQ(ferngate({"cat", archive_.string(), std::to_string(kOpaque)}).out.size(), 300U);
}

TEST_F(CliTest, TextureWritesThePixelsOfToRgba8AsPng) {
  const std::map<std::uint32_t, std::string> names = {
      {kRgb, "R8G8B8"}, {kArgb, "A8R8G8B8"},      {kDxt1, "Dxt1"},
      {kP8, "P8"},      {kJpeg, "CustomRawJpeg"}, {kIndex16, "Index16"},
  };
  for (const auto& [id, name] : names) {
    SCOPED_TRACE(name);
    const auto out = dir_ / fmt::format("{}.png", name);
    const auto result =
        ferngate({"texture", archive_.string(), fmt::format("0x{:08x}", id), "-o", out.string()});
    const Png expected = expected_png(*dat_, id);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, fmt::format("0x{:08X}: {} {} x {} -> {}\n", id, name, expected.width,
                                      expected.height, out.string()));
    const auto png = read_png(out);
    ASSERT_TRUE(png.has_value());
    EXPECT_EQ(png->width, expected.width);
    EXPECT_EQ(png->height, expected.height);
    EXPECT_EQ(png->rgba, expected.rgba);
  }
}

TEST_F(CliTest, ExportWritesEveryGoodTextureAndReportsTheOthers) {
  const auto out = dir_ / "out" / "textures";  // made, parents included
  const auto result = ferngate({"export", archive_.string(), out.string()});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out, fmt::format("exported 6 of 9 textures to {}\n", out.string()));

  std::set<std::string> written;
  for (const auto& entry : std::filesystem::directory_iterator(out)) {
    written.insert(entry.path().filename().string());
  }
  std::set<std::string> expected_names;
  for (const std::uint32_t id : kGoodTextures) {
    SCOPED_TRACE(fmt::format("0x{:08X}", id));
    expected_names.insert(fmt::format("{:08X}.png", id));
    const auto png = read_png(out / fmt::format("{:08X}.png", id));
    ASSERT_TRUE(png.has_value());
    const Png expected = expected_png(*dat_, id);
    EXPECT_EQ(png->width, expected.width);
    EXPECT_EQ(png->rgba, expected.rgba);
  }
  EXPECT_EQ(written, expected_names);

  // The summary, the failures in ID order with their stage, and the one-line verdict; no
  // progress bar off a terminal.
  const auto lines = lines_of(result.err);
  ASSERT_EQ(lines.size(), 5U) << result.err;
  EXPECT_EQ(lines[0], "3 textures failed: 1 png, 1 to_rgba8, 1 unpack");
  EXPECT_EQ(lines[1], "  0x06000006: to_rgba8: unsupported pixel format: Other(999)");
  EXPECT_TRUE(lines[2].starts_with("  0x06000007: unpack: Binary read error: ")) << lines[2];
  EXPECT_EQ(lines[3], fmt::format("  0x07000002: png: cannot write {}: a PNG cannot hold an "
                                  "image of 0 x 0",
                                  (out / "07000002.png").string()));
  EXPECT_EQ(lines[4], "ferngate: 3 of 9 textures could not be exported");
}

TEST_F(CliTest, SheetDrawsTheSampleAndFailsWhenAThumbnailDoes) {
  // Only good textures: every format gets its group.
  std::vector<StoredFile> good;
  std::copy_if(files_.begin(), files_.end(), std::back_inserter(good), [](const StoredFile& f) {
    return std::find(kGoodTextures.begin(), kGoodTextures.end(), f.id) != kGoodTextures.end();
  });
  const auto good_archive = dir_ / "good.dat";
  ASSERT_FALSE(ferngate_testing::write_file(good_archive, ferngate_testing::write_archive(good)));
  const auto sheet = dir_ / "sheet.png";
  const auto result = ferngate({"sheet", good_archive.string(), "-o", sheet.string()});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.err, "");
  const auto png = read_png(sheet);
  ASSERT_TRUE(png.has_value());
  EXPECT_EQ(result.out, fmt::format("wrote {}: 6 thumbnails of 6 formats, {} x {} pixels\n",
                                    sheet.string(), png->width, png->height));

  // The whole archive: one record cannot be read, one format cannot be decoded; the sheet is
  // still written.
  const auto partial = ferngate({"sheet", archive_.string(), "-o", sheet.string()});
  EXPECT_EQ(partial.exit_code, 1);
  EXPECT_TRUE(
      partial.out.starts_with(fmt::format("wrote {}: 8 thumbnails of 8 formats, ", sheet.string())))
      << partial.out;
  EXPECT_TRUE(partial.err.ends_with(fmt::format(
      "ferngate: {} written with failures: 1 texture unreadable, 1 of 8 thumbnails failed to "
      "decode\n",
      sheet.string())))
      << partial.err;
}

TEST_F(CliTest, BadArgumentsAndFailuresGiveOneLineAndAStatus) {
  const auto not_an_archive = dir_ / "not-an-archive.dat";
  ASSERT_FALSE(ferngate_testing::write_file(not_an_archive, Bytes(100, 0)));
  const std::string a = archive_.string();
  const std::string png = (dir_ / "x.png").string();
  const struct {
    std::vector<std::string> args;
    int status;
    std::string message;  // the whole line after "ferngate: ", or its start when it ends in '*'
  } cases[] = {
      {{}, 2, "A subcommand is required (see ferngate --help)"},
      {{"bogus", a}, 2, "unknown command 'bogus' (see ferngate --help)"},
      {{"--frob"}, 2, "unknown option '--frob' (see ferngate --help)"},
      {{"ls"}, 2, "ARCHIVE is required (see ferngate ls --help)"},
      {{"ls", a, "--frob"}, 2, "The following argument was not expected: --frob*"},
      {{"ls", a, "--type", "0x100"}, 2, "invalid top byte '0x100': at most 0xFF (255)"},
      {{"cat", a, "zz"},
       2,
       "invalid file ID 'zz': expected hexadecimal after 0x or a decimal number"},
      {{"cat", a, "0x"}, 2, "invalid file ID '0x'*"},
      {{"cat", a, "-5"}, 2, "*"},
      {{"cat", a, "0x100000000"}, 2, "invalid file ID '0x100000000': at most 0xFFFFFFFF*"},
      {{"cat", a, "0x05000000"}, 1, fmt::format("no file 0x05000000 in {}", a)},
      {{"texture", a, "0x06000001"}, 2, "--output is required (see ferngate texture --help)"},
      {{"texture", a, "0x01000001", "-o", png},
       2,
       "0x01000001 is not a texture: texture IDs have the top byte 0x06 or 0x07"},
      {{"texture", a, "0x06000006", "-o", png},
       1,
       "0x06000006: to_rgba8: unsupported pixel format: Other(999)"},
      {{"texture", a, "0x06000001", "-o", "/nonexistent/x.png"},
       1,
       "cannot write /nonexistent/x.png: No such file or directory"},
      {{"info", (dir_ / "missing.dat").string()},
       1,
       fmt::format("cannot open {}: No such file or directory", (dir_ / "missing.dat").string())},
      {{"info", not_an_archive.string()},
       1,
       fmt::format("cannot read archive {}: *", not_an_archive.string())},
      {{"export", a, a}, 1, fmt::format("cannot create directory {}: *", a)},
      {{"sheet", a, "-o", png, "--thumb", "8"}, 2, "--thumb: *"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(fmt::format("ferngate {}", fmt::join(c.args, " ")));
    const auto result = ferngate(c.args);
    EXPECT_EQ(result.exit_code, c.status);
    EXPECT_EQ(result.out, "");
    ASSERT_EQ(lines_of(result.err).size(), 1U) << result.err;
    EXPECT_TRUE(result.err.ends_with("\n"));
    const std::string line = lines_of(result.err)[0];
    if (c.message.ends_with('*')) {
      const std::string start = "ferngate: " + c.message.substr(0, c.message.size() - 1);
      EXPECT_TRUE(line.starts_with(start)) << line;
    } else {
      EXPECT_EQ(line, "ferngate: " + c.message);
    }
  }
  EXPECT_FALSE(std::filesystem::exists(png));
}

TEST_F(CliTest, EveryCommandHasHelp) {
  const struct {
    std::vector<std::string> args;
    std::string mentions;
  } cases[] = {
      {{"--help"}, "Exit status: 0 done, 1 failed"},
      {{"info", "--help"}, "Usage: ferngate info [OPTIONS] ARCHIVE"},
      {{"ls", "-h"}, "-t,--type TOP_BYTE"},
      {{"cat", "--help"}, "Usage: ferngate cat [OPTIONS] ARCHIVE ID"},
      {{"texture", "--help"}, "grey ramp"},
      {{"export", "--help"}, "grey ramp"},
      {{"sheet", "--help"}, "grey ramp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(fmt::format("ferngate {}", fmt::join(c.args, " ")));
    const auto result = ferngate(c.args);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.out.find(c.mentions), std::string::npos) << result.out;
    EXPECT_EQ(result.err, "");
  }
}

}  // namespace
