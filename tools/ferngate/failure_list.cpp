#include "failure_list.hpp"

#include <cstdio>
#include <map>

#include <fmt/format.h>

namespace ferngate_cli {

namespace {

constexpr std::size_t kListedFailures = 20;

}  // namespace

std::string count_of(std::size_t count, std::string_view noun) {
  return fmt::format("{} {}{}", count, noun, count == 1 ? "" : "s");
}

void print_failures(const Failures& failures) {
  if (failures.empty()) return;
  // Counted by stage: a broken decoder shows as one large count.
  std::map<std::string, std::size_t> by_stage;
  for (const auto& [id, reason] : failures) ++by_stage[reason.substr(0, reason.find(':'))];
  std::string out = fmt::format("{} failed:", count_of(failures.size(), "texture"));
  for (const auto& [stage, count] : by_stage) out += fmt::format(" {} {},", count, stage);
  out.back() = '\n';
  for (std::size_t i = 0; i < failures.size() && i < kListedFailures; ++i) {
    out += fmt::format("  0x{:08X}: {}\n", failures[i].first, failures[i].second);
  }
  if (failures.size() > kListedFailures) {
    out += fmt::format("  ... and {} more\n", failures.size() - kListedFailures);
  }
  fmt::print(stderr, "{}", out);
}

}  // namespace ferngate_cli
