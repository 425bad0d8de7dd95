// The failures of a walk over many textures, printed once at the end.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ferngate_cli {

/// A texture ID and why it failed, the text starting with its stage ("get_file: …").
using Failures = std::vector<std::pair<std::uint32_t, std::string>>;

/// "1 texture", "2 textures".
[[nodiscard]] std::string count_of(std::size_t count, std::string_view noun);

/// Prints to standard error "N textures failed: 2 get_file, 1 to_rgba8", then the first twenty
/// failures one per line and how many more there were.
void print_failures(const Failures& failures);

}  // namespace ferngate_cli
