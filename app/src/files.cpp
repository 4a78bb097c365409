#include "qovira/app/files.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <system_error>

namespace qovira {
namespace {

constexpr std::string_view NOT_A_REGULAR_FILE = "不是普通文件（可能是目录或设备）";
constexpr std::string_view READ_INCOMPLETE = "读取中断，文件没有读完";
constexpr std::string_view WRITE_INCOMPLETE = "写入中断（磁盘可能已满）";
// The temporary file gets a short name of its own: one derived from the target's name could pass
// the file-name length limit while the target itself stays within it.
constexpr std::string_view TEMPORARY_PREFIX = ".qovira.tmp-";

std::string error_text(const std::error_code& error) {
  return error.message();
}

std::string errno_text(int number) {
  return std::generic_category().message(number);
}

}  // namespace

std::filesystem::path path_from_utf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string path_to_utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::expected<Bytes, std::string> read_file(const std::filesystem::path& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error) {
    return std::unexpected(error_text(error));
  }
  // FIFOs and devices could block or never end; only regular files are tables.
  if (!std::filesystem::is_regular_file(status)) {
    return std::unexpected(std::string(NOT_A_REGULAR_FILE));
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::unexpected(errno != 0 ? errno_text(errno) : std::string(READ_INCOMPLETE));
  }
  const auto size = std::filesystem::file_size(path, error);
  if (error) {
    return std::unexpected(error_text(error));
  }
  Bytes bytes(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (static_cast<std::uintmax_t>(in.gcount()) != size) {
    return std::unexpected(std::string(READ_INCOMPLETE));
  }
  return bytes;
}

std::expected<void, std::string> write_file_atomically(const std::filesystem::path& path,
                                                       ByteView bytes) {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const std::filesystem::path temporary =
      path.parent_path() /
      (std::string(TEMPORARY_PREFIX) + std::to_string(stamp) + "-" + std::to_string(counter++));

  auto discard = [&] {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
  };
  {
    errno = 0;
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      return std::unexpected(errno != 0 ? errno_text(errno) : std::string(WRITE_INCOMPLETE));
    }
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      const int number = errno;
      out.close();
      discard();
      return std::unexpected(number != 0 ? errno_text(number) : std::string(WRITE_INCOMPLETE));
    }
    out.close();
    if (!out) {
      discard();
      return std::unexpected(std::string(WRITE_INCOMPLETE));
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    discard();
    return std::unexpected(error_text(error));
  }
  return {};
}

bool same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code error;
  const bool same = std::filesystem::equivalent(a, b, error);
  return !error && same;
}

}  // namespace qovira
