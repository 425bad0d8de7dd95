#include "archive_writer.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <numeric>
#include <system_error>

namespace ferngate_testing {

void put_u32(std::vector<std::uint8_t>& image, std::size_t offset, std::uint32_t value) {
  if (image.size() < offset + 4) image.resize(offset + 4);
  for (int i = 0; i < 4; ++i) image[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get_u32(std::span<const std::uint8_t> image, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | image[offset + i];
  return value;
}

std::vector<std::uint8_t> encode_node(const NodeImage& node) {
  std::vector<std::uint8_t> bytes(DatDirectoryNode::kSize);
  for (std::size_t i = 0; i < node.branches.size(); ++i) put_u32(bytes, i * 4, node.branches[i]);
  const auto count = node.entry_count.value_or(static_cast<std::uint32_t>(node.entries.size()));
  put_u32(bytes, DatDirectoryNode::kBranchCount * 4, count);
  const std::size_t written = std::min(node.entries.size(), DatDirectoryNode::kEntrySlots);
  for (std::size_t i = 0; i < written; ++i) {
    const DatFileEntry& e = node.entries[i];
    const std::size_t at = DatDirectoryNode::kEntriesOffset + i * DatFileEntry::kSize;
    const std::uint32_t fields[] = {e.bit_flags, e.id, e.offset, e.size, e.timestamp, e.version};
    for (std::size_t f = 0; f < 6; ++f) put_u32(bytes, at + f * 4, fields[f]);
  }
  return bytes;
}

std::vector<std::uint8_t> encode_header(const DatHeader& h) {
  std::vector<std::uint8_t> bytes;
  const std::uint32_t before_version[] = {
      h.magic,     h.block_size, h.file_size,     h.dataset,        h.subset,
      h.free_head, h.free_tail,  h.free_count,    h.root_offset,    h.new_lru,
      h.old_lru,   h.use_lru,    h.master_map_id, h.engine_version, h.game_version};
  for (const std::uint32_t value : before_version) put_u32(bytes, bytes.size(), value);
  std::vector<std::uint8_t> version(h.version_string);
  version.resize(16);
  bytes.insert(bytes.end(), version.begin(), version.end());
  put_u32(bytes, bytes.size(), h.version_minor);
  return bytes;
}

ArchiveBuilder::ArchiveBuilder(std::uint32_t block_size, std::uint64_t seed, bool scatter)
    : block_size_(block_size), scatter_(scatter), rng_(seed), image_(kFirstBlock) {
  header_.magic = 0x00005442;
  header_.block_size = block_size;
  header_.engine_version = 0x16;
  header_.game_version = 0xE2;
  const char label[] = "ferngate-sample";
  header_.version_string.assign(label, label + 16);
  header_.version_minor = 1;
}

std::uint32_t ArchiveBuilder::take_block() {
  if (!scatter_) {
    const auto offset = static_cast<std::uint32_t>(image_.size());
    image_.resize(image_.size() + block_size_);
    return offset;
  }
  if (free_blocks_.empty()) {
    // Grow by a batch of blocks and hand them out in random order.
    constexpr std::size_t kBatch = 64;
    for (std::size_t i = 0; i < kBatch; ++i) {
      free_blocks_.push_back(static_cast<std::uint32_t>(image_.size()));
      image_.resize(image_.size() + block_size_);
    }
    // Fisher-Yates with plain modulo draws: the same seed gives the same layout with any
    // standard library, which std::shuffle does not promise.
    for (std::size_t i = free_blocks_.size() - 1; i > 0; --i) {
      std::swap(free_blocks_[i], free_blocks_[rng_() % (i + 1)]);
    }
  }
  const std::uint32_t offset = free_blocks_.back();
  free_blocks_.pop_back();
  return offset;
}

std::uint32_t ArchiveBuilder::add_chain(std::span<const std::uint8_t> payload) {
  if (payload.empty()) return 0;
  const std::size_t per_block = block_size_ - 4;
  const std::size_t count = (payload.size() + per_block - 1) / per_block;
  std::vector<std::uint32_t> blocks(count);
  for (auto& block : blocks) block = take_block();
  for (std::size_t i = 0; i < count; ++i) {
    put_u32(image_, blocks[i], i + 1 < count ? blocks[i + 1] : 0);
    const std::size_t from = i * per_block;
    const std::size_t length = std::min(per_block, payload.size() - from);
    std::copy_n(payload.begin() + static_cast<std::ptrdiff_t>(from), length,
                image_.begin() + blocks[i] + 4);
  }
  return blocks.front();
}

std::vector<std::uint8_t> ArchiveBuilder::finish() const& { return ArchiveBuilder(*this).finish(); }

std::vector<std::uint8_t> ArchiveBuilder::finish() && {
  std::vector<std::uint8_t> image = std::move(image_);
  DatHeader header = header_;
  if (header.file_size == 0) header.file_size = static_cast<std::uint32_t>(image.size());
  const auto bytes = encode_header(header);
  std::copy(bytes.begin(), bytes.end(), image.begin() + DatHeader::kOffset);
  return image;
}

namespace {

// Writes the subtree holding `entries` (sorted by ID) and returns its root node's offset.
// Children are written before their parent, which needs their offsets. Recurses as deep as the
// tree is high: a few levels for any archive a test writes.
// NOLINTNEXTLINE(misc-no-recursion)
std::uint32_t write_subtree(ArchiveBuilder& builder, std::span<const DatFileEntry> entries,
                            std::size_t max_entries) {
  NodeImage node;
  if (entries.size() <= max_entries) {
    node.entries.assign(entries.begin(), entries.end());
    return builder.add_node(node);
  }
  // A tree of height h holds at most cap(h) = m + (m + 1) * cap(h - 1) entries, cap(1) = m.
  std::size_t child_capacity = max_entries;
  while (max_entries + (max_entries + 1) * child_capacity < entries.size()) {
    child_capacity = max_entries + (max_entries + 1) * child_capacity;
  }
  // c children need c - 1 separators: c * child_capacity + c - 1 >= n.
  const std::size_t children =
      std::max<std::size_t>(2, (entries.size() + 1 + child_capacity) / (child_capacity + 1));
  const std::size_t in_children = entries.size() - (children - 1);
  std::size_t at = 0;
  for (std::size_t c = 0; c < children; ++c) {
    const std::size_t share = in_children / children + (c < in_children % children ? 1 : 0);
    node.branches[c] = write_subtree(builder, entries.subspan(at, share), max_entries);
    at += share;
    if (c + 1 < children) node.entries.push_back(entries[at++]);
  }
  return builder.add_node(node);
}

}  // namespace

std::vector<std::uint8_t> write_archive(std::span<const StoredFile> files,
                                        const ArchiveOptions& options) {
  ArchiveBuilder builder(options.block_size, options.seed, options.scatter);
  std::vector<DatFileEntry> entries;
  entries.reserve(files.size());
  for (const StoredFile& file : files) {
    DatFileEntry entry;
    entry.id = file.id;
    entry.timestamp = 0x5F5E1000 + static_cast<std::uint32_t>(entries.size());
    entry.version = 1;
    if (file.compress) {
      const auto stored = compress_lrs(file.bytes);
      entry.bit_flags = 1;
      entry.size = static_cast<std::uint32_t>(stored.size());
      entry.offset = builder.add_chain(stored);
    } else {
      entry.size = static_cast<std::uint32_t>(file.bytes.size());
      entry.offset = builder.add_chain(file.bytes);
    }
    entries.push_back(entry);
  }
  builder.header().root_offset =
      write_directory(builder, std::move(entries), options.max_entries_per_node);
  return std::move(builder).finish();
}

std::uint32_t write_directory(ArchiveBuilder& builder, std::vector<DatFileEntry> entries,
                              std::size_t max_entries_per_node) {
  std::sort(entries.begin(), entries.end(),
            [](const DatFileEntry& a, const DatFileEntry& b) { return a.id < b.id; });
  const std::size_t max_entries =
      std::clamp<std::size_t>(max_entries_per_node, 1, DatDirectoryNode::kEntrySlots);
  return write_subtree(builder, entries, max_entries);
}

std::optional<std::string> write_file(const std::filesystem::path& path,
                                      std::span<const std::uint8_t> bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return std::generic_category().message(errno);
  const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
  const int write_errno = errno;
  if (written != bytes.size()) {
    static_cast<void>(std::fclose(file));  // the write already failed
    return std::generic_category().message(write_errno);
  }
  if (std::fclose(file) != 0) return std::generic_category().message(errno);
  return std::nullopt;
}

}  // namespace ferngate_testing
