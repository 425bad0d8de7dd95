// The verification program's one check: locate the archive, open it, walk every texture record,
// print the report and reach the verdicts.
#pragma once

#include <exception>
#include <filesystem>
#include <optional>
#include <string>

namespace ferngate_coverage {

/// How the check stops: the runner entry catches it and fails the check with `what()`.
class CheckFailure : public std::exception {
 public:
  explicit CheckFailure(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

/// Ends the check at once; the check fails with exactly `message`.
[[noreturn]] void stop(std::string message);

/// The library's locator, then the fixed location of the maintainers' retail archive.
std::optional<std::filesystem::path> retail_portal_dat_path();

/// The check: returns normally on a pass or a skip, and stops on a failure.
void texture_format_coverage_against_retail_portal_dat();

}  // namespace ferngate_coverage
