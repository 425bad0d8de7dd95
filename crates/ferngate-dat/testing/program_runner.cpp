#include "program_runner.hpp"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "temp_dir.hpp"

namespace ferngate_testing {

namespace {

std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

ProgramResult run_program(const std::filesystem::path& program,
                          const std::vector<std::string>& args,
                          const std::map<std::string, std::optional<std::string>>& env,
                          int timeout_seconds) {
  std::vector<std::string> env_strings;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string name(text.substr(0, text.find('=')));
    if (!env.contains(name)) env_strings.emplace_back(text);
  }
  for (const auto& [name, value] : env) {
    if (value) env_strings.push_back(name + "=" + *value);
  }
  std::vector<char*> envp;
  envp.reserve(env_strings.size() + 1);
  for (auto& entry : env_strings) envp.push_back(entry.data());
  envp.push_back(nullptr);

  std::vector<std::string> argv_strings = {program.string()};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(argv_strings.size() + 1);
  for (auto& arg : argv_strings) argv.push_back(arg.data());
  argv.push_back(nullptr);

  // Output goes to files, so a chatty program can never block on a full pipe.
  TempDir dir;
  const auto out_path = dir / "stdout";
  const auto err_path = dir / "stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);

  ProgramResult result;
  if (spawned != 0) {
    result.err = std::string("cannot start program: ") + std::generic_category().message(spawned);
    return result;
  }

  int status = 0;
  for (int waited_ms = 0;; waited_ms += 10) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (waited_ms >= timeout_seconds * 1000) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    usleep(10000);
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = slurp(out_path);
  result.err = slurp(err_path);
  return result;
}

}  // namespace ferngate_testing
