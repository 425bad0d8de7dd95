// End-to-end: the coverage walk, its report and its verdicts, through the built program.
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "archive_writer.hpp"
#include "jpeg_streams.hpp"
#include "program_runner.hpp"
#include "temp_dir.hpp"
#include "texture_records.hpp"

namespace {

using ferngate_dat::DatFileEntry;
using ferngate_testing::ArchiveBuilder;
using ferngate_testing::TextureRecord;
namespace raw = ferngate_testing::raw_format;

constexpr char kHeader[] =
    "\n=== Texture (0x06/0x07) format distribution in retail portal.dat ===\n";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// An archive made file by file: texture records, other files, and entries that cannot be read.
class CoverageArchive {
 public:
  void add(std::uint32_t id, const TextureRecord& record, bool compress = false) {
    add_bytes(id, ferngate_testing::encode_texture(record), compress);
  }
  void add_bytes(std::uint32_t id, const std::vector<std::uint8_t>& bytes, bool compress = false) {
    const auto stored = compress ? ferngate_testing::compress_lrs(bytes) : bytes;
    entries_.push_back(DatFileEntry{compress ? 1U : 0U, id, builder_.add_chain(stored),
                                    static_cast<std::uint32_t>(stored.size()), 0, 1});
  }
  // An entry whose stored size is larger than the whole archive: its fetch fails.
  void add_unreadable(std::uint32_t id) {
    entries_.push_back(DatFileEntry{0, id, ArchiveBuilder::kFirstBlock, 0x7FFFFFF0, 0, 1});
  }
  std::vector<std::uint8_t> image() {
    ArchiveBuilder copy = builder_;
    copy.header().root_offset = ferngate_testing::write_directory(copy, entries_);
    return copy.finish();
  }

 private:
  ArchiveBuilder builder_{1024};
  std::vector<DatFileEntry> entries_;
};

TextureRecord a8(std::uint8_t grey) {
  return {.width = 1, .height = 1, .format_raw = raw::kA8, .source_data = {grey}};
}
TextureRecord r5g6b5() {
  return {.width = 2,
          .height = 2,
          .format_raw = raw::kR5G6B5,
          .source_data = std::vector<std::uint8_t>(8, 0x5A)};
}
TextureRecord p8(std::optional<std::uint32_t> palette) {
  return {.width = 2,
          .height = 1,
          .format_raw = raw::kP8,
          .source_data = {0, 1},
          .default_palette_id = palette};
}
TextureRecord dxt1() {
  return {.width = 4,
          .height = 4,
          .format_raw = raw::kDxt1,
          .source_data = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0xE4, 0xE4, 0xE4}};
}
TextureRecord with_format(std::uint32_t format_raw) {
  return {.width = 1, .height = 1, .format_raw = format_raw, .source_data = {1, 2, 3, 4}};
}

// Textures that convert: `a8_count` A8, 300 R5G6B5 (a third stored compressed), 50 P8 with a
// palette and 51 DXT1; and files under other top bytes whose bytes are no texture at all.
void add_good_textures(CoverageArchive& archive, std::uint32_t a8_count) {
  for (std::uint32_t i = 0; i < a8_count; ++i) archive.add(0x06000000 + i, a8(i & 0xFF));
  for (std::uint32_t i = 0; i < 300; ++i) archive.add(0x07000000 + i, r5g6b5(), i % 3 == 0);
  for (std::uint32_t i = 0; i < 50; ++i) archive.add(0x06100000 + i, p8(0x04000001));
  for (std::uint32_t i = 0; i < 51; ++i) archive.add(0x06200000 + i, dxt1(), i % 2 == 0);
  for (const std::uint32_t id : {0x05FFFFFFU, 0x08000000U, 0x01000001U}) {
    archive.add_bytes(id, {0xDE, 0xAD});
  }
}

class CoverageTest : public testing::Test {
 protected:
  ferngate_testing::ProgramResult run(CoverageArchive& archive) {
    const auto path = dir_ / "portal.dat";
    ferngate_testing::write_file(path, archive.image());
    return ferngate_testing::run_program(FERNGATE_COVERAGE_PROGRAM, {},
                                         {{"FERNGATE_PORTAL_DAT", path.string()}});
  }

  static void expect_stop(const ferngate_testing::ProgramResult& result,
                          const std::string& message) {
    EXPECT_EQ(result.exit_code, 101) << result.out << result.err;
    EXPECT_NE(result.out.find("Failure\n" + message + "\n"), std::string::npos) << result.out;
  }

