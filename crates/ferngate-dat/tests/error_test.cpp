#include <cerrno>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "error.hpp"

namespace ferngate_dat {
namespace {

struct Rendering {
  DatError error;
  std::string message;
  std::string debug;
};

TEST(DatError, EveryKindRendersItsMessageAndDebugForm) {
  const Rendering cases[] = {
      {IoError::short_read(), "IO error: failed to fill whole buffer",
       R"(Io(UnexpectedEof("failed to fill whole buffer")))"},
      {IoError::os(ENOENT), "IO error: No such file or directory",
       R"(Io(Os { code: 2, message: "No such file or directory" }))"},
      {BinReadError{BinReadError::AssertFail{24, "count -1 out of range of usize"}, {}},
       "Binary read error: assertion failed at position 24: count -1 out of range of usize",
       R"(BinRead(AssertFail { pos: 24, message: "count -1 out of range of usize" }))"},
      {DatError::not_found(0x0000ABCD), "File ID 0000ABCD not found in provider",
       "NotFound(43981)"},
      {DatError::not_found(0x12345678), "File ID 12345678 not found in provider",
       "NotFound(305419896)"},
      {DatError::not_found(0xFFFFFFFF), "File ID FFFFFFFF not found in provider",
       "NotFound(4294967295)"},
      {DatError::duplicate_id(0x0600001F), "Duplicate File ID 0600001F detected",
       "DuplicateId(100663327)"},
      {DatError::duplicate_namespaced_id("portal", 0xBEEF),
       "Duplicate namespaced file portal:0000BEEF detected",
       R"(DuplicateNamespacedId { namespace: "portal", file_id: 48879 })"},
      {DatError::invalid_magic("TB\x01"), "Invalid magic for format: TB\x01",
       R"(InvalidMagic("TB\u{1}"))"},
      {DatError::unsupported_version(16), "Unsupported version: 16", "UnsupportedVersion(16)"},
      {DatError::invalid_namespace("say \"hi\"\n"), "Invalid namespace: say \"hi\"\n",
       R"(InvalidNamespace("say \"hi\"\n"))"},
      {DatError::corruption("loop"), "Corruption detected: loop", R"(Corruption("loop"))"},
      {DatError::decompression_failed(0x060000AB), "Failed to recover compressed file 060000AB",
       "DecompressionFailed(100663467)"},
      {DatError::path_error("/x/portal.dat", IoError::os(ENOENT)),
       "Failed to open file at /x/portal.dat: No such file or directory",
       R"(PathError { path: "/x/portal.dat", source: Os { code: 2, message: "No such file or directory" } })"},
      {DatError::other("tab\there"), "Other error: tab\there", R"(Other("tab\there"))"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.debug);
    EXPECT_EQ(c.error.message(), c.message);
    EXPECT_EQ(fmt::format("{}", c.error), c.message);
    EXPECT_EQ(c.error.debug(), c.debug);
    EXPECT_EQ(fmt::format("{:?}", c.error), c.debug);
  }
}

TEST(DatError, BinReadRendersEveryContextWithItsLocation) {
  constexpr FieldTag kTag{"DatHeader", "magic"};
  const DatError error = BinReadError::in_field(IoError::short_read(), kTag);
  const std::string where =
      fmt::format("crates/ferngate-dat/tests/error_test.cpp:{}", kTag.where.line());
  EXPECT_EQ(error.message(),
            "Binary read error: failed to fill whole buffer; While parsing field 'magic' in "
            "DatHeader (" +
                where + ")");
  EXPECT_EQ(error.debug(),
            R"(BinRead(Backtrace { error: Io(UnexpectedEof("failed to fill whole buffer")), )"
            R"(frames: ["While parsing field 'magic' in DatHeader at )" +
                where + R"("] }))");
}

}  // namespace
}  // namespace ferngate_dat
