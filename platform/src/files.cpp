#include "qovira/platform/files.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fstream>
#include <system_error>

#include "files_detail.h"

namespace qovira {
namespace {

constexpr std::string_view NOT_A_REGULAR_FILE = "不是普通文件（可能是目录或设备）";
constexpr std::string_view READ_INCOMPLETE = "读取中断，文件没有读完";
// Files are read in pieces of this size, to tell how far the reading got.
constexpr std::size_t READ_PIECE_BYTES = std::size_t{4} << 20;

// Random bytes in a temporary file's name: 64 bits, so the name cannot be guessed in advance. The
// name stays short: one derived from the target's name could pass the file-name length limit while
// the target itself stays within it.
constexpr std::size_t NAME_RANDOM_BYTES = 8;

std::expected<std::string, std::string> random_temporary_name() {
  static constexpr char HEX_DIGITS[] = "0123456789abcdef";
  std::array<std::uint8_t, NAME_RANDOM_BYTES> random{};
  if (auto filled = detail::fill_random(random); !filled) {
    return std::unexpected(filled.error());
  }
  std::string name(detail::TEMPORARY_PREFIX);
  for (const std::uint8_t byte : random) {
    name.push_back(HEX_DIGITS[byte >> 4]);
    name.push_back(HEX_DIGITS[byte & 0xF]);
  }
  return name;
}

}  // namespace

namespace detail {

std::string errno_text(int number) {
  return std::generic_category().message(number);
}

}  // namespace detail

std::filesystem::path path_from_utf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string path_to_utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::expected<Bytes, std::string> read_file(const std::filesystem::path& path, Progress* progress) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error) {
    return std::unexpected(error.message());
  }
  // FIFOs and devices could block or never end; only regular files are tables.
  if (!std::filesystem::is_regular_file(status)) {
    return std::unexpected(std::string(NOT_A_REGULAR_FILE));
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::unexpected(errno != 0 ? detail::errno_text(errno) : std::string(READ_INCOMPLETE));
  }
  const auto size = std::filesystem::file_size(path, error);
  if (error) {
    return std::unexpected(error.message());
  }
  Bytes bytes(static_cast<std::size_t>(size));
  for (std::size_t done = 0; done < bytes.size();) {
    if (cancelled(progress)) {
      return std::unexpected(std::string(READ_INCOMPLETE));
    }
    const std::size_t piece = std::min(READ_PIECE_BYTES, bytes.size() - done);
    in.read(reinterpret_cast<char*>(bytes.data() + done), static_cast<std::streamsize>(piece));
    if (static_cast<std::size_t>(in.gcount()) != piece) {
      return std::unexpected(std::string(READ_INCOMPLETE));
    }
    done += piece;
    if (progress != nullptr) {
      progress->report(done, bytes.size());
    }
  }
  return bytes;
}

std::expected<void, std::string> write_file_atomically(
    const std::filesystem::path& path, ByteView bytes,
    const std::filesystem::path& permissions_like) {
  return write_file_atomically(
      path, [bytes](const BytePieceWriter& write) { write(bytes); }, permissions_like);
}

std::expected<void, std::string> write_file_atomically(
    const std::filesystem::path& path, const BytePieces& pieces,
    const std::filesystem::path& permissions_like) {
  return detail::write_through_temporary(path, pieces, permissions_like, random_temporary_name);
}

bool same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code error;
  const bool same = std::filesystem::equivalent(a, b, error);
  return !error && same;
}

}  // namespace qovira
