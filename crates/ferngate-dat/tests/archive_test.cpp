#include <random>

#include <gtest/gtest.h>

#include "archive_writer.hpp"
#include "lib.hpp"
#include "temp_dir.hpp"

namespace ferngate_dat {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ferngate_testing::ArchiveBuilder;
using ferngate_testing::ArchiveOptions;
using ferngate_testing::NodeImage;
using ferngate_testing::put_u32;
using ferngate_testing::StoredFile;

DatFileEntry entry(std::uint32_t id, std::uint32_t offset = 0, std::uint32_t size = 0,
                   std::uint32_t bit_flags = 0) {
  return DatFileEntry{bit_flags, id, offset, size, 7, 1};
}

Bytes bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

class ArchiveTest : public testing::Test {
 protected:
  std::expected<DatDatabase, DatError> open_image(const Bytes& image) {
    const auto path = dir_ / "portal.dat";
    ferngate_testing::write_file(path, image);
    return DatDatabase::open(path);
  }

  // An archive whose root node is `root`, stored after whatever `builder` already holds.
  std::expected<DatDatabase, DatError> open_with_root(ArchiveBuilder& builder,
                                                      const NodeImage& root) {
    builder.header().root_offset = builder.add_node(root);
    return open_image(builder.finish());
  }

  ferngate_testing::TempDir dir_;
};

TEST_F(ArchiveTest, HeaderCutInsideAFieldFailsWithThatFieldsContext) {
  struct Field {
    const char* name;
    std::size_t start;
    std::size_t width;
  };
  const char* const kU32Names[] = {"magic",         "block_size",     "file_size",   "dataset",
                                   "subset",        "free_head",      "free_tail",   "free_count",
                                   "root_offset",   "new_lru",        "old_lru",     "use_lru",
                                   "master_map_id", "engine_version", "game_version"};
  std::vector<Field> fields;
  for (std::size_t i = 0; i < std::size(kU32Names); ++i) fields.push_back({kU32Names[i], i * 4, 4});
  fields.push_back({"version_string", 60, 16});
  fields.push_back({"version_minor", 76, 4});

  const Bytes whole = ferngate_testing::write_archive({});
  for (const auto& field : fields) {
    for (const std::size_t cut : {field.start, field.start + field.width - 1}) {
      SCOPED_TRACE(fmt::format("{} cut at {}", field.name, cut));
      const Bytes image(whole.begin(), whole.begin() + 320 + static_cast<std::ptrdiff_t>(cut));
      const auto opened = open_image(image);
      ASSERT_FALSE(opened.has_value());
      ASSERT_EQ(opened.error().kind(), DatError::Kind::BinRead);
      const BinReadError& failure = opened.error().bin_read_error();
      const bool bytes_field = field.width == 16;
      EXPECT_EQ(std::get<IoError>(failure.failure),
                IoError::unexpected_eof(bytes_field ? "not enough bytes in reader"
                                                    : "failed to fill whole buffer"));
      ASSERT_EQ(failure.frames.size(), 1U);
      EXPECT_EQ(failure.frames[0].message,
                fmt::format("While parsing field '{}' in DatHeader", field.name));
      EXPECT_NE(opened.error().message().find(failure.frames[0].message), std::string::npos);
    }
  }
  // A file that ends before the header starts fails at its first field too.
  const auto tiny = open_image(Bytes(10, 0xFF));
  ASSERT_FALSE(tiny.has_value());
  EXPECT_EQ(tiny.error().bin_read_error().frames.at(0).message,
            "While parsing field 'magic' in DatHeader");
}

TEST_F(ArchiveTest, MissingFileIsAPathErrorNamingThePath) {
  const auto path = dir_ / "no-such.dat";
  const auto opened = DatDatabase::open(path);
  ASSERT_FALSE(opened.has_value());
  EXPECT_EQ(opened.error(), DatError::path_error(path, IoError::os(ENOENT)));
  EXPECT_EQ(opened.error().message(),
            fmt::format("Failed to open file at {}: No such file or directory", path.string()));
}

TEST_F(ArchiveTest, HeaderValuesAreKeptAndNotValidated) {
  ArchiveBuilder builder(64);
  DatHeader& header = builder.header();
  header.magic = 0xDEADBEEF;
  header.file_size = 3;
  header.dataset = 4;
  header.subset = 5;
  header.free_head = 6;
  header.free_tail = 7;
  header.free_count = 8;
  header.new_lru = 9;
  header.old_lru = 10;
  header.use_lru = 11;
  header.master_map_id = 12;
  header.engine_version = 999;
  header.game_version = 0;
  header.version_string = {'a', 0, 'b', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'z'};
  header.version_minor = 0xFFFFFFFF;
  const auto opened = open_with_root(builder, NodeImage{});
  ASSERT_TRUE(opened.has_value()) << opened.error().debug();
  EXPECT_EQ(opened->header(), builder.header());
}

TEST_F(ArchiveTest, RootOffsetZeroGivesAnEmptyDirectory) {
  ArchiveBuilder builder(1024);
  const auto opened = open_image(builder.finish());
  ASSERT_TRUE(opened.has_value()) << opened.error().debug();
  EXPECT_TRUE(opened->files().empty());
  const auto fetched = opened->get_file(0x06000001);
  ASSERT_FALSE(fetched.has_value());
  EXPECT_EQ(fetched.error(), DatError::not_found(0x06000001));
}

TEST_F(ArchiveTest, DirectoryWalkVisitsOnlyTheBranchesInUse) {
  ArchiveBuilder builder(256);
  auto leaf = [&](std::uint32_t id) {
    NodeImage node;
    node.entries = {entry(id)};
    return builder.add_node(node);
  };

  // A leaf's other branches are never looked at, even when they point nowhere.
  NodeImage stray_leaf;
  stray_leaf.entries = {entry(1)};
  for (std::size_t i = 1; i < stray_leaf.branches.size(); ++i) stray_leaf.branches[i] = 0xFFFFFF00;

  // An inner node with three entries visits branches 0 to 3, skipping a 0; branch 4 is ignored.
  NodeImage inner;
  inner.entries = {entry(10), entry(20), entry(30)};
  inner.branches = {builder.add_node(stray_leaf), 0, leaf(25), leaf(35), leaf(99)};

  const auto opened = open_with_root(builder, inner);
  ASSERT_TRUE(opened.has_value()) << opened.error().debug();
  std::vector<std::uint32_t> ids;
  for (const auto& [id, e] : opened->files()) ids.push_back(id);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 10, 20, 25, 30, 35}));

  // With no entries an inner node still visits branch 0, and only branch 0.
  ArchiveBuilder second(256);
  NodeImage only_child;
  only_child.entries = {entry(5)};
  NodeImage empty_inner;
  empty_inner.branches = {second.add_node(only_child), second.add_node(only_child)};
  empty_inner.branches[1] = 0xFFFFFF00;
  const auto reopened = open_with_root(second, empty_inner);
  ASSERT_TRUE(reopened.has_value()) << reopened.error().debug();
  EXPECT_EQ(reopened->files().size(), 1U);
  EXPECT_TRUE(reopened->files().contains(5));
}

