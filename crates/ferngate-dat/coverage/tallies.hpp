// What the coverage walk counts: one plain struct, filled by the walk, printed by the report
// and read by the verdicts.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ferngate_coverage {

struct Tallies {
  /// Every record that parsed, by its raw format value.
  std::map<std::uint32_t, std::uint64_t> format_counts;
  /// File IDs whose conversion returned an error, by raw format value, in walk order.
  std::map<std::uint32_t, std::vector<std::uint32_t>> unsupported_format_ids;
  /// Records whose fetch or parse failed, with the failure's text.
  std::vector<std::pair<std::uint32_t, std::string>> parse_failures;
  /// Conversion errors and buffer-size mismatches, with their text.
  std::vector<std::pair<std::uint32_t, std::string>> decode_failures;
  /// Palette-format records without a default palette ID.
  std::vector<std::uint32_t> palette_missing;
  /// Records converted to a buffer of the expected length.
  std::uint64_t decoded_ok = 0;
  /// Palette-format records that carry a default palette ID.
  std::uint64_t palette_ok = 0;
};

}  // namespace ferngate_coverage
