#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "files_detail.h"
#include "qovira/platform/directories.h"

namespace qovira {
namespace {

std::unexpected<DirectoryProblem> problem(DirectoryFault fault, int number) {
  return std::unexpected(DirectoryProblem{fault, detail::errno_text(number)});
}

}  // namespace

std::expected<void, DirectoryProblem> check_writable_directory(
    const std::filesystem::path& directory) {
  const char* native = directory.empty() ? "." : directory.c_str();
  struct stat status {};
  if (::stat(native, &status) != 0) {
    const int number = errno;
    return problem(number == ENOENT || number == ENOTDIR ? DirectoryFault::Missing
                                                         : DirectoryFault::NotWritable,
                   number);
  }
  if (!S_ISDIR(status.st_mode)) {
    return problem(DirectoryFault::NotWritable, ENOTDIR);
  }
#ifdef O_TMPFILE
  // An unnamed file: the system's own answer (permissions, ACLs, a read-only mount), and nothing
  // to clean up. File systems without unnamed files are asked through access() instead.
  const int file = ::open(native, O_TMPFILE | O_WRONLY | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (file >= 0) {
    ::close(file);
    return {};
  }
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    return problem(DirectoryFault::NotWritable, errno);
  }
#endif
  if (::access(native, W_OK | X_OK) != 0) {
    return problem(DirectoryFault::NotWritable, errno);
  }
  return {};
}

}  // namespace qovira
