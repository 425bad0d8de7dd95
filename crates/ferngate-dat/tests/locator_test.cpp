#include <gtest/gtest.h>

#include "archive_writer.hpp"
#include "temp_dir.hpp"
#include "utils.hpp"

namespace ferngate_dat {
namespace {

namespace fs = std::filesystem;

class LocatorTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(source_dir_);
    fs::create_directories(root_ / "dats");
  }
  void touch(const fs::path& path) {
    ferngate_testing::write_file(path, std::vector<std::uint8_t>{1});
  }

  ferngate_testing::TempDir root_;
  fs::path source_dir_ = root_ / "crates/ferngate-dat";
  // The tree candidate as the locator builds it: not normalised.
  fs::path in_tree_ = source_dir_ / "../../" / "dats/portal.dat";
  fs::path env_file_ = root_ / "elsewhere.dat";
};

TEST_F(LocatorTest, VariableWinsWhenItNamesSomethingThatExists) {
  touch(env_file_);
  touch(root_ / "dats/portal.dat");
  EXPECT_EQ(find_portal_dat_path(env_file_.c_str(), source_dir_), env_file_);
  // A directory exists too; opening it is what fails later.
  EXPECT_EQ(find_portal_dat_path(root_.path().c_str(), source_dir_), root_.path());
}

TEST_F(LocatorTest, SourceTreeCandidateFollowsAnUnusableVariable) {
  touch(root_ / "dats/portal.dat");
  const std::string missing = (root_ / "missing.dat").string();
  const char invalid_utf8[] = {'\xff', '\xfe', 0};
  for (const char* value : {static_cast<const char*>(nullptr), "", missing.c_str(), invalid_utf8}) {
    SCOPED_TRACE(value == nullptr ? "unset" : value);
    const auto found = find_portal_dat_path(value, source_dir_);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->string(), in_tree_.string());
  }
}

TEST_F(LocatorTest, NothingWhenNoCandidateExists) {
  EXPECT_EQ(find_portal_dat_path(nullptr, source_dir_), std::nullopt);
  EXPECT_EQ(find_portal_dat_path((root_ / "missing.dat").c_str(), source_dir_), std::nullopt);
  // A dangling link does not exist either.
  fs::create_symlink(root_ / "nowhere", env_file_);
  EXPECT_EQ(find_portal_dat_path(env_file_.c_str(), source_dir_), std::nullopt);
}

}  // namespace
}  // namespace ferngate_dat
