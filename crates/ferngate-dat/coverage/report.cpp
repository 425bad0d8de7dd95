#include "report.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "check.hpp"
#include "file_type/texture.hpp"

namespace ferngate_coverage {

using ferngate_dat::SurfacePixelFormat;

namespace {

constexpr std::size_t kParseFailureSamples = 10;
constexpr std::size_t kPaletteMissingSamples = 10;
constexpr std::size_t kIdsPerFormatSample = 3;
constexpr std::size_t kDecodeFailureSamples = 5;
constexpr std::uint64_t kPlausibleTextureCount = 1000;

bool is_other(std::uint32_t raw) {
  return SurfacePixelFormat::from_u32(raw).kind() == SurfacePixelFormat::Kind::Other;
}

// "[1, 2, 3]": the first IDs of a list, in decimal.
std::string sample_ids(const std::vector<std::uint32_t>& ids) {
  const auto count = std::min(ids.size(), kIdsPerFormatSample);
  return fmt::format(
      "[{}]", fmt::join(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(count), ", "));
}

}  // namespace

std::string distribution_name(std::uint32_t raw) {
  if (is_other(raw)) return fmt::format("Other(0x{:08X} = {})", raw, raw);
  return fmt::format("{:?}", SurfacePixelFormat::from_u32(raw));
}

void print_distribution(const Tallies& tallies, std::FILE* out) {
  fmt::print(out, "\n=== Texture (0x06/0x07) format distribution in retail portal.dat ===\n");
  std::uint64_t total = 0;
  for (const auto& [raw, count] : tallies.format_counts) {
    fmt::print(out, "  {:30} = {:>6} records  (format_raw = {})\n", distribution_name(raw), count,
               raw);
    total += count;
  }
  fmt::print(out, "  {:30} = {:>6}\n", "TOTAL", total);
}

void print_counters(const Tallies& tallies, std::FILE* out) {
  fmt::print(out, "\n  decoded_ok        = {}\n", tallies.decoded_ok);
  fmt::print(out, "  palette_ok        = {}\n", tallies.palette_ok);
  fmt::print(out, "  parse_failures    = {}\n", tallies.parse_failures.size());
  fmt::print(out, "  decode_failures   = {}\n", tallies.decode_failures.size());
  fmt::print(out, "  palette_missing   = {}\n", tallies.palette_missing.size());
}

void check_verdicts(const Tallies& tallies, std::FILE* out) {
  if (!tallies.parse_failures.empty()) {
    const auto shown = std::min(tallies.parse_failures.size(), kParseFailureSamples);
    for (std::size_t i = 0; i < shown; ++i) {
      const auto& [id, text] = tallies.parse_failures[i];
      fmt::print(out, "  PARSE FAIL 0x{:08X}: {}\n", id, text);
    }
    stop(fmt::format("{} retail Texture records failed to parse", tallies.parse_failures.size()));
  }

  for (const auto& [raw, count] : tallies.format_counts) {
    if (is_other(raw)) {
      stop(fmt::format(
          "retail uses format value {} (0x{:08X}) that's not in our SurfacePixelFormat enum — add "
          "it. brackwater's enum at external/brackwater/Source/Tessel.Entity/Enum/"
          "SurfacePixelFormat has the canonical name.",
          raw, raw));
    }
  }

  if (!tallies.palette_missing.empty()) {
    const auto shown = std::min(tallies.palette_missing.size(), kPaletteMissingSamples);
    for (std::size_t i = 0; i < shown; ++i) {
      fmt::print(out, "  PALETTE MISSING 0x{:08X}\n", tallies.palette_missing[i]);
    }
    stop(fmt::format("{} palette-format retail textures missing default_palette_id",
                     tallies.palette_missing.size()));
  }

  if (!tallies.decode_failures.empty()) {
    fmt::print(out, "\n  Decode failures grouped by format:\n");
    for (const auto& [raw, ids] : tallies.unsupported_format_ids) {
      fmt::print(out, "    {:?} (raw={}): {} records, sample ids = {}\n",
                 SurfacePixelFormat::from_u32(raw), raw, ids.size(), sample_ids(ids));
    }
    const auto shown = std::min(tallies.decode_failures.size(), kDecodeFailureSamples);
    for (std::size_t i = 0; i < shown; ++i) {
      const auto& [id, text] = tallies.decode_failures[i];
      fmt::print(out, "    sample decode fail 0x{:08X}: {}\n", id, text);
    }
    stop(
        fmt::format("{} retail Texture records failed to decode via to_rgba8 — unhandled "
                    "SurfacePixelFormat(s) listed above. Add dispatch arms in "
                    "crates/ferngate-dat/src/file_type/texture::to_rgba8.",
                    tallies.decode_failures.size()));
  }

  if (tallies.decoded_ok + tallies.palette_ok <= kPlausibleTextureCount) {
    stop(fmt::format(
        "implausibly low retail Texture count ({} decoded + {} palette-skipped) — DAT file may be "
        "truncated",
        tallies.decoded_ok, tallies.palette_ok));
  }
}

}  // namespace ferngate_coverage
