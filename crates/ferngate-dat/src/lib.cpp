#include "lib.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <tuple>
#include <unordered_set>
#include <utility>

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

namespace {

// Bytes of the file that one read of a chain brought into a buffer of its own, to serve blocks
// that the chain reaches later in the same call.
struct Region {
  std::unique_ptr<std::uint8_t[]> bytes;
  std::size_t capacity = 0;
  std::uint64_t start = 0;
  std::uint64_t end = 0;   // the bytes [start, end) are held
  bool ends_file = false;  // the read came back short: the file ends at `end`

  enum class Fit { Inside, PastEndOfFile, Outside };

  // Whether a read of `length` (> 0) bytes at `at` is answered here: with the bytes, with the
  // short read that the end of the file gives it, or not at all.
  Fit fit(std::uint64_t at, std::uint64_t length) const {
    if (bytes == nullptr || at < start) return Fit::Outside;
    if (at + length <= end) return Fit::Inside;
    return ends_file ? Fit::PastEndOfFile : Fit::Outside;
  }
  const std::uint8_t* at(std::uint64_t offset) const { return bytes.get() + (offset - start); }
};

// The regions one chain has read, the oldest replaced by the next. A chain scattered over a
// neighbourhood of the file comes back to where it has been, so a block is often inside a
// region read for an earlier jump.
class Regions {
 public:
  static constexpr std::size_t kKept = 4;

  // The region holding the `length` bytes at `at` whole, or the one that ends the file before
  // they end; null and Outside when no region answers the read.
  std::pair<const Region*, Region::Fit> find(std::uint64_t at, std::uint64_t length) const {
    for (const Region& region : regions_) {
      if (const auto fit = region.fit(at, length); fit != Region::Fit::Outside) {
        return {&region, fit};
      }
    }
    return {nullptr, Region::Fit::Outside};
  }

  // The span for a region of the file around `at`: [start, start + length), moved off the bytes
  // that kept regions hold below `at` and cut where one begins above it, but never cut below
  // `at + keep` (the block at `at`).
  std::pair<std::uint64_t, std::uint64_t> fresh_span(std::uint64_t at, std::uint64_t start,
                                                     std::uint64_t length,
                                                     std::uint64_t keep) const {
    std::uint64_t end = start + length;
    for (const Region& region : regions_) {
      if (region.bytes == nullptr) continue;
      if (region.end <= at && region.end > start) start = region.end;
      if (region.start > at && region.start < end) end = region.start;
    }
    return {start, std::max(end, at + keep)};
  }

  // The buffer of the oldest region, to be refilled with `length` bytes of the file.
  Region& replace_oldest(std::uint64_t length) {
    Region& region = regions_[next_];
    next_ = (next_ + 1) % kKept;
    if (region.capacity < length) {
      region.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(length);
      region.capacity = length;
    }
    region.start = region.end = 0;
    region.ends_file = false;
    return region;
  }

  // Forgets a region whose read failed.
  static void drop(Region& region) {
    region.bytes.reset();
    region.capacity = 0;
  }

 private:
  std::array<Region, kKept> regions_;
  std::size_t next_ = 0;
};

// A region read at a chain's first block spans the blocks the file needs if they are adjacent,
// up to kMaxRegion. A region around a block reached by a jump spans twice the bytes still
// needed, within these bounds, a quarter of it before the block.
constexpr std::uint64_t kMinRegion = 4 << 10;
constexpr std::uint64_t kMaxRegion = 1 << 20;
// A positioned read of bytes in the page cache costs about as much as copying this many more.
// Regions read since a jump pay when the blocks they served would have cost more as reads of
// their own than the last region's read did; once they do not, the chain reads no more regions,
// which bounds what a scattered chain reads in vain.
constexpr std::uint64_t kReadCostBytes = 32 << 10;

bool regions_paid(std::size_t blocks_served, std::uint64_t block_size,
                  std::uint64_t region_length) {
  return blocks_served * (kReadCostBytes + block_size) >= kReadCostBytes + region_length;
}

}  // namespace

