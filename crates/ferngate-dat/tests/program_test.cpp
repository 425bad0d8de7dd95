// End-to-end: the built texture_format_coverage program on archives made here.
#include <gtest/gtest.h>

#include "archive_writer.hpp"
#include "program_runner.hpp"
#include "temp_dir.hpp"
#include "utils.hpp"

namespace {

using ferngate_testing::ArchiveBuilder;
using ferngate_testing::NodeImage;
using ferngate_testing::ProgramResult;
using Bytes = std::vector<std::uint8_t>;

constexpr char kCheckName[] = "texture_format_coverage_against_retail_portal_dat";

class ProgramTest : public testing::Test {
 protected:
  ProgramResult run_on(const std::filesystem::path& archive, std::vector<std::string> args = {}) {
    return ferngate_testing::run_program(FERNGATE_COVERAGE_PROGRAM, args,
                                         {{"FERNGATE_PORTAL_DAT", archive.string()}});
  }
  ProgramResult run_on_image(const Bytes& image) {
    const auto path = dir_ / "portal.dat";
    ferngate_testing::write_file(path, image);
    return run_on(path);
  }
  // A failed check: status 101, and the runner shows the stop message after "Failure".
  // `message` is the whole message, or its start where a source line number follows.
  static void expect_stop(const ProgramResult& result, std::string_view message) {
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exit_code, 101) << result.out << result.err;
    EXPECT_NE(result.out.find(fmt::format("Failure\n{}", message)), std::string::npos)
        << result.out;
  }

  ferngate_testing::TempDir dir_;
};

TEST_F(ProgramTest, ListsItsOneCheck) {
  const auto result = run_on(dir_ / "missing.dat", {"--gtest_list_tests"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_NE(result.out.find(std::string("\n  ") + kCheckName + "\n"), std::string::npos)
      << result.out;
}

TEST_F(ProgramTest, SkipsAndPassesWhenNoArchiveIsFound) {
  const auto missing = dir_ / "missing.dat";
  if (ferngate_dat::find_portal_dat_path(missing.c_str(), FERNGATE_DAT_SOURCE_DIR) ||
      ferngate_dat::path_exists("/home/dunmore/base_dats/client_portal.dat")) {
    GTEST_SKIP() << "an archive exists at one of the fixed locations on this machine";
  }
  const auto result = run_on(missing);
  EXPECT_EQ(result.exit_code, 0) << result.out;
  EXPECT_EQ(result.err, fmt::format("SKIP {}: client_portal.dat not found\n", kCheckName));
}

TEST_F(ProgramTest, StopsWhenTheArchiveCannotBeOpened) {
  const std::string header_context =
      "While parsing field 'magic' in DatHeader at crates/ferngate-dat/src/lib.cpp:";
  {
    SCOPED_TRACE("a directory");
    expect_stop(run_on(dir_.path()),
                "open retail portal.dat: BinRead(Backtrace { error: Io(Os { code: 21, message: "
                "\"Is a directory\" }), frames: [\"" +
                    header_context);
  }
  {
    SCOPED_TRACE("not an archive");
    expect_stop(run_on_image(Bytes(100, 'x')),
                "open retail portal.dat: BinRead(Backtrace { error: Io(UnexpectedEof(\"failed to "
                "fill whole buffer\")), frames: [\"" +
                    header_context);
  }
}

TEST_F(ProgramTest, HostileArchivesStopWithAClearMessage) {
  struct Case {
    const char* name;
    Bytes image;
    std::string message;
  };
  std::vector<Case> cases;
  for (const std::uint32_t block_size : {0U, 3U, 4U}) {
    Bytes image = ArchiveBuilder(64).finish();
    ferngate_testing::put_u32(image, 324, block_size);
    cases.push_back({"block size", image,
                     fmt::format("open retail portal.dat: Corruption(\"block_size {} leaves no "
                                 "room for block payload\")",
                                 block_size)});
  }
  {
    ArchiveBuilder builder(2048);
    NodeImage root;
    root.entries = {ferngate_dat::DatFileEntry{0, 0x06000001, 0, 0, 0, 0}};
    const std::uint32_t at = builder.add_node(root);
    builder.header().root_offset = at;
    Bytes image = builder.finish();
    ferngate_testing::put_u32(image, at + 4, at);
    cases.push_back({"a node referencing itself", image,
                     fmt::format("open retail portal.dat: Corruption(\"directory node at offset "
                                 "0x{:08X} is reached twice\")",
                                 at)});
  }
  {
    ArchiveBuilder builder(1024);
    NodeImage root;
    root.entry_count = 0xFFFFFFFF;
    builder.header().root_offset = builder.add_node(root);
    cases.push_back({"entry_count 0xFFFFFFFF", builder.finish(),
                     "open retail portal.dat: BinRead(Backtrace { error: "
                     "Io(UnexpectedEof(\"failed to fill whole buffer\")), frames: [\"While "
                     "parsing field 'bit_flags' in DatFileEntry at crates/ferngate-dat/src/"
                     "lib.cpp:"});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    expect_stop(run_on_image(c.image), c.message);
  }
}

}  // namespace
