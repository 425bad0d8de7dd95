// Archives made to hurt a reader: loops, impossible sizes, absurd dimensions. Each must end in a
// clear error from texture_format_coverage, never a crash, a hang or a huge allocation. The tests
// run the program on them, and a script measures its time and memory on each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ferngate_testing {

struct HostileArchive {
  std::string name;
  std::vector<std::uint8_t> image;
  /// The check's stop message, or its start where a source line number follows.
  std::string stop;
  /// Lines the report must hold (each matched from its start), e.g. a PARSE FAIL line.
  std::vector<std::string> report_lines;
};

[[nodiscard]] std::vector<HostileArchive> hostile_archives();

}  // namespace ferngate_testing