TEST_F(ArchiveTest, NodeHoldsAtMost61Entries) {
  NodeImage full;
  for (std::uint32_t i = 0; i < 61; ++i) full.entries.push_back(entry(i));
  ArchiveBuilder builder(1024);
  const auto opened = open_with_root(builder, full);
  ASSERT_TRUE(opened.has_value()) << opened.error().debug();
  EXPECT_EQ(opened->files().size(), 61U);

  for (const std::uint32_t claimed : {62U, 0xFFFFFFFFU}) {
    SCOPED_TRACE(claimed);
    NodeImage over = full;
    over.entry_count = claimed;
    ArchiveBuilder again(1024);
    const auto refused = open_with_root(again, over);
    ASSERT_FALSE(refused.has_value());
    ASSERT_EQ(refused.error().kind(), DatError::Kind::BinRead);
    EXPECT_EQ(refused.error().bin_read_error().frames.at(0).message,
              "While parsing field 'bit_flags' in DatFileEntry");
  }
}

TEST_F(ArchiveTest, LaterEntryWinsForADuplicateId) {
  ArchiveBuilder builder(1024);
  NodeImage child;
  child.entries = {entry(7, 0, 0, 0x70)};
  NodeImage root;
  root.entries = {entry(7, 0, 0, 0x10), entry(8, 0, 0, 0x10), entry(8, 0, 0, 0x20)};
  root.branches[0] = builder.add_node(child);
  const auto opened = open_with_root(builder, root);
  ASSERT_TRUE(opened.has_value()) << opened.error().debug();
  EXPECT_EQ(opened->files().at(7).bit_flags, 0x70U);  // the subtree comes after its parent
  EXPECT_EQ(opened->files().at(8).bit_flags, 0x20U);  // the later slot of one node
}

