// Whether files can be made in a folder, asked before a run writes into a folder the user named.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>

namespace qovira {

enum class DirectoryFault : std::uint8_t {
  Missing,      // nothing of that name (or a part of the path is missing)
  NotWritable,  // no directory, or the system refuses to make a file there
};

struct DirectoryProblem {
  DirectoryFault fault = DirectoryFault::Missing;
  std::string error;  // the system's text
};

// Makes (and at once discards) a file in `directory` to find out; the empty path is the current
// directory. Nothing is left behind.
std::expected<void, DirectoryProblem> check_writable_directory(
    const std::filesystem::path& directory);

}  // namespace qovira
