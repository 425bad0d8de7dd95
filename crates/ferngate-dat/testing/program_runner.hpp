// Runs a built program as a child process and collects its exit status and output, for the
// end-to-end tests.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ferngate_testing {

struct ProgramResult {
  /// The exit status, or -1 when the program did not exit normally (a signal ended it).
  int exit_code = -1;
  /// The signal that ended the program, or 0.
  int signal = 0;
  std::string out;
  std::string err;
};

/// Runs `program` with `args`; `env` changes the inherited environment: a value sets a variable,
/// nullopt removes it. The program is killed after `timeout_seconds`.
ProgramResult run_program(const std::filesystem::path& program,
                          const std::vector<std::string>& args,
                          const std::map<std::string, std::optional<std::string>>& env,
                          int timeout_seconds = 120);

}  // namespace ferngate_testing
