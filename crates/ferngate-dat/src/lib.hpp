// The archive reader: the header, the directory entries, and the opened archive.
//
//   offset 0        320 bytes, not read
//   offset 320      DatHeader, 80 bytes (sixteen u32 and a 16-byte version string)
//   anywhere        blocks of `block_size` bytes:
//                     +0  next_address  u32, absolute offset of the chain's next block, 0 = last
//                     +4  payload       block_size - 4 bytes
//   a directory node is a 1716-byte chain:
//                     +0    branches[62]     u32 child node offsets, 0 = none
//                     +248  entry_count      u32
//                     +252  entries[61]      DatFileEntry, 24 bytes each
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <unordered_map>
#include <vector>

#include "byte_reader.hpp"
#include "error.hpp"
#include "utils.hpp"

namespace ferngate_dat {

/// The archive header at absolute offset 320. No field is validated.
struct DatHeader {
  static constexpr std::uint64_t kOffset = 320;
  static constexpr std::size_t kSize = 80;

  std::uint32_t magic = 0;
  std::uint32_t block_size = 0;
  std::uint32_t file_size = 0;
  std::uint32_t dataset = 0;
  std::uint32_t subset = 0;
  std::uint32_t free_head = 0;
  std::uint32_t free_tail = 0;
  std::uint32_t free_count = 0;
  std::uint32_t root_offset = 0;
  std::uint32_t new_lru = 0;
  std::uint32_t old_lru = 0;
  std::uint32_t use_lru = 0;
  std::uint32_t master_map_id = 0;
  std::uint32_t engine_version = 0;
  std::uint32_t game_version = 0;
  std::vector<std::uint8_t> version_string = std::vector<std::uint8_t>(16);
  std::uint32_t version_minor = 0;

  /// Reads the fields in order from the header's bytes; `bytes` may be short of 80.
  [[nodiscard]] static std::expected<DatHeader, BinReadError> read(
      std::span<const std::uint8_t> bytes);

  friend bool operator==(const DatHeader&, const DatHeader&) = default;
};

/// One directory entry: where a stored file's chain starts, its stored size and its flags.
struct DatFileEntry {
  static constexpr std::size_t kSize = 24;

  std::uint32_t bit_flags = 0;
  std::uint32_t id = 0;
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
  std::uint32_t timestamp = 0;
  std::uint32_t version = 0;

  /// True when bit 0 of `bit_flags` marks the stored bytes as compressed.
  bool is_compressed() const { return (bit_flags & 1U) != 0; }

  [[nodiscard]] static std::expected<DatFileEntry, BinReadError> read(ByteReader& reader);

  friend bool operator==(const DatFileEntry&, const DatFileEntry&) = default;
};

/// The layout of one directory node.
struct DatDirectoryNode {
  static constexpr std::size_t kBranchCount = 62;
  static constexpr std::size_t kEntrySlots = 61;
  static constexpr std::size_t kEntriesOffset = kBranchCount * 4 + 4;
  static constexpr std::size_t kSize = kEntriesOffset + kEntrySlots * DatFileEntry::kSize;
};
static_assert(DatDirectoryNode::kSize == 1716);

/// An opened archive: its header and its whole directory, read once at opening, and the file.
/// Never modified after opening; every read is positioned, so a const database can be shared.
class DatDatabase {
 public:
  /// Opens the archive at `path`, reads the header and loads the whole directory tree.
  [[nodiscard]] static std::expected<DatDatabase, DatError> open(const std::filesystem::path& path);

  const DatHeader& header() const { return header_; }
  /// Every directory entry by file ID; its iteration order carries no meaning.
  const std::unordered_map<std::uint32_t, DatFileEntry>& files() const { return files_; }

  /// The bytes of stored file `id`, decompressed when its entry is marked compressed.
  [[nodiscard]] std::expected<std::vector<std::uint8_t>, DatError> get_file(std::uint32_t id) const;

  /// Follows the block chain from `offset` and returns exactly `size` payload bytes.
  [[nodiscard]] std::expected<std::vector<std::uint8_t>, DatError> read_file_data(
      std::uint32_t offset, std::uint32_t size) const;

 private:
  DatDatabase(DatHeader header, ReadOnlyFile file, std::uint64_t file_length)
      : header_(std::move(header)), file_(std::move(file)), file_length_(file_length) {}

  [[nodiscard]] std::expected<void, DatError> read_directory();
  [[nodiscard]] std::expected<void, DatError> read_node(std::uint32_t offset);

  DatHeader header_;
  std::unordered_map<std::uint32_t, DatFileEntry> files_;
  ReadOnlyFile file_;
  std::uint64_t file_length_;
};

}  // namespace ferngate_dat