  ferngate_testing::TempDir dir_;
};

TEST_F(CoverageTest, PassesWithTheWholeReport) {
  CoverageArchive archive;
  add_good_textures(archive, 600);
  // A JPEG record whose own size differs from its stream's: the stream's size decides.
  archive.add(0x07100000, {.width = 256,
                           .height = 256,
                           .format_raw = raw::kJpeg,
                           .source_data = ferngate_testing::encode({.width = 20, .height = 10})});
  const auto result = run(archive);
  EXPECT_EQ(result.exit_code, 0) << result.out;
  EXPECT_EQ(result.err,
            std::string(kHeader) +
                "  R5G6B5                         =    300 records  (format_raw = 23)\n"
                "  A8                             =    600 records  (format_raw = 28)\n"
                "  P8                             =     50 records  (format_raw = 41)\n"
                "  CustomRawJpeg                  =      1 records  (format_raw = 500)\n"
                "  Dxt1                           =     51 records  (format_raw = 827611204)\n"
                "  TOTAL                          =   1002\n"
                "\n"
                "  decoded_ok        = 952\n"
                "  palette_ok        = 50\n"
                "  parse_failures    = 0\n"
                "  decode_failures   = 0\n"
                "  palette_missing   = 0\n");
}

TEST_F(CoverageTest, ExactlyOneThousandTexturesIsImplausiblyFew) {
  CoverageArchive archive;
  add_good_textures(archive, 599);
  const auto result = run(archive);
  expect_stop(result,
              "implausibly low retail Texture count (950 decoded + 50 palette-skipped) — DAT file "
              "may be truncated");
  EXPECT_NE(result.err.find("  decoded_ok        = 950\n  palette_ok        = 50\n"),
            std::string::npos);
}

TEST_F(CoverageTest, ArchiveWithoutTexturesReportsNothingAndStops) {
  CoverageArchive archive;
  archive.add_bytes(0x05000001, {1, 2, 3});
  archive.add_unreadable(0x08000002);  // never fetched: not a texture ID
  const auto result = run(archive);
  EXPECT_EQ(result.err, std::string(kHeader) +
                            "  TOTAL                          =      0\n"
                            "\n"
                            "  decoded_ok        = 0\n"
                            "  palette_ok        = 0\n"
                            "  parse_failures    = 0\n"
                            "  decode_failures   = 0\n"
                            "  palette_missing   = 0\n");
  expect_stop(result,
              "implausibly low retail Texture count (0 decoded + 0 palette-skipped) — DAT file may "
              "be truncated");
}

TEST_F(CoverageTest, ParseFailuresShowTenAndCountAll) {
  CoverageArchive archive;
  std::set<std::string> possible;
  for (std::uint32_t i = 0; i < 6; ++i) {
    archive.add_unreadable(0x06000A00 + i);
    possible.insert(fmt::format(
        "  PARSE FAIL 0x{:08X}: get_file: IO error: failed to fill whole buffer", 0x06000A00 + i));
    TextureRecord negative = a8(1);
    negative.length = -1;
    archive.add(0x07000B00 + i, negative);
    possible.insert(
        fmt::format("  PARSE FAIL 0x{:08X}: unpack: BinRead(AssertFail {{ pos: 24, message: "
                    "\"count -1 out of range of usize\" }})",
                    0x07000B00 + i));
  }
  archive.add(0x06000C00, with_format(999));  // would fail a later verdict
  archive.add(0x06000C01, a8(9));

  const auto result = run(archive);
  EXPECT_EQ(result.err.substr(0, result.err.find("\n  PARSE FAIL")),
            std::string(kHeader) +
                "  A8                             =      1 records  (format_raw = 28)\n"
                "  Other(0x000003E7 = 999)        =      1 records  (format_raw = 999)\n"
                "  TOTAL                          =      2\n"
                "\n"
                "  decoded_ok        = 1\n"
                "  palette_ok        = 0\n"
                "  parse_failures    = 12\n"
                "  decode_failures   = 1\n"
                "  palette_missing   = 0");
  std::set<std::string> shown;
  for (const auto& line : lines_of(result.err)) {
    if (line.starts_with("  PARSE FAIL")) {
      EXPECT_TRUE(possible.contains(line)) << line;
      shown.insert(line);
    }
  }
  EXPECT_EQ(shown.size(), 10U);
  expect_stop(result, "12 retail Texture records failed to parse");
}

