// Fetching a stored file: get_file of a 1 MiB file held in 1024-byte blocks (1029 of them),
// laid out adjacent and ascending, or shuffled through the whole chain's area, against
//   - one pread of the same bytes (the chain's whole area, link words included), the floor of
//     any reader, and
//   - a plain loop of two positioned reads per block (the link word, then the payload), which is
//     what a straightforward reader does.
// The archive lies in a temporary directory and stays in the page cache, so this measures the
// cost of the read calls, not of the disk.
//   chain/get_file/<layout>   chain/single_pread/<layout>   chain/two_reads_per_block/<layout>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include "archive_writer.hpp"
#include "bench_data.hpp"
#include "lib.hpp"
#include "temp_dir.hpp"

namespace ferngate_bench {

namespace {

using ferngate_dat::DatDatabase;
using ferngate_dat::DatFileEntry;

constexpr std::uint32_t kBlockSize = 1024;
constexpr std::uint32_t kPayloadPerBlock = kBlockSize - 4;
constexpr std::uint32_t kFileSize = 1 << 20;
constexpr std::uint32_t kBlockCount = (kFileSize + kPayloadPerBlock - 1) / kPayloadPerBlock;
constexpr std::uint32_t kFileId = 0x06000001;

struct ChainArchive {
  std::filesystem::path path;
  std::uint32_t area_start = 0;  // the first byte of the chain's area of kBlockCount blocks
  std::uint32_t first_block = 0;
  std::vector<std::uint8_t> payload;
  std::optional<DatDatabase> database;
  int fd = -1;  // the archive opened for the peers' reads, until the program ends
};

// The temporary directory lives as long as the program, and is removed at its end.
const ferngate_testing::TempDir& temp_dir() {
  static const ferngate_testing::TempDir dir;
  return dir;
}

// Writes the archive: the chain's blocks take one area of kBlockCount blocks, in ascending order
// or in a seeded random order; the directory node follows the area.
ChainArchive make_archive(bool shuffled) {
  ChainArchive archive;
  const auto& pixels = photo_like(512, true).rgba;  // exactly 1 MiB
  archive.payload.assign(pixels.begin(), pixels.begin() + kFileSize);

  ferngate_testing::ArchiveBuilder builder(kBlockSize, 1, /*scatter=*/false);
  // Reserves the area: without scatter, a chain's blocks are consecutive.
  archive.area_start =
      builder.add_chain(std::vector<std::uint8_t>(std::size_t{kBlockCount} * kPayloadPerBlock));
  std::vector<std::uint32_t> order(kBlockCount);
  std::iota(order.begin(), order.end(), 0U);
  if (shuffled) {
    ferngate_sample::Random random(0xC4A1'0001);
    for (std::size_t i = order.size(); i > 1; --i) {
      std::swap(order[i - 1], order[random.below(static_cast<std::uint32_t>(i))]);
    }
  }
  const auto block_at = [&](std::size_t i) { return archive.area_start + order[i] * kBlockSize; };
  archive.first_block = block_at(0);

  ferngate_testing::NodeImage node;
  node.entries.push_back(
      DatFileEntry{.id = kFileId, .offset = archive.first_block, .size = kFileSize});
  builder.header().root_offset = builder.add_node(node);
  std::vector<std::uint8_t> image = std::move(builder).finish();
  for (std::size_t i = 0; i < kBlockCount; ++i) {
    ferngate_testing::put_u32(image, block_at(i),
                              i + 1 < kBlockCount ? block_at(i + 1) : std::uint32_t{0});
    const std::size_t from = i * kPayloadPerBlock;
    const std::size_t length = std::min<std::size_t>(kPayloadPerBlock, kFileSize - from);
    std::copy_n(archive.payload.begin() + static_cast<std::ptrdiff_t>(from), length,
                image.begin() + block_at(i) + 4);
  }

  archive.path = temp_dir() / (shuffled ? "shuffled.dat" : "adjacent.dat");
  if (temp_dir().path().empty() || ferngate_testing::write_file(archive.path, image)) {
    return archive;  // no database: the benchmarks report the failure
  }
  auto database = DatDatabase::open(archive.path);
  if (database) archive.database.emplace(std::move(*database));
  archive.fd = ::open(archive.path.c_str(), O_RDONLY | O_CLOEXEC);
  return archive;
}

const ChainArchive& chain_archive(bool shuffled) {
  static std::map<bool, ChainArchive> cache;
  auto it = cache.find(shuffled);
  if (it == cache.end()) it = cache.emplace(shuffled, make_archive(shuffled)).first;
  return it->second;
}

// Fills `buf` from `offset` with pread, repeating short reads; false on an error or the end.
bool pread_exact(int fd, std::uint8_t* buf, std::size_t size, std::uint64_t offset) {
  while (size > 0) {
    const ssize_t got = ::pread(fd, buf, size, static_cast<off_t>(offset));
    if (got <= 0) return false;
    buf += got;
    size -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

// The straightforward reader: per block, one read of the link word and one of the payload.
std::vector<std::uint8_t> two_reads_per_block(int fd, std::uint32_t first_block) {
  std::vector<std::uint8_t> out(kFileSize);
  std::uint32_t block = first_block;
  std::size_t at = 0;
  while (at < out.size()) {
    std::uint8_t link[4];
    if (block == 0 || !pread_exact(fd, link, 4, block)) return {};
    const std::size_t length = std::min<std::size_t>(kPayloadPerBlock, out.size() - at);
    if (!pread_exact(fd, out.data() + at, length, std::uint64_t{block} + 4)) return {};
    at += length;
    block = static_cast<std::uint32_t>(link[0] | link[1] << 8 | link[2] << 16) |
            static_cast<std::uint32_t>(link[3]) << 24;
  }
  return out;
}

bool ready(benchmark::State& state, const ChainArchive& archive) {
  if (!archive.database || archive.fd < 0) {
    state.SkipWithError("could not write or open the chain archive");
    return false;
  }
  return true;
}

void chain_get_file(benchmark::State& state, bool shuffled) {
  const ChainArchive& archive = chain_archive(shuffled);
  if (!ready(state, archive)) return;
  const auto first = archive.database->get_file(kFileId);
  if (!first || *first != archive.payload) {
    state.SkipWithError("get_file does not give the stored file back");
    return;
  }
  const PageFaults faults;
  for (auto _ : state) {
    auto bytes = archive.database->get_file(kFileId);
    benchmark::DoNotOptimize(bytes->data());
    benchmark::ClobberMemory();
  }
  faults.report(state);
  set_throughput(state, kFileSize, 0);
}

// One read of the whole area into a buffer allocated once.
void chain_single_pread(benchmark::State& state, bool shuffled) {
  const ChainArchive& archive = chain_archive(shuffled);
  if (!ready(state, archive)) return;
  std::vector<std::uint8_t> area(std::size_t{kBlockCount} * kBlockSize);
  for (auto _ : state) {
    benchmark::DoNotOptimize(pread_exact(archive.fd, area.data(), area.size(), archive.area_start));
    benchmark::ClobberMemory();
  }
  set_throughput(state, kFileSize, 0);
}

// Returns a new buffer each call, as get_file does.
void chain_two_reads(benchmark::State& state, bool shuffled) {
  const ChainArchive& archive = chain_archive(shuffled);
  if (!ready(state, archive)) return;
  if (two_reads_per_block(archive.fd, archive.first_block) != archive.payload) {
    state.SkipWithError("the two-reads loop does not give the stored file back");
    return;
  }
  const PageFaults faults;
  for (auto _ : state) {
    auto bytes = two_reads_per_block(archive.fd, archive.first_block);
    benchmark::DoNotOptimize(bytes.data());
    benchmark::ClobberMemory();
  }
  faults.report(state);
  set_throughput(state, kFileSize, 0);
}

[[maybe_unused]] const bool kRegistered = [] {
  for (const bool shuffled : {false, true}) {
    const char* layout = shuffled ? "shuffled" : "adjacent";
    benchmark::RegisterBenchmark(fmt::format("chain/get_file/{}", layout).c_str(), chain_get_file,
                                 shuffled);
    benchmark::RegisterBenchmark(fmt::format("chain/single_pread/{}", layout).c_str(),
                                 chain_single_pread, shuffled);
    benchmark::RegisterBenchmark(fmt::format("chain/two_reads_per_block/{}", layout).c_str(),
                                 chain_two_reads, shuffled);
  }
  return true;
}();

}  // namespace

}  // namespace ferngate_bench
