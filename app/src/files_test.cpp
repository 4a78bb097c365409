#include "qovira/app/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace qovira {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() /
        ("qovira-files-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::size_t entries() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder_), fs::directory_iterator()));
  }

  fs::path folder_;
};

TEST_F(FilesTest, ANameNearTheLengthLimitIsWrittenAndLeavesNoTemporary) {
  // 250 bytes: within the usual 255-byte limit, with no room for a suffix.
  const fs::path target = folder_ / (std::string(240, 'x') + ".repaired");
  const Bytes bytes{1, 2, 3};
  ASSERT_TRUE(write_file_atomically(target, bytes).has_value());
  EXPECT_EQ(read_file(target).value(), bytes);
  EXPECT_EQ(entries(), 1u);
}

TEST_F(FilesTest, AFailedReplaceKeepsTheEarlierFile) {
  const fs::path target = folder_ / "table.mb";
  ASSERT_TRUE(write_file_atomically(target, Bytes{7}).has_value());
  ASSERT_TRUE(write_file_atomically(target, Bytes{8, 9}).has_value());
  EXPECT_EQ(read_file(target).value(), (Bytes{8, 9}));
  // A directory in the way cannot be replaced by a file.
  fs::create_directories(folder_ / "busy" / "inside");
  EXPECT_FALSE(write_file_atomically(folder_ / "busy", Bytes{1}).has_value());
  EXPECT_TRUE(fs::is_directory(folder_ / "busy" / "inside"));
  EXPECT_EQ(entries(), 2u);
}

TEST_F(FilesTest, OnlyRegularFilesAreRead) {
  EXPECT_FALSE(read_file(folder_).has_value());
  EXPECT_FALSE(read_file(folder_ / "missing").has_value());
}

}  // namespace
}  // namespace qovira
