// The program on archives made to hurt a reader: each ends with a clear stop, never a signal.
#include <sstream>

#include <gtest/gtest.h>

#include "archive_writer.hpp"
#include "hostile_archives.hpp"
#include "program_runner.hpp"
#include "temp_dir.hpp"

namespace {

TEST(HostileArchives, EachEndsWithAClearStop) {
  ferngate_testing::TempDir dir;
  const auto path = dir / "portal.dat";
  for (const auto& archive : ferngate_testing::hostile_archives()) {
    SCOPED_TRACE(archive.name);
    ferngate_testing::write_file(path, archive.image);
    // Generous: each takes well under a second; this only guards against a hang.
    const auto result = ferngate_testing::run_program(FERNGATE_COVERAGE_PROGRAM, {},
                                                      {{"FERNGATE_PORTAL_DAT", path.string()}}, 60);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exit_code, 101) << result.out << result.err;
    EXPECT_NE(result.out.find("Failure\n" + archive.stop), std::string::npos) << result.out;
    for (const auto& expected : archive.report_lines) {
      EXPECT_NE(result.err.find("\n" + expected), std::string::npos)
          << "missing line: " << expected << "\nin:\n"
          << result.err;
    }
  }
}

}  // namespace
