// Batch and usage output of the windowed program: the parent's console, a file or a pipe.
#pragma once

#include <windows.h>

#include <streambuf>
#include <string>

namespace qovira::win32 {

// Keeps a redirected standard output; otherwise attaches to the console of the starting process
// and makes it standard output and error. Failures are silent: the output is then lost.
void attach_parent_console();

// Writes UTF-8 text to a standard handle: as UTF-16 through the console API when the handle is a
// console (which shows UTF-8 bytes in its code page otherwise), as the UTF-8 bytes themselves when
// it is a file or a pipe. Without a usable handle the text is dropped.
class StdHandleBuf final : public std::streambuf {
 public:
  explicit StdHandleBuf(DWORD which) : which_(which) {}
  ~StdHandleBuf() override;
  StdHandleBuf(const StdHandleBuf&) = delete;
  StdHandleBuf& operator=(const StdHandleBuf&) = delete;

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  // Writes everything pending, or all but a UTF-8 sequence cut at the end when `complete_only`.
  void write_pending(bool complete_only);

  DWORD which_;
  std::string pending_;
};

}  // namespace qovira::win32