TEST_F(ArchiveTest, ChainsReadExactlyTheirSize) {
  constexpr std::uint32_t kBlock = 64;
  constexpr std::size_t kPayload = kBlock - 4;
  ArchiveBuilder builder(kBlock, 3, /*scatter=*/false);
  Bytes pattern(500);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(i * 7);

  // One full block whose link word is never followed, whatever it holds.
  const Bytes one_block(pattern.begin(), pattern.begin() + kPayload);
  const std::uint32_t one = builder.add_chain(one_block);
  // A chain whose first link is 0 is read on, contiguously, past its block.
  const std::uint32_t long_last = builder.add_chain(pattern);
  const std::uint32_t broken = builder.add_chain(pattern);

  NodeImage root;
  root.entries = {entry(1, one, kPayload), entry(2, long_last, 300), entry(3, 0xFFFFFFF0, 0),
                  entry(4, 0xFFFFFFF0, 0, 1), entry(5, broken, 300)};
  builder.header().root_offset = builder.add_node(root);
  Bytes image = builder.finish();
  put_u32(image, one, 0xFFFFFF00);
  put_u32(image, long_last, 0);
  put_u32(image, broken + kBlock, 0x7FFFFFF0);  // the second block's link points past the end

  const auto opened = open_image(image);
  ASSERT_TRUE(opened.has_value()) << opened.error().debug();
  EXPECT_EQ(opened->get_file(1).value(), one_block);
  EXPECT_EQ(opened->get_file(2).value(),
            Bytes(image.begin() + long_last + 4, image.begin() + long_last + 4 + 300));
  EXPECT_EQ(opened->get_file(3).value(), Bytes{});
  EXPECT_EQ(opened->get_file(4).value(), Bytes{});
  const auto past_end = opened->get_file(5);
  ASSERT_FALSE(past_end.has_value());
  EXPECT_EQ(past_end.error(), DatError(IoError::short_read()));
  // A failed fetch leaves the database usable.
  EXPECT_EQ(opened->get_file(1).value(), one_block);
}

TEST_F(ArchiveTest, CompressedEntriesComeBackDecompressed) {
  const Bytes text = bytes_of("abcabcabcabcabcabcabc, said the record, abcabcabc");
  const std::vector<StoredFile> files = {{0x06000001, text, true}, {0x06000002, text, false}};
  const auto opened = open_image(ferngate_testing::write_archive(files));
  ASSERT_TRUE(opened.has_value()) << opened.error().debug();
  EXPECT_TRUE(opened->files().at(0x06000001).is_compressed());
  EXPECT_LT(opened->files().at(0x06000001).size, text.size());
  EXPECT_EQ(opened->get_file(0x06000001).value(), text);
  EXPECT_EQ(opened->get_file(0x06000002).value(), text);

  // Only bit 0 marks compression.
  EXPECT_FALSE((DatFileEntry{0xFFFFFFFE, 0, 0, 0, 0, 0}.is_compressed()));
  EXPECT_TRUE((DatFileEntry{0x00000001, 0, 0, 0, 0, 0}.is_compressed()));
}

TEST_F(ArchiveTest, RandomArchivesReadBackAsWritten) {
  std::mt19937_64 rng(20261210);
  const std::uint32_t block_sizes[] = {5, 6, 64, 1024, 1720, 4096};
  for (int round = 0; round < 24; ++round) {
    ArchiveOptions options;
    options.block_size = block_sizes[rng() % std::size(block_sizes)];
    options.seed = rng();
    options.scatter = rng() % 4 != 0;
    options.max_entries_per_node = 1 + rng() % 61;
    std::vector<StoredFile> files(rng() % 300);
    std::uint32_t id = static_cast<std::uint32_t>(rng() % 1000);
    for (auto& file : files) {
      id += 1 + static_cast<std::uint32_t>(rng() % 5000);
      file.id = id;
      file.bytes.resize(rng() % 8 == 0 ? rng() % 20000 : rng() % 600);
      const std::uint8_t period = static_cast<std::uint8_t>(1 + rng() % 9);
      for (std::size_t i = 0; i < file.bytes.size(); ++i) {
        file.bytes[i] = rng() % 3 == 0 ? static_cast<std::uint8_t>(rng()) : i % period;
      }
      file.compress = rng() % 3 == 0;
    }
    std::shuffle(files.begin(), files.end(), rng);
    SCOPED_TRACE(fmt::format("round {}: {} files, block size {}, {} entries a node", round,
                             files.size(), options.block_size, options.max_entries_per_node));

    const auto opened = open_image(ferngate_testing::write_archive(files, options));
    ASSERT_TRUE(opened.has_value()) << opened.error().debug();
    ASSERT_EQ(opened->files().size(), files.size());
    for (const auto& file : files) {
      ASSERT_EQ(opened->files().at(file.id).is_compressed(), file.compress);
      ASSERT_EQ(opened->get_file(file.id).value(), file.bytes) << file.id;
    }
  }
}

}  // namespace
}  // namespace ferngate_dat
