#include <algorithm>
#include <optional>
#include <random>

#include <gtest/gtest.h>

#include "archive_writer.hpp"
#include "lib.hpp"
#include "reference_chain_reader.hpp"
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

TEST_F(ArchiveTest, ChainReadsGiveTheBytesAndErrorsOfTwoReadsPerBlock) {
  // Blocks of 16 bytes (12 of payload) in numbered slots after the header area; every byte of
  // the file differs from its neighbours, so a payload from the wrong place shows.
  constexpr std::uint32_t kBlock = 16;
  constexpr std::uint32_t kPayload = kBlock - 4;
  constexpr std::uint32_t kBase = ArchiveBuilder::kFirstBlock;
  constexpr std::uint32_t kPastEnd = 0x7FFFFFF0;
  const auto slot = [](std::uint32_t n) { return kBase + n * kBlock; };
  struct Link {
    std::uint32_t from;  // absolute offsets: slot(n), 0 or anything else
    std::uint32_t to;
  };
  struct Case {
    const char* name;
    std::vector<Link> links;
    std::uint32_t first;
    std::uint32_t size;
    std::uint32_t file_length;
    bool succeeds;
  };
  // A run of `count` adjacent slots from `from`, the last linking to `last_to`.
  const auto run = [&](std::uint32_t from, std::uint32_t count, std::uint32_t last_to) {
    std::vector<Link> links;
    for (std::uint32_t i = 0; i + 1 < count; ++i)
      links.push_back({slot(from + i), slot(from + i + 1)});
    links.push_back({slot(from + count - 1), last_to});
    return links;
  };
  // A chain through `offsets` in order, the last linking to 0.
  const auto through = [](const std::vector<std::uint32_t>& offsets) {
    std::vector<Link> links;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
      links.push_back({offsets[i], i + 1 < offsets.size() ? offsets[i + 1] : 0});
    }
    return links;
  };
  // Reads of whole regions of the file serve chains that jump about a neighbourhood; for these
  // short chains a region around a jump spans 4 KiB (256 slots), 1 KiB of it before the block
  // the jump reaches, less what regions read earlier for the chain hold.
  constexpr std::uint32_t kFar = 20000;   // slots: a file of 320 KiB
  constexpr std::uint32_t kLong = 70000;  // slots: more than the 1 MiB a region holds at most
  // Blocks at the end of the region read around slot 10100: one whose link word is the
  // region's last four bytes, one whose payload runs two bytes past it.
  const std::uint32_t jump = slot(10100);
  const std::uint32_t region_end = jump + (3 << 10);
  const std::uint32_t straddling = region_end - 4;
  const std::uint32_t two_past = region_end - 4 - kPayload + 2;
  const auto join = [](std::vector<Link> a, const std::vector<Link>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const Case cases[] = {
      {"adjacent chain ending exactly at the end of the file", run(0, 3, 0), slot(0), 3 * kPayload,
       slot(3), true},
      {"adjacent chain whose last payload lacks its last byte", run(0, 3, 0), slot(0), 3 * kPayload,
       slot(3) - 1, false},
      {"file ending inside a link word the chain needs", run(0, 4, 0), slot(0), 4 * kPayload,
       slot(2) + 2, false},
      {"file ending inside a payload within a long window", run(0, 30, 0), slot(0), 30 * kPayload,
       slot(20) + 7, false},
      {"last needed block's link past the end is read but not followed", run(0, 2, kPastEnd),
       slot(0), 2 * kPayload, slot(2), true},
      {"last needed block only partly used, link not followed", run(0, 2, kPastEnd), slot(0),
       kPayload + 5, slot(1) + 4 + 5, true},
      {"read-ahead past the end where the chain jumps back", join(run(2, 2, slot(0)), run(0, 2, 0)),
       slot(2), 4 * kPayload, slot(4), true},
      {"long adjacent run, a jump, another run", join(run(0, 20, slot(40)), run(40, 12, 0)),
       slot(0), 32 * kPayload, slot(52), true},
      {"long adjacent run whose jump lands past the end", run(0, 20, kPastEnd), slot(0),
       21 * kPayload, slot(60), false},
      {"jump to the block just before, then past the end",
       join(run(5, 1, slot(4)), run(4, 1, slot(6))), slot(5), 4 * kPayload, slot(8), false},
      {"jump backwards then adjacent", join(run(5, 1, slot(4)), run(4, 1, slot(6))), slot(5),
       2 * kPayload + 3, slot(8), true},
      {"first block with link 0 read on into what follows", run(0, 1, 0), slot(0), 3 * kPayload + 9,
       slot(4), true},
      {"last block read on, exactly to the end", run(0, 3, 0), slot(0), 5 * kPayload + 8, slot(5),
       true},
      {"last block read on past the end", run(0, 3, 0), slot(0), 5 * kPayload + 9, slot(5), false},
      {"read on from the middle of a grown window", run(0, 12, 0), slot(0), 12 * kPayload + 40,
       slot(20), true},
      {"first block past the end", {}, slot(30), 5, slot(10), false},
      {"size 0 reads nothing", {}, kPastEnd, 0, slot(1), true},
      {"jumps about a neighbourhood",
       through({slot(10000), slot(10007), slot(10003), slot(10012), slot(9000), slot(10009)}),
       slot(10000), 6 * kPayload, slot(kFar), true},
      {"jumps within and beyond the region",
       through({slot(10000), slot(10007), slot(10003), slot(19000), slot(19003), slot(100),
                slot(101), slot(10005)}),
       slot(10000), 8 * kPayload - 5, slot(kFar), true},
      {"jumps that leave every region at once",
       through(
           {slot(10000), slot(19000), slot(100), slot(5000), slot(15000), slot(300), slot(19999)}),
       slot(10000), 7 * kPayload, slot(kFar), true},
      {"a block whose payload runs past the region",
       through({slot(10000), jump, straddling, slot(10101), slot(10002)}), slot(10000),
       5 * kPayload, slot(kFar), true},
      {"a payload two bytes past the region", through({slot(10000), jump, two_past, slot(10101)}),
       slot(10000), 4 * kPayload, slot(kFar), true},
      {"a last block read on past the region", through({slot(10000), jump, straddling}),
       slot(10000), 4 * kPayload + 300, slot(kFar), true},
      {"a chain coming back to the regions of earlier jumps",
       through({slot(0), slot(5000), slot(1), slot(10000), slot(5001), slot(2), slot(10001),
                slot(5002)}),
       slot(0), 8 * kPayload, slot(kFar), true},
      {"a region around a jump starting where the first blocks' span ends",
       through({slot(10000), slot(10010), slot(9999), slot(10002)}), slot(10000), 4 * kPayload,
       slot(kFar), true},
      {"a region around a jump ending where the first blocks' span starts",
       through({slot(10000), slot(9990), slot(9991), slot(10001), slot(9992)}), slot(10000),
       5 * kPayload, slot(kFar), true},
      {"a region reaching the end of the file",
       through({slot(10000), slot(10005), slot(10003), slot(10009)}), slot(10000), 4 * kPayload,
       slot(10010), true},
      {"a region reaching the end of the file, the chain past it",
       through({slot(10000), slot(10005), slot(10003), slot(10012)}), slot(10000), 4 * kPayload,
       slot(10010), false},
      {"a region reaching the end of the file inside a payload",
       through({slot(10000), slot(10005), slot(10003), slot(10009)}), slot(10000), 4 * kPayload,
       slot(10009) + 10, false},
      {"first blocks out of order within the span they would fill",
       through({slot(0), slot(3), slot(1), slot(2)}), slot(0), 4 * kPayload, slot(kFar), true},
      {"chain leaving the first blocks' span and coming back",
       through({slot(0), slot(2), slot(15000), slot(1), slot(3)}), slot(0), 5 * kPayload - 7,
       slot(kFar), true},
      {"file ending inside a link word within the first blocks' span",
       through({slot(0), slot(2), slot(1)}), slot(0), 3 * kPayload, slot(2) + 2, false},
      {"adjacent chain longer than a region", run(0, kLong, 0), slot(0), kLong * kPayload,
       slot(kLong), true},
      {"a chain looping inside a region",
       join(through({slot(10000), slot(10005), slot(10003)}), {{slot(10003), slot(10005)}}),
       slot(10000), 6 * kPayload, slot(kFar), false},
      {"chain looping back to its first block", run(0, 3, slot(0)), slot(0), 7 * kPayload, slot(3),
       false},
      {"adjacent loop of one block onto itself", run(0, 1, slot(0)), slot(0), 2 * kPayload, slot(1),
       false},
      {"loop that also runs out of file", run(0, 3, slot(1)), slot(0), 6 * kPayload, slot(3) - 1,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArchiveBuilder builder(kBlock);
    Bytes image = builder.finish();
    image.resize(c.file_length);
    for (std::size_t i = 0; i < image.size(); ++i) {
      image[i] = static_cast<std::uint8_t>(i * 131 + (i >> 8));
    }
    ferngate_testing::put_u32(image, DatHeader::kOffset + 4, kBlock);
    ferngate_testing::put_u32(image, DatHeader::kOffset + 32, 0);  // root_offset: no directory
    // Every slot without a link of its own links past the end, so that a stray read of one
    // shows as an error.
    for (std::uint32_t n = 0; slot(n) + 4 <= image.size(); ++n) {
      ferngate_testing::put_u32(image, slot(n), kPastEnd);
    }
    for (const Link& link : c.links) {
      if (link.from + 4 <= image.size()) ferngate_testing::put_u32(image, link.from, link.to);
    }
    const auto expected = ferngate_testing::reference_read_chain(image, kBlock, c.first, c.size);
    ASSERT_EQ(expected.has_value(), c.succeeds) << (expected ? "" : expected.error().message());

    const auto opened = open_image(image);
    ASSERT_TRUE(opened.has_value()) << opened.error().debug();
    const auto got = opened->read_file_data(c.first, c.size);
    ASSERT_EQ(got.has_value(), expected.has_value()) << (got ? "" : got.error().message());
    if (expected) {
      EXPECT_EQ(*got, *expected);
    } else {
      EXPECT_EQ(got.error(), expected.error());
    }
  }
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