TEST_F(CoverageTest, FormatOutsideTheKnownSetNamesTheSmallest) {
  CoverageArchive archive;
  archive.add(0x06000001, with_format(5000));
  archive.add(0x06000002, with_format(999));
  archive.add(0x06000003, with_format(5000));
  archive.add(0x06000004, a8(3));
  const auto result = run(archive);
  EXPECT_EQ(result.err,
            std::string(kHeader) +
                "  A8                             =      1 records  (format_raw = 28)\n"
                "  Other(0x000003E7 = 999)        =      1 records  (format_raw = 999)\n"
                "  Other(0x00001388 = 5000)       =      2 records  (format_raw = 5000)\n"
                "  TOTAL                          =      4\n"
                "\n"
                "  decoded_ok        = 1\n"
                "  palette_ok        = 0\n"
                "  parse_failures    = 0\n"
                "  decode_failures   = 3\n"
                "  palette_missing   = 0\n");
  expect_stop(result,
              "retail uses format value 999 (0x000003E7) that's not in our SurfacePixelFormat enum "
              "— add it. brackwater's enum at external/brackwater/Source/Tessel.Entity/Enum/"
              "SurfacePixelFormat has the canonical name.");
}

TEST_F(CoverageTest, DecodeFailuresAreGroupedByFormat) {
  CoverageArchive archive;
  add_good_textures(archive, 600);
  const std::uint32_t short_ids[] = {0x06000E00, 0x06000E01, 0x06000E02, 0x06000E03};
  for (const auto id : short_ids)
    archive.add(id, {.width = 1, .height = 1, .format_raw = raw::kR8G8B8, .source_data = {1, 2}});
  archive.add(0x06000F00, with_format(0));
  for (const std::uint32_t id : {0x07000F01U, 0x07000F02U}) {
    archive.add(id, {.width = -1,
                     .height = 1,
                     .format_raw = raw::kDxt5,
                     .source_data = std::vector<std::uint8_t>(16)});
  }
  const auto result = run(archive);
  EXPECT_NE(result.err.find("  decode_failures   = 7\n  palette_missing   = 0\n\n  Decode failures "
                            "grouped by format:\n    Unknown (raw=0): 1 records, sample ids = "
                            "[100667136]\n    R8G8B8 (raw=20): 4 records, sample ids = ["),
            std::string::npos)
      << result.err;

  const std::set<std::string> possible_samples = {
      "    sample decode fail 0x06000E00: to_rgba8: source_data too short for declared "
      "width/height",
      "    sample decode fail 0x06000E01: to_rgba8: source_data too short for declared "
      "width/height",
      "    sample decode fail 0x06000E02: to_rgba8: source_data too short for declared "
      "width/height",
      "    sample decode fail 0x06000E03: to_rgba8: source_data too short for declared "
      "width/height",
      "    sample decode fail 0x06000F00: to_rgba8: unsupported pixel format: Unknown",
      "    sample decode fail 0x07000F01: to_rgba8: width * height overflowed usize",
      "    sample decode fail 0x07000F02: to_rgba8: width * height overflowed usize",
  };
  std::size_t samples = 0;
  for (const auto& line : lines_of(result.err)) {
    if (line.starts_with("    R8G8B8 (raw=20)")) {
      // Three of the four IDs, in walk order: 100666880 to 100666883.
      EXPECT_EQ(
          line.size(),
          std::string(
              "    R8G8B8 (raw=20): 4 records, sample ids = [100666880, 100666881, 100666882]")
              .size())
          << line;
    } else if (line.starts_with("    Dxt5 (raw=894720068)")) {
      EXPECT_TRUE(
          line == "    Dxt5 (raw=894720068): 2 records, sample ids = [117444353, 117444354]" ||
          line == "    Dxt5 (raw=894720068): 2 records, sample ids = [117444354, 117444353]")
          << line;
    } else if (line.starts_with("    sample decode fail")) {
      ++samples;
      EXPECT_TRUE(possible_samples.contains(line)) << line;
    }
  }
  EXPECT_EQ(samples, 5U);
  expect_stop(result,
              "7 retail Texture records failed to decode via to_rgba8 — unhandled "
              "SurfacePixelFormat(s) listed above. Add dispatch arms in "
              "crates/ferngate-dat/src/file_type/texture::to_rgba8.");
}

}  // namespace
