// Writing files on POSIX systems: exclusive creation, fsync before the rename and of the directory
// after it, and removal of the file in progress when a signal ends the process.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include "files_detail.h"
#include "qovira/platform/files.h"

namespace qovira {
namespace {

// The temporary file being written (one at a time), for the signal handler: its path is valid
// while `in_progress` is true. Only a lock-free atomic may be read from a signal handler.
char in_progress_path[PATH_MAX];
std::atomic<bool> in_progress{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// False when the path cannot be kept, which also means the system would refuse it as too long.
bool mark_in_progress(const std::filesystem::path& temporary) {
  const std::string& native = temporary.native();
  if (native.size() >= sizeof in_progress_path) {
    return false;
  }
  in_progress = false;
  std::memcpy(in_progress_path, native.c_str(), native.size() + 1);
  in_progress = true;
  return true;
}

void clear_in_progress() {
  in_progress = false;
}

void remove_in_progress_and_end(int signal_number) {
  if (in_progress) {
    ::unlink(in_progress_path);
  }
  // End the way the signal would have ended us, so the parent sees the conventional status.
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

// The permission bits a new output is created with, and whether they are applied after creation
// (an existing file's bits are kept as they are; creation would filter them through the umask).
struct Permissions {
  mode_t create = 0666;
  bool keep_existing = false;
  mode_t existing = 0;
};

Permissions permissions_for(const std::filesystem::path& path,
                            const std::filesystem::path& permissions_like) {
  constexpr mode_t PERMISSION_BITS = S_IRWXU | S_IRWXG | S_IRWXO;
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
    // Private until the bits are set: never readable by more people than the final file.
    return {.create = S_IRUSR | S_IWUSR,
            .keep_existing = true,
            .existing = status.st_mode & PERMISSION_BITS};
  }
  if (!permissions_like.empty() && ::stat(permissions_like.c_str(), &status) == 0) {
    return {.create = status.st_mode & PERMISSION_BITS};
  }
  return {};
}

std::expected<void, std::string> system_failure(int number) {
  return std::unexpected(detail::errno_text(number));
}

// 0, or the errno value of the failed write.
int write_all(int file, ByteView bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(file, bytes.data() + done, bytes.size() - done);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    done += static_cast<std::size_t>(written);
  }
  return 0;
}

// Makes the rename itself durable. The output is in place already, so a failure here (a directory
// that can be written but not read, a file system without directory sync) is not reported.
void sync_directory(const std::filesystem::path& directory) {
  const int handle =
      ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (handle >= 0) {
    ::fsync(handle);
    ::close(handle);
  }
}

}  // namespace

namespace detail {

std::expected<void, std::string> fill_random(std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t got = ::getrandom(out.data() + done, out.size() - done, 0);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return system_failure(errno);
    }
    done += static_cast<std::size_t>(got);
  }
  return {};
}

std::expected<void, std::string> write_through_temporary(
    const std::filesystem::path& path, const BytePieces& pieces,
    const std::filesystem::path& permissions_like, const TemporaryNames& next_name) {
  const std::filesystem::path directory = path.parent_path();
  const Permissions permissions = permissions_for(path, permissions_like);

  std::filesystem::path temporary;
  int file = -1;
  for (int attempt = 1; file < 0; ++attempt) {
    auto name = next_name();
    if (!name) {
      return std::unexpected(name.error());
    }
    temporary = directory / *name;
    // Marked before creation: a signal arriving as the file comes into being must still find it.
    if (!mark_in_progress(temporary)) {
      return system_failure(ENAMETOOLONG);
    }
    // Never through a link or over an existing file planted at the name.
    file = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  permissions.create);
    if (file < 0) {
      const int number = errno;
      clear_in_progress();
      if ((number != EEXIST && number != EINTR) || attempt == TEMPORARY_NAME_ATTEMPTS) {
        return system_failure(number);
      }
    }
  }

  auto fail = [&](int number) {
    if (file >= 0) {
      ::close(file);
    }
    ::unlink(temporary.c_str());
    clear_in_progress();
    return system_failure(number);
  };
  const int write_error =
      write_pieces<int>(pieces, [file](ByteView piece) { return write_all(file, piece); });
  if (write_error != 0) {
    return fail(write_error);
  }
  if (permissions.keep_existing) {
    // Where the file system has no permission bits the file stays private, which is safe.
    ::fchmod(file, permissions.existing);
  }
  // The data must be on disk before the rename makes it the output, or a crash could leave an
  // empty file where the earlier one was. EINVAL: a file system that cannot sync at all.
  if (::fsync(file) != 0 && errno != EINVAL) {
    return fail(errno);
  }
  const int closed = ::close(file);
  file = -1;
  if (closed != 0) {
    return fail(errno);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    return fail(errno);
  }
  clear_in_progress();
  sync_directory(directory);
  return {};
}

}  // namespace detail

void remove_temporary_file_on_interruption() {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction previous {};
    if (::sigaction(signal_number, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = remove_in_progress_and_end;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal_number, &action, nullptr);
  }
}

}  // namespace qovira
