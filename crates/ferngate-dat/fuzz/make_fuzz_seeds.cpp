// Writes a seed corpus for every fuzz target into DIR/<target>/: small archives from the archive
// writer, compressed payloads from the LZSS encoder, texture records of every format, DXT blocks
// and JPEG streams, so that the fuzzers start from inputs that reach deep into each parser.
#include <array>
#include <cstdio>
#include <filesystem>
#include <random>

#include <fmt/format.h>

#include "archive_writer.hpp"
#include "jpeg_streams.hpp"
#include "sample_archive.hpp"
#include "texture_records.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;
using ferngate_testing::TextureRecord;
namespace raw = ferngate_testing::raw_format;

class Corpus {
 public:
  explicit Corpus(std::filesystem::path root) : root_(std::move(root)) {}
  void add(const std::string& target, const Bytes& bytes) {
    std::filesystem::create_directories(root_ / target);
    ferngate_testing::write_file(root_ / target / fmt::format("seed-{:04}", count_++), bytes);
  }

 private:
  std::filesystem::path root_;
  int count_ = 0;
};

Bytes pattern(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = i % 7 < 3 ? static_cast<std::uint8_t>(rng()) : static_cast<std::uint8_t>(i * seed);
  }
  return bytes;
}

// One small record of every format, with pixel data of the size it needs.
std::vector<TextureRecord> records() {
  const Bytes grey_jpeg =
      ferngate_testing::encode({.width = 12, .height = 9, .input = JCS_GRAYSCALE});
  const Bytes colour_jpeg =
      ferngate_testing::encode({.width = 16, .height = 16, .progressive = true});
  return {
      {.width = 3, .height = 2, .format_raw = raw::kR8G8B8, .source_data = pattern(18, 1)},
      {.width = 2, .height = 2, .format_raw = raw::kA8R8G8B8, .source_data = pattern(16, 2)},
      {.width = 4, .height = 1, .format_raw = raw::kR5G6B5, .source_data = pattern(8, 3)},
      {.width = 2, .height = 2, .format_raw = raw::kA4R4G4B4, .source_data = pattern(8, 4)},
      {.width = 5, .height = 1, .format_raw = raw::kA8, .source_data = pattern(5, 5)},
      {.width = 4,
       .height = 2,
       .format_raw = raw::kP8,
       .source_data = pattern(8, 6),
       .default_palette_id = 0x04000001},
      {.width = 2,
       .height = 2,
       .format_raw = raw::kIndex16,
       .source_data = {1, 0, 2, 0, 0, 1, 3, 0},
       .default_palette_id = 0x04000002},
      {.width = 1, .height = 3, .format_raw = raw::kLscapeR8G8B8, .source_data = pattern(9, 7)},
      {.width = 3, .height = 1, .format_raw = raw::kLscapeAlpha, .source_data = pattern(3, 8)},
      {.width = 12, .height = 9, .format_raw = raw::kJpeg, .source_data = grey_jpeg},
      {.width = 16, .height = 16, .format_raw = raw::kJpeg, .source_data = colour_jpeg},
      {.width = 5, .height = 3, .format_raw = raw::kDxt1, .source_data = pattern(16, 9)},
      {.width = 4, .height = 4, .format_raw = raw::kDxt2, .source_data = pattern(16, 10)},
      {.width = 8, .height = 4, .format_raw = raw::kDxt3, .source_data = pattern(32, 11)},
      {.width = 4, .height = 4, .format_raw = raw::kDxt4, .source_data = pattern(16, 12)},
      {.width = 7, .height = 7, .format_raw = raw::kDxt5, .source_data = pattern(64, 13)},
      {.width = 1, .height = 1, .format_raw = 999, .source_data = pattern(4, 14)},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fmt::print(stderr, "usage: make-fuzz-seeds DIR\n");
    return 2;
  }
  Corpus corpus(argv[1]);
  const auto all = records();

  for (const auto& record : all) {
    Bytes input = {0, 1};  // a 256-colour palette
    const Bytes stored = ferngate_testing::encode_texture(record);
    input.insert(input.end(), stored.begin(), stored.end());
    corpus.add("fuzz_texture", input);
  }

  for (const auto& data : {pattern(300, 21), Bytes(500, 'a'), pattern(2000, 22)}) {
    corpus.add("fuzz_lrs", ferngate_testing::compress_lrs(data));
  }
  for (const auto& record : all) {
    corpus.add("fuzz_lrs",
               ferngate_testing::compress_lrs(ferngate_testing::encode_texture(record)));
  }

  // Every decoder through every kernel (the selector picks both): a small image, and one wide
  // enough for whole groups of blocks with edge blocks on the right and at the bottom.
  for (std::uint8_t selector = 0; selector < 9; ++selector) {
    for (const auto [width, height, count] : {std::array{13, 6, 8}, std::array{37, 9, 30}}) {
      Bytes input = {static_cast<std::uint8_t>(width), 0, static_cast<std::uint8_t>(height), 0,
                     selector};
      const Bytes blocks = pattern(16 * static_cast<std::size_t>(count), 30U + selector);
      input.insert(input.end(), blocks.begin(), blocks.end());
      corpus.add("fuzz_dxt", input);
    }
  }

  for (const auto& record : all) {
    if (record.format_raw != raw::kJpeg) continue;
    Bytes input = {static_cast<std::uint8_t>(record.width), 0,
                   static_cast<std::uint8_t>(record.height), 0};
    input.insert(input.end(), record.source_data.begin(), record.source_data.end());
    corpus.add("fuzz_jpeg", input);
  }

  // Archives: every record once, some compressed, with small blocks so chains have many links and
  // directories have several nodes.
  const std::uint32_t block_sizes[] = {64, 256, 1024};
  for (std::size_t variant = 0; variant < std::size(block_sizes); ++variant) {
    std::vector<ferngate_testing::StoredFile> files;
    for (std::size_t i = 0; i < all.size(); ++i) {
      const std::uint32_t id =
          (i % 2 == 0 ? 0x06000000U : 0x07000000U) + static_cast<std::uint32_t>(i);
      files.push_back({id, ferngate_testing::encode_texture(all[i]), (i + variant) % 3 == 0});
    }
    files.push_back({0x04000001, pattern(40, 40)});
    ferngate_testing::ArchiveOptions options{
        .block_size = block_sizes[variant], .seed = variant, .max_entries_per_node = 4};
    corpus.add("fuzz_archive", ferngate_testing::write_archive(files, options));
  }
  // And the small files of a sample archive, as the sample tool makes them: real DXT blocks and
  // JPEG streams. Large ones would only slow every run of the fuzzer down.
  const ferngate_sample::SampleOptions sample{.texture_count = 300, .threads = 1};
  std::vector<ferngate_testing::StoredFile> small;
  for (auto& file : ferngate_sample::sample_files(sample)) {
    if (file.bytes.size() <= 2500 && small.size() < 24) small.push_back(std::move(file));
  }
  corpus.add("fuzz_archive", ferngate_testing::write_archive(small, {.block_size = 512}));
  return 0;
}
