// make-sample-archive: writes the deterministic sample portal archive that the coverage check runs
// on when no game data is at hand.
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include <fmt/format.h>

#include "sample_archive.hpp"

namespace {

using ferngate_sample::SampleOptions;

constexpr int kUsageError = 2;

void print_help() {
  fmt::print(
      "Usage: make-sample-archive --output PATH [--count N] [--seed S] [--block-size B]\n"
      "                           [--adjacent]\n"
      "\n"
      "Writes a sample portal archive: texture records under the top bytes 0x06 and 0x07 in\n"
      "every pixel format the decoder knows (mostly DXT1 and DXT5, the uncompressed, landscape\n"
      "and palette formats, JPEG streams), the palettes they name, and other records; about a\n"
      "fifth of the files stored compressed. The same options write the same bytes.\n"
      "Run the check on it with FERNGATE_PORTAL_DAT=PATH texture_format_coverage.\n"
      "\n"
      "Options:\n"
      "  --output PATH      the archive file to write, replaced if it exists (required)\n"
      "  --count N          number of texture records, {} to {} (default {})\n"
      "  --seed S           seed of the contents, decimal or 0x-prefixed hexadecimal,\n"
      "                     64-bit (default 0x{:X})\n"
      "  --block-size B     block size in bytes, {} to {} (default {})\n"
      "  --adjacent         lay every file's blocks out one after another (by default they\n"
      "                     are shuffled within batches of 64 blocks)\n"
      "  -h, --help         print this help and exit\n"
      "\n"
      "Options with a value take it as the next argument or after '=' (--count=500).\n"
      "Exit status: 0 written, 1 the archive could not be written, 2 bad arguments.\n",
      0, ferngate_sample::kMaxTextureCount, ferngate_sample::kDefaultTextureCount,
      ferngate_sample::kDefaultSeed, ferngate_sample::kMinBlockSize, ferngate_sample::kMaxBlockSize,
      ferngate_sample::kDefaultBlockSize);
}

struct UsageError {
  std::string message;
};

// An unsigned number in decimal, or in hexadecimal after "0x", no larger than `max`.
std::uint64_t parse_number(std::string_view option, std::string_view text, std::uint64_t max) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error == std::errc::invalid_argument || end != text.data() + text.size()) {
    throw UsageError{fmt::format("{} needs a number, not '{}'", option, text)};
  }
  if (error == std::errc::result_out_of_range || value > max) {
    throw UsageError{max == std::numeric_limits<std::uint64_t>::max()
                         ? fmt::format("{} must fit in 64 bits", option)
                         : fmt::format("{} must be at most {}", option, max)};
  }
  return value;
}

struct Arguments {
  SampleOptions sample;
  std::string output;
  bool help = false;
};

Arguments parse_arguments(int argc, char** argv) {
  Arguments args;
  std::optional<std::string> output;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      args.help = true;
      return args;
    }
    std::string_view name = arg;
    std::optional<std::string_view> value;
    if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    if (name == "--adjacent") {
      if (value) throw UsageError{"--adjacent takes no value"};
      args.sample.adjacent_blocks = true;
      continue;
    }
    if (name != "--output" && name != "--count" && name != "--seed" && name != "--block-size") {
      throw UsageError{arg.starts_with("-") ? fmt::format("unknown option '{}'", arg)
                                            : fmt::format("unexpected argument '{}'", arg)};
    }
    if (!value) {
      if (i + 1 >= argc) throw UsageError{fmt::format("{} needs a value", name)};
      value = argv[++i];
    }
    if (name == "--output") {
      if (value->empty()) throw UsageError{"--output needs a path"};
      output = std::string(*value);
    } else if (name == "--count") {
      args.sample.texture_count =
          static_cast<std::uint32_t>(parse_number(name, *value, ferngate_sample::kMaxTextureCount));
    } else if (name == "--seed") {
      args.sample.seed = parse_number(name, *value, std::numeric_limits<std::uint64_t>::max());
    } else {
      const std::uint64_t size = parse_number(name, *value, ferngate_sample::kMaxBlockSize);
      if (size < ferngate_sample::kMinBlockSize) {
        throw UsageError{
            fmt::format("--block-size must be at least {}", ferngate_sample::kMinBlockSize)};
      }
      args.sample.block_size = static_cast<std::uint32_t>(size);
    }
  }
  if (!output) throw UsageError{"missing --output PATH"};
  args.output = *output;
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  try {
    args = parse_arguments(argc, argv);
  } catch (const UsageError& error) {
    fmt::print(stderr, "make-sample-archive: {} (see --help)\n", error.message);
    return kUsageError;
  }
  if (args.help) {
    print_help();
    return 0;
  }

  try {
    const auto layout = ferngate_sample::sample_layout(args.sample);
    const auto files = ferngate_sample::sample_files(args.sample);
    const auto image = ferngate_testing::write_archive(files, layout);
    if (image.size() > std::numeric_limits<std::uint32_t>::max()) {
      fmt::print(
          stderr,
          "make-sample-archive: the archive would exceed the 4 GiB that its offsets reach\n");
      return 1;
    }
    if (const auto failure = ferngate_testing::write_file(args.output, image)) {
      fmt::print(stderr, "make-sample-archive: cannot write {}: {}\n", args.output, *failure);
      return 1;
    }
    std::size_t textures = 0;
    std::size_t compressed = 0;
    for (const auto& file : files) {
      const std::uint32_t prefix = file.id >> 24;
      if (prefix == 0x06 || prefix == 0x07) ++textures;
      if (file.compress) ++compressed;
    }
    fmt::print(
        "make-sample-archive: wrote {}: {} bytes, {} files ({} textures, {} others), {} "
        "stored compressed\n",
        args.output, image.size(), files.size(), textures, files.size() - textures, compressed);
  } catch (const std::exception& error) {
    fmt::print(stderr, "make-sample-archive: {}\n", error.what());
    return 1;
  }
  return 0;
}
