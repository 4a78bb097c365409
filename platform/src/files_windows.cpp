// Writing files on Windows: exclusive creation, flushed before the rename, and removal of the
// file in progress when the console is interrupted or closed.
#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <atomic>
#include <cwchar>

#include "files_detail.h"
#include "qovira/platform/files.h"
#include "qovira/platform/wide_text.h"

namespace qovira {
namespace {

// The temporary file being written (one at a time), for the console handler, which runs on a
// thread of its own: its path is valid while `in_progress` is true. 32,767 characters is the
// longest path the system takes.
wchar_t in_progress_path[32768];
std::atomic<bool> in_progress{false};

bool mark_in_progress(const std::filesystem::path& temporary) {
  const std::wstring& native = temporary.native();
  if (native.size() >= std::size(in_progress_path)) {
    return false;
  }
  in_progress = false;
  std::wmemcpy(in_progress_path, native.c_str(), native.size() + 1);
  in_progress = true;
  return true;
}

void clear_in_progress() {
  in_progress = false;
}

BOOL WINAPI remove_in_progress(DWORD) {
  if (in_progress) {
    // The writer's handle allows deletion: the file goes when the process ends and closes it.
    DeleteFileW(in_progress_path);
  }
  // Not handled: the default handler ends the process as it would have.
  return FALSE;
}

std::expected<void, std::string> system_failure(DWORD error) {
  return std::unexpected(win32::system_error_text(error));
}

// 0, or the error code of the failed write.
DWORD write_all(HANDLE file, ByteView bytes) {
  constexpr std::size_t CHUNK = 1 << 30;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD size = static_cast<DWORD>(std::min(CHUNK, bytes.size() - done));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, size, &written, nullptr)) {
      return GetLastError();
    }
    done += written;
  }
  return 0;
}

}  // namespace

namespace detail {

std::expected<void, std::string> fill_random(std::span<std::uint8_t> out) {
  const NTSTATUS status = BCryptGenRandom(nullptr, out.data(), static_cast<ULONG>(out.size()),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (!BCRYPT_SUCCESS(status)) {
    return system_failure(ERROR_GEN_FAILURE);
  }
  return {};
}

std::expected<void, std::string> write_through_temporary(
    const std::filesystem::path& path, const BytePieces& pieces,
    [[maybe_unused]] const std::filesystem::path& permissions_like,
    const TemporaryNames& next_name) {
  std::filesystem::path temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 1; file == INVALID_HANDLE_VALUE; ++attempt) {
    auto name = next_name();
    if (!name) {
      return std::unexpected(name.error());
    }
    temporary = path.parent_path() / *name;
    // Marked before creation: an interruption as the file comes into being must still find it.
    if (!mark_in_progress(temporary)) {
      return system_failure(ERROR_FILENAME_EXCED_RANGE);
    }
    // Never over an existing file or link planted at the name. Sharing deletion lets the console
    // handler remove the file while it is open here.
    file = CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      clear_in_progress();
      if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) ||
          attempt == TEMPORARY_NAME_ATTEMPTS) {
        return system_failure(error);
      }
    }
  }

  auto fail = [&](DWORD error) {
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
    }
    DeleteFileW(temporary.c_str());
    clear_in_progress();
    return system_failure(error);
  };
  const DWORD write_error =
      write_pieces<DWORD>(pieces, [file](ByteView piece) { return write_all(file, piece); });
  if (write_error != 0) {
    return fail(write_error);
  }
  // On disk before the rename makes it the output.
  if (!FlushFileBuffers(file)) {
    return fail(GetLastError());
  }
  const BOOL closed = CloseHandle(file);
  file = INVALID_HANDLE_VALUE;
  if (!closed) {
    return fail(GetLastError());
  }
  if (!MoveFileExW(temporary.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return fail(GetLastError());
  }
  clear_in_progress();
  return {};
}

}  // namespace detail

void remove_temporary_file_on_interruption() {
  SetConsoleCtrlHandler(remove_in_progress, TRUE);
}

}  // namespace qovira
