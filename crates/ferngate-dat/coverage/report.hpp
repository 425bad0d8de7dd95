// The check's report on standard error and its five verdicts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tallies.hpp"

namespace ferngate_coverage {

/// The name of a raw format value in the distribution: its format's debug name, or
/// "Other(0x000003E7 = 999)" for a value outside the known set.
std::string distribution_name(std::uint32_t raw);

/// The header, one line per raw format value in ascending order, and the TOTAL line.
void print_distribution(const Tallies& tallies, std::FILE* out);

/// The five counters, their "=" signs in one column.
void print_counters(const Tallies& tallies, std::FILE* out);

/// Tests the verdicts in order; the first that fails prints its detail lines and stops the check.
void check_verdicts(const Tallies& tallies, std::FILE* out);

}  // namespace ferngate_coverage
