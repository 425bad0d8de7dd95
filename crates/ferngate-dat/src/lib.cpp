#include "lib.hpp"

#include <algorithm>
#include <unordered_set>

#include <fmt/format.h>

namespace ferngate_dat {

namespace {

struct U32Field {
  FieldTag tag;
  std::uint32_t DatHeader::*member;
};

// The header's fields in their stored order; `version_string` and `version_minor` close it.
constexpr U32Field kHeaderFields[] = {
    {FieldTag{"DatHeader", "magic"}, &DatHeader::magic},
    {FieldTag{"DatHeader", "block_size"}, &DatHeader::block_size},
    {FieldTag{"DatHeader", "file_size"}, &DatHeader::file_size},
    {FieldTag{"DatHeader", "dataset"}, &DatHeader::dataset},
    {FieldTag{"DatHeader", "subset"}, &DatHeader::subset},
    {FieldTag{"DatHeader", "free_head"}, &DatHeader::free_head},
    {FieldTag{"DatHeader", "free_tail"}, &DatHeader::free_tail},
    {FieldTag{"DatHeader", "free_count"}, &DatHeader::free_count},
    {FieldTag{"DatHeader", "root_offset"}, &DatHeader::root_offset},
    {FieldTag{"DatHeader", "new_lru"}, &DatHeader::new_lru},
    {FieldTag{"DatHeader", "old_lru"}, &DatHeader::old_lru},
    {FieldTag{"DatHeader", "use_lru"}, &DatHeader::use_lru},
    {FieldTag{"DatHeader", "master_map_id"}, &DatHeader::master_map_id},
    {FieldTag{"DatHeader", "engine_version"}, &DatHeader::engine_version},
    {FieldTag{"DatHeader", "game_version"}, &DatHeader::game_version},
};
constexpr FieldTag kVersionString{"DatHeader", "version_string"};
constexpr FieldTag kVersionMinor{"DatHeader", "version_minor"};

struct EntryField {
  FieldTag tag;
  std::uint32_t DatFileEntry::*member;
};

constexpr EntryField kEntryFields[] = {
    {FieldTag{"DatFileEntry", "bit_flags"}, &DatFileEntry::bit_flags},
    {FieldTag{"DatFileEntry", "id"}, &DatFileEntry::id},
    {FieldTag{"DatFileEntry", "offset"}, &DatFileEntry::offset},
    {FieldTag{"DatFileEntry", "size"}, &DatFileEntry::size},
    {FieldTag{"DatFileEntry", "timestamp"}, &DatFileEntry::timestamp},
    {FieldTag{"DatFileEntry", "version"}, &DatFileEntry::version},
};

std::uint32_t load_u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

std::expected<DatHeader, BinReadError> DatHeader::read(std::span<const std::uint8_t> bytes) {
  ByteReader reader(bytes);
  DatHeader header;
  for (const auto& field : kHeaderFields) {
    auto value = reader.u32(field.tag);
    if (!value) return std::unexpected(std::move(value.error()));
    header.*field.member = *value;
  }
  auto version_string = reader.bytes(16, kVersionString);
  if (!version_string) return std::unexpected(std::move(version_string.error()));
  header.version_string.assign(version_string->begin(), version_string->end());
  auto version_minor = reader.u32(kVersionMinor);
  if (!version_minor) return std::unexpected(std::move(version_minor.error()));
  header.version_minor = *version_minor;
  return header;
}

std::expected<DatFileEntry, BinReadError> DatFileEntry::read(ByteReader& reader) {
  DatFileEntry entry;
  for (const auto& field : kEntryFields) {
    auto value = reader.u32(field.tag);
    if (!value) return std::unexpected(std::move(value.error()));
    entry.*field.member = *value;
  }
  return entry;
}

std::expected<DatDatabase, DatError> DatDatabase::open(const std::filesystem::path& path) {
  auto file = ReadOnlyFile::open(path);
  if (!file) return std::unexpected(DatError::path_error(path, file.error()));

  std::array<std::uint8_t, DatHeader::kSize> raw{};
  auto got = file->read_at_most(raw, DatHeader::kOffset);
  if (!got) {
    return std::unexpected(BinReadError::in_field(got.error(), kHeaderFields[0].tag));
  }
  auto header = DatHeader::read(std::span(raw).first(*got));
  if (!header) return std::unexpected(std::move(header.error()));

  // A block holds its 4-byte link word and then its payload; without payload no chain can end.
  if (header->block_size <= 4) {
    return std::unexpected(DatError::corruption(
        fmt::format("block_size {} leaves no room for block payload", header->block_size)));
  }
  auto length = file->length();
  if (!length) return std::unexpected(DatError(length.error()));

  DatDatabase database(std::move(*header), std::move(*file), *length);
  if (auto loaded = database.read_directory(); !loaded) {
    return std::unexpected(std::move(loaded.error()));
  }
  return database;
}

std::expected<void, DatError> DatDatabase::read_directory() {
  return read_node(header_.root_offset);
}

// Loads the node at `offset` and its subtrees in pre-order: a node's own entries in slot order,
// then its children's subtrees from first to last. An explicit stack keeps deep trees off the call
// stack, and a node reached twice means the branches loop, which no well-formed directory does.
std::expected<void, DatError> DatDatabase::read_node(std::uint32_t offset) {
  std::vector<std::uint32_t> pending;
  if (offset != 0) pending.push_back(offset);
  std::unordered_set<std::uint32_t> seen;

  while (!pending.empty()) {
    const std::uint32_t node_offset = pending.back();
    pending.pop_back();
    if (!seen.insert(node_offset).second) {
      return std::unexpected(DatError::corruption(
          fmt::format("directory node at offset 0x{:08X} is reached twice", node_offset)));
    }

    auto node = read_file_data(node_offset, DatDirectoryNode::kSize);
    if (!node) return std::unexpected(std::move(node.error()));
    const std::uint8_t* bytes = node->data();
    const std::uint32_t entry_count = load_u32(bytes + DatDirectoryNode::kBranchCount * 4);

    ByteReader entries(
        std::span<const std::uint8_t>(*node).subspan(DatDirectoryNode::kEntriesOffset));
    for (std::uint32_t i = 0; i < entry_count; ++i) {
      auto entry = DatFileEntry::read(entries);
      if (!entry) return std::unexpected(std::move(entry.error()));
      files_.insert_or_assign(entry->id, *entry);
    }

    if (load_u32(bytes) == 0) continue;  // a leaf: its other branches are never looked at
    const std::size_t branch_count =
        std::min<std::size_t>(std::size_t{entry_count} + 1, DatDirectoryNode::kBranchCount);
    for (std::size_t i = branch_count; i-- > 0;) {
      const std::uint32_t child = load_u32(bytes + i * 4);
      if (child != 0) pending.push_back(child);
    }
  }
  return {};
}

std::expected<std::vector<std::uint8_t>, DatError> DatDatabase::read_file_data(
    std::uint32_t offset, std::uint32_t size) const {
  if (size == 0) return std::vector<std::uint8_t>{};
  // Every stored byte comes from a distinct byte of the file, so a larger size cannot be read;
  // refusing it here keeps a hostile size from allocating gigabytes first.
  if (size > file_length_) return std::unexpected(DatError(IoError::short_read()));

  std::vector<std::uint8_t> buffer(size);
  const std::uint32_t block_data_size = header_.block_size - 4;
  std::size_t buffer_offset = 0;
  std::size_t remaining = size;
  std::uint64_t current = offset;
  std::vector<std::uint64_t> visited;
  while (remaining > 0) {
    std::array<std::uint8_t, 4> link{};
    if (auto read = file_.read_exact_at_compat(link, current); !read) {
      return std::unexpected(DatError(read.error()));
    }
    const std::uint32_t next_address = load_u32(link.data());
    // The last block is read on past its payload when the file says more bytes follow it.
    const std::size_t to_read =
        next_address == 0 ? remaining : std::min<std::size_t>(remaining, block_data_size);
    if (auto read = file_.read_exact_at_compat(std::span(buffer).subspan(buffer_offset, to_read),
                                               current + 4);
        !read) {
      return std::unexpected(DatError(read.error()));
    }
    buffer_offset += to_read;
    remaining -= to_read;
    visited.push_back(current);
    current = next_address;
  }

  // Each hop consumes payload, so the walk above always ends; a chain that passes the same block
  // twice is a loop, though, and its bytes are not the file's.
  std::sort(visited.begin(), visited.end());
  if (const auto again = std::adjacent_find(visited.begin(), visited.end());
      again != visited.end()) {
    return std::unexpected(DatError::corruption(fmt::format(
        "block chain from offset 0x{:08X} passes the block at 0x{:08X} twice", offset, *again)));
  }
  return buffer;
}

std::expected<std::vector<std::uint8_t>, DatError> DatDatabase::get_file(std::uint32_t id) const {
  const auto found = files_.find(id);
  if (found == files_.end()) return std::unexpected(DatError::not_found(id));
  const DatFileEntry& entry = found->second;
  auto stored = read_file_data(entry.offset, entry.size);
  if (!stored || !entry.is_compressed()) return stored;
  return decompress_lrs(*stored);
}

}  // namespace ferngate_dat
