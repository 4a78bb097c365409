#include "qovira/platform/directories.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "files_detail.h"

namespace qovira {
namespace {

namespace fs = std::filesystem;

TEST(CheckWritableDirectory, TellsMissingFromUnwritableAndLeavesNothing) {
  const fs::path folder =
      fs::temp_directory_path() / ("qovira-directories-test-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder / "locked");
  std::ofstream(folder / "file") << "x";
  fs::permissions(folder / "locked", fs::perms::owner_read | fs::perms::owner_exec);

  EXPECT_TRUE(check_writable_directory(folder));
  EXPECT_TRUE(check_writable_directory(""));
  struct Case {
    fs::path path;
    DirectoryFault fault;
    int error;
  };
  std::vector<Case> cases = {{folder / "none", DirectoryFault::Missing, ENOENT},
                             {folder / "none" / "deeper", DirectoryFault::Missing, ENOENT},
                             {folder / "file" / "sub", DirectoryFault::Missing, ENOTDIR},
                             {folder / "file", DirectoryFault::NotWritable, ENOTDIR}};
  // Permission bits do not hold back the superuser.
  if (::geteuid() != 0) {
    cases.push_back({folder / "locked", DirectoryFault::NotWritable, EACCES});
  }
  for (const Case& c : cases) {
    const auto checked = check_writable_directory(c.path);
    ASSERT_FALSE(checked) << c.path;
    EXPECT_EQ(checked.error().fault, c.fault) << c.path;
    EXPECT_EQ(checked.error().error, detail::errno_text(c.error)) << c.path;
  }

  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
  fs::permissions(folder / "locked", fs::perms::owner_all);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace qovira
