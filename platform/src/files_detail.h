// Inside the files module: what the shared code and the two systems' code share, and the seam the
// tests use to choose the temporary file's name.
#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <span>
#include <string>

#include "qovira/platform/files.h"
#include "qovira/table/bytes.h"

namespace qovira::detail {

// The temporary files' names start with this, so a person can tell what left one behind.
inline constexpr std::string_view TEMPORARY_PREFIX = ".qovira.tmp-";
// Names already taken are skipped; this many in a row means something else is wrong.
inline constexpr int TEMPORARY_NAME_ATTEMPTS = 100;

// Gives a name for the temporary file; asked again when a file of that name already exists.
using TemporaryNames = std::function<std::expected<std::string, std::string>()>;

// write_file_atomically with the temporary file's names taken from `next_name`.
std::expected<void, std::string> write_through_temporary(
    const std::filesystem::path& path, const BytePieces& pieces,
    const std::filesystem::path& permissions_like, const TemporaryNames& next_name);

// Hands each piece `pieces` makes to `write_all(piece)` until one fails: 0, or that failure's code.
template <typename Code, typename WriteAll>
Code write_pieces(const BytePieces& pieces, WriteAll&& write_all) {
  Code error = 0;
  pieces([&](ByteView piece) {
    if (error == 0) {
      error = write_all(piece);
    }
    return error == 0;
  });
  return error;
}

// Fills `out` with random bytes from the system.
std::expected<void, std::string> fill_random(std::span<std::uint8_t> out);

// The C library's text for an errno value.
std::string errno_text(int number);

}  // namespace qovira::detail
