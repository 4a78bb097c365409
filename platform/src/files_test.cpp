#include "qovira/platform/files.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "files_detail.h"

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
    // Fixed, so the expected permission bits do not depend on who runs the tests.
    previous_umask_ = ::umask(022);
  }
  void TearDown() override {
    ::umask(previous_umask_);
    fs::remove_all(folder_);
  }

  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      found.push_back(entry.path().filename().string());
    }
    std::ranges::sort(found);
    return found;
  }

  void make_file(const fs::path& path, std::string_view contents, fs::perms permissions) const {
    std::ofstream(path, std::ios::binary) << contents;
    fs::permissions(path, permissions);
  }

  static fs::perms permissions_of(const fs::path& path) {
    return fs::status(path).permissions() & fs::perms::mask;
  }

  static std::string contents(const fs::path& path) {
    const auto bytes = read_file(path);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<unreadable>");
  }

  // Temporary names taken in turn from `list`, for the seam.
  static detail::TemporaryNames names_from(std::vector<std::string> list) {
    return [list = std::move(list),
            next = std::size_t{0}]() mutable -> std::expected<std::string, std::string> {
      return list.at(next++ % list.size());
    };
  }

  fs::path folder_;
  mode_t previous_umask_ = 0;
};

constexpr fs::perms OWNER_ONLY = fs::perms::owner_read | fs::perms::owner_write;
constexpr fs::perms EVERYONE_READS = OWNER_ONLY | fs::perms::group_read | fs::perms::others_read;

TEST_F(FilesTest, ANameNearTheLengthLimitIsWrittenAndLeavesNoTemporary) {
  // 250 bytes: within the usual 255-byte limit, with no room for a suffix.
  const fs::path target = folder_ / (std::string(240, 'x') + ".repaired");
  const Bytes bytes{1, 2, 3};
  ASSERT_TRUE(write_file_atomically(target, bytes).has_value());
  EXPECT_EQ(read_file(target).value(), bytes);
  EXPECT_EQ(names().size(), 1u);
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
  EXPECT_EQ(names(), (std::vector<std::string>{"busy", "table.mb"}));
}

TEST_F(FilesTest, AWriteCutShortKeepsTheEarlierFileAndRemovesTheTemporary) {
  const fs::path target = folder_ / "table.mb";
  make_file(target, "earlier", EVERYONE_READS);
  // Past the file-size limit the write fails with EFBIG (the signal it would raise is ignored).
  const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit previous{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
  rlimit small = previous;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const auto written = write_file_atomically(target, Bytes(100000, 1));
  ::setrlimit(RLIMIT_FSIZE, &previous);
  std::signal(SIGXFSZ, previous_handler);

  ASSERT_FALSE(written.has_value());
  EXPECT_EQ(written.error(), detail::errno_text(EFBIG));
  EXPECT_EQ(contents(target), "earlier");
  EXPECT_EQ(names(), std::vector<std::string>{"table.mb"});
}

TEST_F(FilesTest, ATakenTemporaryNameIsSkippedNeverFollowed) {
  const fs::path target = folder_ / "table.mb";
  make_file(folder_ / "victim", "not ours", EVERYONE_READS);
  // A link planted at the first name, another one dangling at the second: neither is written
  // through; the third name is free.
  fs::create_symlink(folder_ / "victim", folder_ / ".planted");
  fs::create_symlink(folder_ / "created-through-link", folder_ / ".dangling");
  // Written in two pieces, as a long report is.
  const Bytes head{'n', 'e'};
  const Bytes tail{'w'};
  const auto written = detail::write_through_temporary(
      target,
      [&](const BytePieceWriter& write) {
        write(head);
        write(tail);
      },
      {}, names_from({".planted", ".dangling", ".free"}));
  ASSERT_TRUE(written.has_value()) << written.error();
  EXPECT_EQ(contents(target), "new");
  EXPECT_EQ(contents(folder_ / "victim"), "not ours");
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(folder_ / ".planted")));
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(folder_ / ".dangling")));
  EXPECT_EQ(names(), (std::vector<std::string>{".dangling", ".planted", "table.mb", "victim"}));
}

TEST_F(FilesTest, NamesThatAreAllTakenFailWithoutHarm) {
  const fs::path target = folder_ / "table.mb";
  make_file(target, "earlier", EVERYONE_READS);
  make_file(folder_ / ".taken", "someone else's", EVERYONE_READS);
  const auto written = detail::write_through_temporary(
      target, [](const BytePieceWriter&) {}, {}, names_from({".taken"}));
  ASSERT_FALSE(written.has_value());
  EXPECT_EQ(written.error(), detail::errno_text(EEXIST));
  EXPECT_EQ(contents(target), "earlier");
  EXPECT_EQ(contents(folder_ / ".taken"), "someone else's");
  EXPECT_EQ(names(), (std::vector<std::string>{".taken", "table.mb"}));
}

TEST_F(FilesTest, ANewOutputTakesTheSourcesPermissions) {
  const fs::path source = folder_ / "private.dict.yaml";
  make_file(source, "table", OWNER_ONLY);
  ASSERT_TRUE(write_file_atomically(folder_ / "private.mb", Bytes{1}, source).has_value());
  EXPECT_EQ(permissions_of(folder_ / "private.mb"), OWNER_ONLY);

  // Without a source, or with one that is gone, the usual bits under the umask.
  ASSERT_TRUE(write_file_atomically(folder_ / "plain.mb", Bytes{1}).has_value());
  EXPECT_EQ(permissions_of(folder_ / "plain.mb"), EVERYONE_READS);
  ASSERT_TRUE(write_file_atomically(folder_ / "orphan.mb", Bytes{1}, folder_ / "gone").has_value());
  EXPECT_EQ(permissions_of(folder_ / "orphan.mb"), EVERYONE_READS);
}

TEST_F(FilesTest, AReplacedOutputKeepsItsPermissions) {
  const fs::path source = folder_ / "open.dict.yaml";
  make_file(source, "table", EVERYONE_READS);
  const fs::path target = folder_ / "open.mb";
  make_file(target, "earlier", OWNER_ONLY);
  ASSERT_TRUE(write_file_atomically(target, Bytes{1}, source).has_value());
  EXPECT_EQ(permissions_of(target), OWNER_ONLY);
  EXPECT_EQ(contents(target), std::string(1, '\1'));

  // Kept exactly, even bits the umask would have removed from a new file.
  const fs::perms shared = EVERYONE_READS | fs::perms::group_write;
  fs::permissions(target, shared);
  ASSERT_TRUE(write_file_atomically(target, Bytes{2}).has_value());
  EXPECT_EQ(permissions_of(target), shared);
}

TEST_F(FilesTest, OnlyRegularFilesAreRead) {
  EXPECT_FALSE(read_file(folder_).has_value());
  EXPECT_FALSE(read_file(folder_ / "missing").has_value());
}

}  // namespace
}  // namespace qovira
