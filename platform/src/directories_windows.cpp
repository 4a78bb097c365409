#include <windows.h>

#include <string>

#include "qovira/platform/directories.h"
#include "qovira/platform/wide_text.h"

namespace qovira {
namespace {

std::unexpected<DirectoryProblem> problem(DirectoryFault fault, DWORD error) {
  return std::unexpected(DirectoryProblem{fault, win32::system_error_text(error)});
}

}  // namespace

std::expected<void, DirectoryProblem> check_writable_directory(
    const std::filesystem::path& directory) {
  const std::filesystem::path folder = directory.empty() ? std::filesystem::path(L".") : directory;
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return problem(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                       ? DirectoryFault::Missing
                       : DirectoryFault::NotWritable,
                   error);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return problem(DirectoryFault::NotWritable, ERROR_DIRECTORY);
  }
  // The read-only attribute means nothing on a folder: only making a file tells. The file is
  // deleted when its handle closes; a file of that name already there shows the folder is usable.
  const std::filesystem::path probe =
      folder / (L".qovira.probe-" + std::to_wstring(GetCurrentProcessId()));
  const HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS) {
      return {};
    }
    return problem(DirectoryFault::NotWritable, error);
  }
  CloseHandle(file);
  return {};
}

}  // namespace qovira
