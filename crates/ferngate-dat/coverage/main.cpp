// texture_format_coverage: hands its one check to GoogleTest, which parses its own flags, runs
// the check and reports it. The process ends with 0 when the check passed or skipped, else 101.
#include <gtest/gtest.h>

#include "check.hpp"

namespace {

class CoverageCheck : public testing::Test {
 public:
  void TestBody() override {
    try {
      ferngate_coverage::texture_format_coverage_against_retail_portal_dat();
    } catch (const ferngate_coverage::CheckFailure& failure) {
      GTEST_MESSAGE_AT_(__FILE__, __LINE__, failure.what(), testing::TestPartResult::kFatalFailure);
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::RegisterTest("texture_format_coverage",
                        "texture_format_coverage_against_retail_portal_dat", nullptr, nullptr,
                        __FILE__, __LINE__, []() -> testing::Test* { return new CoverageCheck; });
  return RUN_ALL_TESTS() == 0 ? 0 : 101;
}
