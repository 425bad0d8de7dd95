// End-to-end: the built texture_format_coverage program on archives made here.
#include <fstream>

#include <gtest/gtest.h>

#include "archive_writer.hpp"
#include "program_runner.hpp"
#include "temp_dir.hpp"
#include "texture_records.hpp"
#include "utils.hpp"

namespace {

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

TEST_F(ProgramTest, LeavesTheArchiveUntouched) {
  const std::vector<ferngate_testing::StoredFile> files = {
      {0x06000001,
       ferngate_testing::encode_texture({.width = 1,
                                         .height = 1,
                                         .format_raw = ferngate_testing::raw_format::kA8,
                                         .source_data = {7}})}};
  const Bytes image = ferngate_testing::write_archive(files);
  const auto path = dir_ / "portal.dat";
  ferngate_testing::write_file(path, image);
  std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  const auto modified = std::filesystem::last_write_time(path);

  const auto result = run_on(path);
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exit_code, 101);  // one texture is implausibly few, and that is all
  EXPECT_EQ(std::filesystem::last_write_time(path), modified);
  std::ifstream in(path, std::ios::binary);
  const Bytes after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(after, image);
}

}  // namespace
