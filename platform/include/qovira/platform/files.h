// The only file access of the tool's operations: whole files in, whole files out.
#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "qovira/table/bytes.h"
#include "qovira/table/progress.h"

namespace qovira {

std::filesystem::path path_from_utf8(std::string_view utf8);
std::string path_to_utf8(const std::filesystem::path& path);

// Reads a whole regular file; the error is the system's text. Reports the bytes read to
// `progress` and stops early, incomplete, once it is cancelled.
std::expected<Bytes, std::string> read_file(const std::filesystem::path& path,
                                            Progress* progress = nullptr);

// Writes to a new temporary file beside `path`, flushes it to disk, then renames it over `path`:
// an earlier file of that name stays intact when anything fails, and no temporary file is left
// behind. A replaced file keeps its permission bits; a new one takes those of `permissions_like`
// when that names a file (the source of an output, so a private table gives private outputs).
std::expected<void, std::string> write_file_atomically(
    const std::filesystem::path& path, ByteView bytes,
    const std::filesystem::path& permissions_like = {});

// Takes the bytes of a file piece by piece: false once they cannot be written, and then the rest
// need not be made.
using BytePieceWriter = std::function<bool(ByteView)>;
// Makes a file's bytes and hands them to the writer in pieces, so that an output of gigabytes is
// never held whole.
using BytePieces = std::function<void(const BytePieceWriter&)>;

// write_file_atomically of the bytes `pieces` makes.
std::expected<void, std::string> write_file_atomically(
    const std::filesystem::path& path, const BytePieces& pieces,
    const std::filesystem::path& permissions_like = {});

// True when both paths exist and name the same file (through links or second names too).
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

// Makes an interruption (SIGINT, SIGTERM, SIGHUP; on Windows Ctrl+C, Ctrl+Break or closing the
// console) remove the temporary file being written before the process ends as it otherwise would.
// Called once at start-up; a signal the process was started to ignore stays ignored.
void remove_temporary_file_on_interruption();

}  // namespace qovira
