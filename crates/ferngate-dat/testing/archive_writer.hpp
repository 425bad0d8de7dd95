// Writes archive images: the header at offset 320, block chains scattered through the file, and a
// B-tree directory. Used by the tests, the fuzz seeds and the sample-archive tool.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "lib.hpp"
#include "lzss_encoder.hpp"

namespace ferngate_testing {

using ferngate_dat::DatDirectoryNode;
using ferngate_dat::DatFileEntry;
using ferngate_dat::DatHeader;

/// A file to store under `id`; `compress` stores it in its compressed form.
struct StoredFile {
  std::uint32_t id = 0;
  std::vector<std::uint8_t> bytes;
  bool compress = false;
};

struct ArchiveOptions {
  std::uint32_t block_size = 1024;
  /// Seeds the placement of blocks.
  std::uint64_t seed = 1;
  /// Blocks of a chain are drawn at random from the free space, so they are rarely adjacent or
  /// ascending; when false every chain is laid out in one ascending run.
  bool scatter = true;
  /// At most this many entries per directory node (1 to 61); fewer make deeper trees.
  std::size_t max_entries_per_node = DatDirectoryNode::kEntrySlots;
};

/// A directory node as written: its branches and the entries in its first slots.
/// `entry_count` overrides the number written in the node when set.
struct NodeImage {
  std::array<std::uint32_t, DatDirectoryNode::kBranchCount> branches{};
  std::vector<DatFileEntry> entries;
  std::optional<std::uint32_t> entry_count;
};

/// The 1716 bytes of `node` (at most 61 entries are written).
[[nodiscard]] std::vector<std::uint8_t> encode_node(const NodeImage& node);

/// The 80 bytes of `header`.
[[nodiscard]] std::vector<std::uint8_t> encode_header(const DatHeader& header);

/// Builds an archive image chain by chain: the low-level door for archives that tests shape or
/// break by hand.
class ArchiveBuilder {
 public:
  explicit ArchiveBuilder(std::uint32_t block_size, std::uint64_t seed = 1, bool scatter = true);

  /// Stores `payload` in a new chain and returns the offset of its first block (0 when empty).
  std::uint32_t add_chain(std::span<const std::uint8_t> payload);
  /// Stores `node` in a new chain and returns its offset.
  std::uint32_t add_node(const NodeImage& node) { return add_chain(encode_node(node)); }

  /// The header that finish() writes; file_size is set to the image's size unless changed here.
  DatHeader& header() { return header_; }

  /// The whole image, header included; the rvalue form hands over the builder's image.
  [[nodiscard]] std::vector<std::uint8_t> finish() const&;
  [[nodiscard]] std::vector<std::uint8_t> finish() &&;

  /// The first block's offset: blocks start after the header area.
  static constexpr std::uint32_t kFirstBlock = 1024;

 private:
  std::uint32_t take_block();

  DatHeader header_;
  std::uint32_t block_size_;
  bool scatter_;
  std::mt19937_64 rng_;
  std::vector<std::uint8_t> image_;
  std::vector<std::uint32_t> free_blocks_;
};

/// An archive holding `files` under a B-tree directory sorted by ID; IDs must be distinct.
/// Compressed files are stored through compress_lrs.
[[nodiscard]] std::vector<std::uint8_t> write_archive(std::span<const StoredFile> files,
                                                      const ArchiveOptions& options = {});

/// Writes a B-tree directory of `entries` (sorted here by ID) and returns its root's offset.
std::uint32_t write_directory(ArchiveBuilder& builder, std::vector<DatFileEntry> entries,
                              std::size_t max_entries_per_node = DatDirectoryNode::kEntrySlots);

/// Writes `bytes` to `path`, replacing the file; on failure returns the operating system's reason.
std::optional<std::string> write_file(const std::filesystem::path& path,
                                      std::span<const std::uint8_t> bytes);

/// Little-endian stores into an image, for tests that edit one.
void put_u32(std::vector<std::uint8_t>& image, std::size_t offset, std::uint32_t value);
[[nodiscard]] std::uint32_t get_u32(std::span<const std::uint8_t> image, std::size_t offset);

}  // namespace ferngate_testing
