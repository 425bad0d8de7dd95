// ferngate_bench: the library's decoders and reader against their peers, in one binary and one
// thread. Google Benchmark's own flags apply; three more name the inputs of the whole-check
// benchmarks:
//   --sample_archive=PATH     the archive that check/* walks (without it they are skipped)
//   --adjacent_archive=PATH   the same archive with adjacent blocks, for check/walk/adjacent
//   --coverage_program=PATH   the texture_format_coverage to run (default: the one built with
//                             this binary)
#include <malloc.h>

#include <cstring>
#include <string_view>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_data.hpp"

int main(int argc, char** argv) {
  // glibc serves blocks of 128 KiB and more with fresh mappings until a free raises that
  // threshold, and gives memory back to the system past another: which benchmark runs first
  // would then decide whether a large output vector costs page faults. Fixed thresholds above
  // every buffer of the suite make each benchmark measure the steady state of a long walk,
  // whatever the order.
  ::mallopt(M_MMAP_THRESHOLD, 64 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 256 << 20);
  ferngate_bench::Settings& settings = ferngate_bench::settings();
  settings.coverage_program = FERNGATE_COVERAGE_PROGRAM;

  // Our flags are taken out before the library parses the rest, which refuses unknown ones.
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i > 0 && arg.starts_with("--sample_archive=")) {
      settings.sample_archive = arg.substr(std::strlen("--sample_archive="));
    } else if (i > 0 && arg.starts_with("--adjacent_archive=")) {
      settings.adjacent_archive = arg.substr(std::strlen("--adjacent_archive="));
    } else if (i > 0 && arg.starts_with("--coverage_program=")) {
      settings.coverage_program = arg.substr(std::strlen("--coverage_program="));
    } else {
      rest.push_back(argv[i]);
    }
  }
  int rest_count = static_cast<int>(rest.size());
  rest.push_back(nullptr);

  benchmark::Initialize(&rest_count, rest.data());
  if (benchmark::ReportUnrecognizedArguments(rest_count, rest.data())) return 1;
  benchmark::AddCustomContext("sample_archive", settings.sample_archive.string());
  benchmark::AddCustomContext("adjacent_archive", settings.adjacent_archive.string());
  benchmark::AddCustomContext("coverage_program", settings.coverage_program.string());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
