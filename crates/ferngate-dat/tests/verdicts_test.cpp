// The verdicts on tallies made by hand, for outcomes that a well-formed archive cannot produce
// through the walk (a parsed palette record always carries its palette ID; a correct decoder
// never returns a buffer of the wrong size).
#include <cstdio>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "check.hpp"
#include "report.hpp"

namespace ferngate_coverage {
namespace {

struct Outcome {
  std::string printed;
  std::optional<std::string> stop;
};

Outcome verdicts(const Tallies& tallies) {
  std::FILE* out = std::tmpfile();
  Outcome outcome;
  try {
    check_verdicts(tallies, out);
  } catch (const CheckFailure& failure) {
    outcome.stop = failure.what();
  }
  std::rewind(out);
  for (int ch = std::fgetc(out); ch != EOF; ch = std::fgetc(out)) {
    outcome.printed.push_back(static_cast<char>(ch));
  }
  std::fclose(out);
  return outcome;
}

TEST(Verdicts, PaletteRecordsWithoutPaletteShowTenAndCountAll) {
  Tallies tallies;
  tallies.decoded_ok = 5000;
  tallies.format_counts[41] = 11;
  for (std::uint32_t i = 0; i < 11; ++i) tallies.palette_missing.push_back(0x06000000 + i);
  tallies.decode_failures.emplace_back(0x06000100, "to_rgba8: never shown");
  const Outcome outcome = verdicts(tallies);
  std::string expected;
  for (int i = 0; i < 10; ++i) expected += fmt::format("  PALETTE MISSING 0x0600000{}\n", i);
  EXPECT_EQ(outcome.printed, expected);
  EXPECT_EQ(outcome.stop, "11 palette-format retail textures missing default_palette_id");
}

TEST(Verdicts, BufferSizeMismatchesAloneHaveNoGroupLines) {
  Tallies tallies;
  tallies.decoded_ok = 5000;
  tallies.format_counts[500] = 6;
  for (std::uint32_t i = 0; i < 6; ++i) {
    tallies.decode_failures.emplace_back(0x0700AB00 + i,
                                         "buffer len 16 != expected w*h*4 = 0 (w=0, h=0)");
  }
  const Outcome outcome = verdicts(tallies);
  EXPECT_EQ(outcome.printed,
            "\n"
            "  Decode failures grouped by format:\n"
            "    sample decode fail 0x0700AB00: buffer len 16 != expected w*h*4 = 0 (w=0, h=0)\n"
            "    sample decode fail 0x0700AB01: buffer len 16 != expected w*h*4 = 0 (w=0, h=0)\n"
            "    sample decode fail 0x0700AB02: buffer len 16 != expected w*h*4 = 0 (w=0, h=0)\n"
            "    sample decode fail 0x0700AB03: buffer len 16 != expected w*h*4 = 0 (w=0, h=0)\n"
            "    sample decode fail 0x0700AB04: buffer len 16 != expected w*h*4 = 0 (w=0, h=0)\n");
  EXPECT_EQ(outcome.stop,
            "6 retail Texture records failed to decode via to_rgba8 — unhandled "
            "SurfacePixelFormat(s) listed above. Add dispatch arms in "
            "crates/ferngate-dat/src/file_type/texture::to_rgba8.");
}

TEST(Verdicts, FirstFailingVerdictDecides) {
  Tallies tallies;
  tallies.format_counts[999] = 1;
  tallies.palette_missing = {1};
  tallies.decode_failures.emplace_back(2, "to_rgba8: x");
  tallies.parse_failures.emplace_back(0x0600ABCD,
                                      "get_file: IO error: failed to fill whole buffer");
  Outcome outcome = verdicts(tallies);
  EXPECT_EQ(outcome.printed,
            "  PARSE FAIL 0x0600ABCD: get_file: IO error: failed to fill whole buffer\n");
  EXPECT_EQ(outcome.stop, "1 retail Texture records failed to parse");

  tallies.parse_failures.clear();
  outcome = verdicts(tallies);
  EXPECT_EQ(outcome.printed, "");
  EXPECT_TRUE(outcome.stop->starts_with("retail uses format value 999 (0x000003E7)"));
}

TEST(Verdicts, PassNeedsMoreThanOneThousandTextures) {
  Tallies tallies;
  tallies.decoded_ok = 600;
  tallies.palette_ok = 401;
  EXPECT_EQ(verdicts(tallies).stop, std::nullopt);
  tallies.palette_ok = 400;
  EXPECT_EQ(verdicts(tallies).stop,
            "implausibly low retail Texture count (600 decoded + 400 palette-skipped) — DAT file "
            "may be truncated");
}

}  // namespace
}  // namespace ferngate_coverage
