// The whole coverage check on the sample archive (--sample_archive=PATH):
//   check/walk/sample    in this process: open the archive and walk its texture records as the
//                        check does (get_file, Texture::unpack, and for every format that needs
//                        no palette to_rgba8 with the check's size verification), timing
//                        get_file apart. Counters: fetch_share (share of the walk's time spent
//                        in get_file, both read on the monotonic clock), textures, decoded_ok,
//                        failures, and largest_record_mib (the largest record's stored bytes
//                        plus its RGBA8 output).
//   check/walk/adjacent  the same walk of the sample archive written with every file's blocks
//                        adjacent (--adjacent_archive=PATH): the reader on the layout of an
//                        archive written in one go.
//   check/program        the built texture_format_coverage on the archive, as a child process
//                        run under /usr/bin/time: its wall time, child_cpu_ms (its user + system
//                        CPU time) and peak_rss_mib (its maximum resident set size).
// Before the first of them runs on an archive, one untimed walk brings it into the page cache,
// so they measure the check, not the disk.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include "bench_data.hpp"
#include "file_type/texture.hpp"
#include "lib.hpp"
#include "tallies.hpp"
#include "temp_dir.hpp"
#include "walk.hpp"

extern char** environ;

namespace ferngate_bench {

namespace {

using ferngate_dat::DatDatabase;
using ferngate_dat::Texture;

// The monotonic clock in nanoseconds. It is read in user space; a thread CPU clock is a system
// call of about a microsecond, and reading it twice per record would add a sixth to the walk and
// skew the split between fetching and the rest. The walk runs on one thread with the archive in
// the page cache, so its elapsed time is its CPU time but for preemption, which falls on both
// sides alike.
std::int64_t monotonic_ns() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

struct ArchiveFacts {
  bool opened = false;
  std::uint64_t largest_record_bytes = 0;  // stored record + RGBA8 output, the largest of all
};

// The untimed first walk of an archive: warms the page cache and finds the largest record.
const ArchiveFacts& archive_facts(const std::filesystem::path& archive) {
  static std::map<std::filesystem::path, ArchiveFacts> known;
  if (const auto found = known.find(archive); found != known.end()) return found->second;
  ArchiveFacts& result = known[archive];
  auto dat = DatDatabase::open(archive);
  if (!dat) return result;
  result.opened = true;
  for (const auto& [id, entry] : dat->files()) {
    if (!ferngate_coverage::is_texture_id(id)) continue;
    const auto bytes = dat->get_file(id);
    if (!bytes) continue;
    const auto texture = Texture::unpack(*bytes);
    if (!texture) continue;
    std::uint64_t width = static_cast<std::uint32_t>(texture->width);
    std::uint64_t height = static_cast<std::uint32_t>(texture->height);
    if (texture->format() == ferngate_dat::SurfacePixelFormat::Kind::CustomRawJpeg) {
      const auto dimensions = texture->jpeg_dimensions().value_or(std::pair{0U, 0U});
      width = dimensions.first;
      height = dimensions.second;
    }
    result.largest_record_bytes =
        std::max(result.largest_record_bytes, bytes->size() + width * height * 4);
  }
  return result;
}

// The archive named by `flag` (a Settings member), once it has been opened and warmed; null
// after skipping the benchmark when there is none.
const std::filesystem::path* archive_ready(benchmark::State& state,
                                           std::filesystem::path Settings::*archive,
                                           std::string_view flag) {
  const std::filesystem::path& path = settings().*archive;
  if (path.empty()) {
    state.SkipWithError(fmt::format("no archive: pass {}=PATH", flag).c_str());
    return nullptr;
  }
  if (!archive_facts(path).opened) {
    state.SkipWithError(fmt::format("{} does not open", path.string()).c_str());
    return nullptr;
  }
  return &path;
}

bool sample_ready(benchmark::State& state) {
  return archive_ready(state, &Settings::sample_archive, "--sample_archive") != nullptr;
}

void check_walk(benchmark::State& state, std::filesystem::path Settings::*archive,
                std::string_view flag) {
  const std::filesystem::path* path = archive_ready(state, archive, flag);
  if (path == nullptr) return;
  std::int64_t total_ns = 0;
  std::int64_t fetch_ns = 0;
  ferngate_coverage::Tallies tallies;
  std::uint64_t textures = 0;
  for (auto _ : state) {
    tallies = {};
    textures = 0;
    const std::int64_t start = monotonic_ns();
    auto dat = DatDatabase::open(*path);
    if (!dat) {
      state.SkipWithError("the archive does not open");
      break;
    }
    for (const auto& [id, entry] : dat->files()) {
      if (!ferngate_coverage::is_texture_id(id)) continue;
      ++textures;
      const std::int64_t fetch_start = monotonic_ns();
      auto bytes = dat->get_file(id);
      fetch_ns += monotonic_ns() - fetch_start;
      if (!bytes) {
        tallies.parse_failures.emplace_back(id, "get_file");
        continue;
      }
      auto texture = Texture::unpack(*bytes);
      if (!texture) {
        tallies.parse_failures.emplace_back(id, "unpack");
        continue;
      }
      bytes->clear();
      bytes->shrink_to_fit();
      ++tallies.format_counts[texture->format_raw];
      if (texture->format().needs_palette()) {
        ++tallies.palette_ok;
        continue;
      }
      ferngate_coverage::convert_and_verify(id, *texture, tallies);
    }
    total_ns += monotonic_ns() - start;
  }
  state.counters["fetch_share"] =
      total_ns > 0 ? static_cast<double>(fetch_ns) / static_cast<double>(total_ns) : 0;
  state.counters["textures"] = static_cast<double>(textures);
  state.counters["decoded_ok"] = static_cast<double>(tallies.decoded_ok);
  state.counters["failures"] =
      static_cast<double>(tallies.parse_failures.size() + tallies.decode_failures.size());
  state.counters["largest_record_mib"] =
      static_cast<double>(archive_facts(*path).largest_record_bytes) / (1024.0 * 1024.0);
}

// What /usr/bin/time reports of one run of the check program.
struct ProgramRun {
  int status = -1;  // the wait status of the program (time exits with it)
  double peak_kib = 0;
  double cpu_seconds = 0;  // user + system
};

// Runs `program` with FERNGATE_PORTAL_DAT=`archive`, its output discarded, under /usr/bin/time.
// The program's own wait4 figures would not do: a child created by posix_spawn or fork counts
// the parent's resident pages until it calls exec, and this process holds the benchmark images.
// time is small, so its child's peak is the program's. Nothing when it cannot start.
std::optional<ProgramRun> run_check_program(const std::string& program,
                                            const std::string& archive) {
  static const ferngate_testing::TempDir dir;
  const std::string report = (dir / "time.txt").string();
  std::vector<std::string> variables;
  for (char** at = environ; *at != nullptr; ++at) {
    if (!std::string_view(*at).starts_with("FERNGATE_PORTAL_DAT=")) variables.emplace_back(*at);
  }
  variables.push_back("FERNGATE_PORTAL_DAT=" + archive);
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = {"/usr/bin/time", "-f", "%M %U %S", "-o", report, program};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return std::nullopt;
  ProgramRun run;
  if (::waitpid(pid, &run.status, 0) != pid) return std::nullopt;

  // The figures are on the last line; a line before it notes a non-zero exit status.
  std::ifstream in(report);
  std::string line;
  std::string last;
  while (std::getline(in, line)) {
    if (!line.empty()) last = line;
  }
  double user = 0;
  double system = 0;
  std::istringstream fields(last);
  if (!(fields >> run.peak_kib >> user >> system)) return std::nullopt;
  run.cpu_seconds = user + system;
  return run;
}

void check_program(benchmark::State& state) {
  if (!sample_ready(state)) return;
  double peak_kib = 0;
  double cpu_seconds = 0;
  for (auto _ : state) {
    const auto run =
        run_check_program(settings().coverage_program.string(), settings().sample_archive.string());
    if (!run || !WIFEXITED(run->status) || WEXITSTATUS(run->status) != 0) {
      state.SkipWithError("texture_format_coverage did not run under /usr/bin/time or failed");
      break;
    }
    peak_kib = std::max(peak_kib, run->peak_kib);
    cpu_seconds += run->cpu_seconds;
  }
  state.counters["peak_rss_mib"] = peak_kib / 1024.0;
  state.counters["child_cpu_ms"] =
      cpu_seconds * 1e3 / static_cast<double>(std::max<std::int64_t>(1, state.iterations()));
}

[[maybe_unused]] const bool kRegistered = [] {
  benchmark::RegisterBenchmark("check/walk/sample", check_walk, &Settings::sample_archive,
                               "--sample_archive")
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("check/walk/adjacent", check_walk, &Settings::adjacent_archive,
                               "--adjacent_archive")
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("check/program/sample", check_program)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace

}  // namespace ferngate_bench