// Follows the chain with as few positioned reads as give the same bytes and the same errors as
// reading each block's link word and then its payload:
//
// - The first block, with more than one block to come: the file's blocks are most often
//   adjacent, so the region of the file that they fill if they are, from the first block on, is
//   read at once; blocks inside it are then copied from it without a read, wherever the chain
//   goes within it.
// - Adjacent blocks beyond a region: a window of blocks is read at once, each link word into
//   `links` and each payload straight into its place in the buffer, assuming the blocks follow
//   each other in the file. The window starts at one block (the link word and the payload in one
//   read) and grows eightfold while the links say the blocks are adjacent. Where a link leaves
//   the window's assumption, the rest of the window is dropped (its bytes in the buffer are
//   overwritten later).
// - Jumps: chains whose blocks are scattered over a neighbourhood of the file are common, so a
//   block reached by a jump, with more than one block still to come, is read with the region of
//   the file around it, less the bytes that the regions kept for the chain already hold;
//   blocks inside any kept region are then copied from it without a read. Once the blocks served
//   since the last region around a jump was read do not make up for its read, the chain stops
//   reading regions.
// - A read that comes back short ended at the end of the file. A link word or payload that the
//   walk needs and that lies past it is the short read the two-read walk meets at the same
//   block; bytes read ahead past the end where the chain goes elsewhere, or ends, fail nothing.
// - A last block (link 0) whose remaining bytes run past what was read is read on with one exact
//   read of all remaining bytes, as the two-read walk does.
// - An operating system error in a read ahead falls back to the two-read walk from that block,
//   so that only a read that walk makes can report an error.
std::expected<std::vector<std::uint8_t>, DatError> DatDatabase::read_file_data(
    std::uint32_t offset, std::uint32_t size) const {
  if (size == 0) return std::vector<std::uint8_t>{};
  // Every stored byte comes from a distinct byte of the file, so a larger size cannot be read;
  // refusing it here keeps a hostile size from allocating gigabytes first.
  if (size > file_length_) return std::unexpected(DatError(IoError::short_read()));

  std::vector<std::uint8_t> buffer(size);
  const std::uint64_t block_size = header_.block_size;
  const std::size_t block_data_size = header_.block_size - 4;
  std::size_t buffer_offset = 0;
  std::size_t remaining = size;
  std::uint64_t current = offset;
  std::vector<std::uint32_t> visited;  // link words and `offset` are 32-bit

  constexpr std::size_t kMaxWindow = ReadOnlyFile::kMaxPieces / 2;
  std::array<std::array<std::uint8_t, 4>, kMaxWindow> links;
  std::vector<std::span<std::uint8_t>> pieces;  // each block's link word, then its payload
  std::size_t window = 1;
  Regions regions;
  std::uint64_t region_length = 0;  // the bytes of the region read last
  std::size_t region_served = 0;    // blocks served from the regions since then
  bool regions_pay = true;          // false once regions around jumps stopped paying
  bool around_jump = false;         // the region read last lies around a jump
  bool jumped = false;              // the link that led to `current` skipped over the file
  bool at_start = true;             // `current` is the chain's first block
  bool plain = false;               // after an operating system error: two reads per block
  const auto short_read = [] { return std::unexpected(DatError(IoError::short_read())); };

  while (remaining > 0) {
    if (plain) {
      std::array<std::uint8_t, 4> link{};
      if (auto read = file_.read_exact_at_compat(link, current); !read) {
        return std::unexpected(DatError(read.error()));
      }
      const std::uint32_t next_address = load_u32(link.data());
      const std::size_t to_read =
          next_address == 0 ? remaining : std::min(remaining, block_data_size);
      if (auto read = file_.read_exact_at_compat(std::span(buffer).subspan(buffer_offset, to_read),
                                                 current + 4);
          !read) {
        return std::unexpected(DatError(read.error()));
      }
      buffer_offset += to_read;
      remaining -= to_read;
      visited.push_back(static_cast<std::uint32_t>(current));
      current = next_address;
      continue;
    }

    // A block inside a kept region is copied from it.
    if (const auto [link_region, link_fit] = regions.find(current, 4);
        link_fit != Region::Fit::Outside) {
      if (link_fit == Region::Fit::PastEndOfFile) return short_read();
      const std::uint32_t next_address = load_u32(link_region->at(current));
      const std::size_t to_read =
          next_address == 0 ? remaining : std::min(remaining, block_data_size);
      const auto [payload_region, payload_fit] = regions.find(current + 4, to_read);
      if (payload_fit == Region::Fit::PastEndOfFile) return short_read();
      if (payload_fit == Region::Fit::Inside) {
        std::memcpy(buffer.data() + buffer_offset, payload_region->at(current + 4), to_read);
        buffer_offset += to_read;
        remaining -= to_read;
        visited.push_back(static_cast<std::uint32_t>(current));
        ++region_served;
        jumped = next_address != current + block_size;
        current = next_address;
        window = 1;
        continue;
      }
      // The payload runs past every region: the block is read below.
    }

    // The first block, or a block reached by a jump, with more to come: a region of the file.
    if ((jumped || at_start) && regions_pay && remaining > block_data_size) {
      const bool from_start = std::exchange(at_start, false);
      if (around_jump && !regions_paid(region_served, block_size, region_length)) {
        regions_pay = false;
      } else {
        const std::uint64_t blocks_needed = (remaining + block_data_size - 1) / block_data_size;
        std::uint64_t start = current;
        std::uint64_t end = current + std::min(blocks_needed * block_size, kMaxRegion);
        if (!from_start) {
          const std::uint64_t length =
              std::clamp<std::uint64_t>(remaining * std::uint64_t{2}, kMinRegion, kMaxRegion);
          std::tie(start, end) = regions.fresh_span(
              current, current - std::min(current, length / 4), length, block_size);
        }
        Region& region = regions.replace_oldest(end - start);
        auto got = file_.read_at_most(std::span(region.bytes.get(), end - start), start);
        if (!got) {
          Regions::drop(region);
          plain = true;
          continue;
        }
        region.start = start;
        region.end = start + *got;
        region.ends_file = *got < end - start;
        region_length = end - start;
        region_served = 0;
        around_jump = !from_start;
        // The region now holds the link word at `current`, or the file ends before it.
        if (region.fit(current, 4) != Region::Fit::Outside) continue;
        regions_pay = false;
      }
    }

    // The window: up to `window` blocks from `current` on, each with the payload the chain
    // still needs from it.
    std::size_t blocks = 0;
    pieces.clear();
    for (std::size_t left = remaining, at = buffer_offset; blocks < window && left > 0; ++blocks) {
      const std::size_t take = std::min(left, block_data_size);
      pieces.emplace_back(links[blocks]);
      pieces.push_back(std::span(buffer).subspan(at, take));
      at += take;
      left -= take;
    }
    auto got = file_.read_scattered_at_most(pieces, current);
    if (!got) {
      plain = true;
      continue;
    }

    const std::uint64_t start = current;
    jumped = false;
    for (std::size_t i = 0; i < blocks; ++i) {
      const std::uint64_t in_window = i * block_size;  // where the block lies in the window
      if (*got < in_window + 4) return short_read();
      const std::uint32_t next_address = load_u32(links[i].data());
      visited.push_back(static_cast<std::uint32_t>(current));
      if (next_address == 0 && remaining > block_data_size) {
        // The last block, read on past its payload for all remaining bytes.
        if (auto read = file_.read_exact_at_compat(
                std::span(buffer).subspan(buffer_offset, remaining), current + 4);
            !read) {
          return std::unexpected(DatError(read.error()));
        }
        remaining = 0;
        break;
      }
      const std::size_t to_read = std::min(remaining, block_data_size);
      if (*got < in_window + 4 + to_read) return short_read();
      buffer_offset += to_read;
      remaining -= to_read;
      if (remaining == 0) break;  // the last link is read but not followed
      current = next_address;
      if (next_address != start + in_window + block_size) {
        jumped = true;
        break;
      }
    }
    window = jumped ? 1 : std::min(window * 8, kMaxWindow);
  }

  // Each hop consumes payload, so the walk above always ends; a chain that passes the same block
  // twice is a loop, though, and its bytes are not the file's. A chain in ascending order passes
  // no block twice.
  if (std::adjacent_find(visited.begin(), visited.end(), std::greater_equal<>()) != visited.end()) {
    std::sort(visited.begin(), visited.end());
    if (const auto again = std::adjacent_find(visited.begin(), visited.end());
        again != visited.end()) {
      return std::unexpected(DatError::corruption(fmt::format(
          "block chain from offset 0x{:08X} passes the block at 0x{:08X} twice", offset, *again)));
    }
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
