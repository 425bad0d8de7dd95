#include "hostile_archives.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "archive_writer.hpp"
#include "jpeg_streams.hpp"
#include "texture_records.hpp"

namespace ferngate_testing {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr char kOpen[] = "open retail portal.dat: ";
constexpr char kTooFew[] =
    "implausibly low retail Texture count (0 decoded + 0 palette-skipped) — DAT file may be "
    "truncated";
constexpr char kDecodeStopTail[] =
    " retail Texture records failed to decode via to_rgba8 — unhandled SurfacePixelFormat(s) "
    "listed above. Add dispatch arms in crates/ferngate-dat/src/file_type/texture::to_rgba8.";

DatFileEntry entry(std::uint32_t id, std::uint32_t offset = 0, std::uint32_t size = 0) {
  return DatFileEntry{0, id, offset, size, 0, 1};
}

std::string reached_twice(std::uint32_t offset) {
  return fmt::format("{}Corruption(\"directory node at offset 0x{:08X} is reached twice\")", kOpen,
                     offset);
}

HostileArchive bad_block_size(std::uint32_t block_size) {
  Bytes image = ArchiveBuilder(64).finish();
  put_u32(image, DatHeader::kOffset + 4, block_size);
  return {fmt::format("block_size {}", block_size), image,
          fmt::format("{}Corruption(\"block_size {} leaves no room for block payload\")", kOpen,
                      block_size)};
}

HostileArchive node_referencing_itself() {
  ArchiveBuilder builder(2048);
  NodeImage root;
  root.entries = {entry(0x06000001)};
  const std::uint32_t at = builder.add_node(root);
  builder.header().root_offset = at;
  Bytes image = builder.finish();
  put_u32(image, at + 4, at);  // branch 0 of the root is the root
  return {"a node referencing itself", image, reached_twice(at)};
}

// A root with two children; the first child's child leads back to the root or to the second
// child.
HostileArchive directory_cycle(bool to_root) {
  ArchiveBuilder builder(2048);
  NodeImage grandchild;
  grandchild.entries = {entry(0x06000003)};
  const std::uint32_t grandchild_at = builder.add_node(grandchild);
  NodeImage child;
  child.entries = {entry(0x06000002)};
  child.branches = {grandchild_at, 0};
  const std::uint32_t child_at = builder.add_node(child);
  NodeImage sibling;
  sibling.entries = {entry(0x06000005)};
  const std::uint32_t sibling_at = builder.add_node(sibling);
  NodeImage root;
  root.entries = {entry(0x06000004)};
  root.branches = {child_at, sibling_at};
  const std::uint32_t root_at = builder.add_node(root);
  builder.header().root_offset = root_at;
  Bytes image = builder.finish();
  const std::uint32_t target = to_root ? root_at : sibling_at;
  put_u32(image, grandchild_at + 4, target);
  return {to_root ? "a directory cycle to the root" : "a directory cycle to a sibling", image,
          reached_twice(target)};
}

HostileArchive chain_looping_onto_itself() {
  ArchiveBuilder builder(64, 1, /*scatter=*/false);
  const std::uint32_t chain = builder.add_chain(Bytes(120, 0xAB));
  NodeImage root;
  root.entries = {entry(0x06000001, chain, 1000)};
  builder.header().root_offset = builder.add_node(root);
  Bytes image = builder.finish();
  put_u32(image, chain + 64, chain);  // the second block links back to the first
  return {"a block chain looping onto itself",
          image,
          "1 retail Texture records failed to parse",
          {fmt::format("  PARSE FAIL 0x06000001: get_file: Corruption detected: block chain from "
                       "offset 0x{:08X} passes the block at 0x{:08X} twice",
                       chain, chain)}};
}

HostileArchive huge_entry() {
  ArchiveBuilder builder(1024);
  const std::uint32_t chain = builder.add_chain(Bytes(100, 1));
  NodeImage root;
  root.entries = {entry(0x06000001, chain, 0xFFFFFFF0)};
  builder.header().root_offset = builder.add_node(root);
  return {"an entry of size 0xFFFFFFF0",
          builder.finish(),
          "1 retail Texture records failed to parse",
          {"  PARSE FAIL 0x06000001: get_file: IO error: failed to fill whole buffer"}};
}

HostileArchive huge_entry_count() {
  ArchiveBuilder builder(1024);
  NodeImage root;
  root.entry_count = 0xFFFFFFFF;
  builder.header().root_offset = builder.add_node(root);
  return {"entry_count 0xFFFFFFFF", builder.finish(),
          fmt::format("{}BinRead(Backtrace {{ error: Io(UnexpectedEof(\"failed to fill whole "
                      "buffer\")), frames: [\"While parsing field 'bit_flags' in DatFileEntry at "
                      "crates/ferngate-dat/src/lib.cpp:",
                      kOpen)};
}

// Nodes 12 bytes apart, each read on contiguously from its one block (link 0): node k's branch 0
// is node k + 1, and its entry count falls on a later node's zero link word.
HostileArchive deep_directory() {
  constexpr std::size_t kDepth = 100000;
  constexpr std::uint32_t kBase = ArchiveBuilder::kFirstBlock;
  Bytes image(kBase + kDepth * 12 + DatDirectoryNode::kSize, 0);
  for (std::size_t k = 0; k + 1 < kDepth; ++k) {
    put_u32(image, kBase + k * 12 + 4, static_cast<std::uint32_t>(kBase + (k + 1) * 12));
  }
  ArchiveBuilder builder(1024);
  builder.header().root_offset = kBase;
  builder.header().file_size = static_cast<std::uint32_t>(image.size());
  const Bytes header = builder.finish();
  std::copy_n(header.begin() + DatHeader::kOffset, DatHeader::kSize,
              image.begin() + DatHeader::kOffset);
  return {"a directory 100,000 levels deep", image, kTooFew};
}

// Texture records whose dimensions ask for far more pixels than anything should allocate.
HostileArchive huge_dimensions() {
  namespace raw = raw_format;
  const Bytes grey_stream = encode({.width = 16, .height = 16, .input = JCS_GRAYSCALE});
  struct Texture {
    std::uint32_t id;
    TextureRecord record;
    std::string line;
  };
  const std::vector<Texture> textures = {
      {0x06000001,
       {.width = -1, .height = 1, .format_raw = raw::kDxt1, .source_data = Bytes(64, 0x55)},
       "    sample decode fail 0x06000001: to_rgba8: width * height overflowed usize"},
      {0x06000002,
       {.width = 0x7FFFFFFF,
        .height = 0x7FFFFFFF,
        .format_raw = raw::kA8R8G8B8,
        .source_data = Bytes(64, 1)},
       "    sample decode fail 0x06000002: to_rgba8: source_data too short for declared "
       "width/height"},
      {0x06000003,
       {.width = 8192, .height = 8192, .format_raw = raw::kDxt5, .source_data = Bytes(32, 7)},
       "    sample decode fail 0x06000003: to_rgba8: width * height overflowed usize"},
      {0x06000004,
       {.width = 16,
        .height = 16,
        .format_raw = raw::kJpeg,
        .source_data = with_frame_size(grey_stream, 65535, 65535)},
       "    sample decode fail 0x06000004: to_rgba8: JPEG decode failed: unsupported JPEG "
       "feature: Maximum supported image dimension is 65500 pixels"},
      {0x06000005,
       {.width = 16,
        .height = 16,
        .format_raw = raw::kJpeg,
        .source_data = with_frame_size(grey_stream, 8192, 8192)},
       "    sample decode fail 0x06000005: to_rgba8: JPEG decode failed: image of 8192 x 8192 "
       "pixels exceeds the limit of 16777216 pixels"},
  };
  std::vector<StoredFile> files;
  HostileArchive archive{"texture records declaring huge dimensions",
                         {},
                         fmt::format("{}{}", textures.size(), kDecodeStopTail)};
  for (const auto& texture : textures) {
    files.push_back({texture.id, encode_texture(texture.record)});
    archive.report_lines.push_back(texture.line);
  }
  archive.image = write_archive(files);
  return archive;
}

// A length far beyond the record's bytes fails its parse before anything of that size exists.
HostileArchive huge_length() {
  const TextureRecord record{.width = 4,
                             .height = 4,
                             .format_raw = raw_format::kDxt1,
                             .source_data = Bytes(8, 0),
                             .length = 0x7FFFFFF0};
  const std::vector<StoredFile> files = {{0x07000001, encode_texture(record)}};
  return {"a texture record declaring a huge length",
          write_archive(files),
          "1 retail Texture records failed to parse",
          {"  PARSE FAIL 0x07000001: unpack: BinRead(Backtrace { error: Io(UnexpectedEof(\"not "
           "enough bytes in reader\")), frames: [\"While parsing field 'source_data' in Texture "
           "at "}};
}

}  // namespace

std::vector<HostileArchive> hostile_archives() {
  std::vector<HostileArchive> archives;
  for (const std::uint32_t block_size : {0U, 3U, 4U})
    archives.push_back(bad_block_size(block_size));
  archives.push_back(node_referencing_itself());
  archives.push_back(directory_cycle(true));
  archives.push_back(directory_cycle(false));
  archives.push_back(chain_looping_onto_itself());
  archives.push_back(huge_entry());
  archives.push_back(huge_entry_count());
  archives.push_back(deep_directory());
  archives.push_back(huge_dimensions());
  archives.push_back(huge_length());
  return archives;
}

}  // namespace ferngate_testing
