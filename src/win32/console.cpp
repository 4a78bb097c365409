#include "console.h"

#include <algorithm>
#include <string_view>

#include "qovira/platform/wide_text.h"

namespace qovira::win32 {
namespace {

constexpr std::size_t FLUSH_THRESHOLD = 1 << 16;
// Console writes of one call stay well below the sizes older consoles choke on.
constexpr std::size_t CONSOLE_CHUNK_UNITS = 1 << 14;

bool usable(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// Length of `text` without a UTF-8 sequence that is cut off at its end.
std::size_t complete_length(std::string_view text) {
  const std::size_t size = text.size();
  for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
    const auto byte = static_cast<unsigned char>(text[size - back]);
    if ((byte & 0xC0) == 0x80) {
      continue;
    }
    const std::size_t needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    return needed > back ? size - back : size;
  }
  return size;
}

void write_console(HANDLE handle, std::string_view text) {
  const std::wstring wide = widen(text);
  std::size_t start = 0;
  while (start < wide.size()) {
    std::size_t count = std::min(CONSOLE_CHUNK_UNITS, wide.size() - start);
    // Never split a surrogate pair between two calls.
    if (start + count < wide.size() && IS_HIGH_SURROGATE(wide[start + count - 1])) {
      --count;
    }
    DWORD written = 0;
    if (!WriteConsoleW(handle, wide.data() + start, static_cast<DWORD>(count), &written, nullptr) ||
        written == 0) {
      return;
    }
    start += written;
  }
}

void write_bytes(HANDLE handle, std::string_view text) {
  while (!text.empty()) {
    DWORD written = 0;
    const auto count = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1U << 30));
    if (!WriteFile(handle, text.data(), count, &written, nullptr) || written == 0) {
      return;
    }
    text.remove_prefix(written);
  }
}

}  // namespace

void attach_parent_console() {
  if (usable(GetStdHandle(STD_OUTPUT_HANDLE))) {
    return;
  }
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) {
    return;
  }
  // Read access too: without it GetConsoleMode fails and the text could not go out as UTF-16.
  const HANDLE console =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) {
    return;
  }
  SetStdHandle(STD_OUTPUT_HANDLE, console);
  SetStdHandle(STD_ERROR_HANDLE, console);
}

StdHandleBuf::~StdHandleBuf() {
  write_pending(false);
}

StdHandleBuf::int_type StdHandleBuf::overflow(int_type c) {
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    pending_ += traits_type::to_char_type(c);
    if (pending_.size() >= FLUSH_THRESHOLD) {
      write_pending(true);
    }
  }
  return traits_type::not_eof(c);
}

std::streamsize StdHandleBuf::xsputn(const char* text, std::streamsize count) {
  pending_.append(text, static_cast<std::size_t>(count));
  if (pending_.size() >= FLUSH_THRESHOLD) {
    write_pending(true);
  }
  return count;
}

int StdHandleBuf::sync() {
  write_pending(true);
  return 0;
}

void StdHandleBuf::write_pending(bool complete_only) {
  const std::size_t length = complete_only ? complete_length(pending_) : pending_.size();
  if (length == 0) {
    return;
  }
  const std::string_view text(pending_.data(), length);
  const HANDLE handle = GetStdHandle(which_);
  if (usable(handle)) {
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
      write_console(handle, text);
    } else {
      write_bytes(handle, text);
    }
  }
  pending_.erase(0, length);
}

}  // namespace qovira::win32
