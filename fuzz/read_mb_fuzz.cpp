// read_mb on hostile .mb files. The first input byte picks how the file is made, so that the
// fuzzer reaches the records without having to write the 112,162-byte header and index itself:
//   0: the rest of the input is the whole file;
//   1: the default container with the next byte as alphabet length, then the rest as records;
//   2: the default container with header bytes from offset 18 on taken from the input (up to the
//      end of the header), then the rest as records.
// The file always sits in a buffer of exactly its size, so any read past the end is caught.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "qovira/table/mb.h"
#include "qovira/table/utf16.h"
#include "qovira/table/utf8.h"

using namespace qovira;

namespace {

Bytes make_file(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t mode = data[0] % 3;
  ++data;
  --size;
  if (mode == 0) {
    return Bytes(data, data + size);
  }
  Bytes file(DEFAULT_MB_CONTAINER.begin(), DEFAULT_MB_CONTAINER.end());
  std::size_t used = 0;
  if (mode == 1) {
    if (size > 0) {
      file[MB_ALPHABET_LENGTH_OFFSET] = data[0];
      used = 1;
    }
  } else {
    used = std::min(size, MB_HEADER_SIZE - MB_VERSION_OFFSET);
    std::copy_n(data, used, file.begin() + MB_VERSION_OFFSET);
  }
  file.insert(file.end(), data + used, data + size);
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const Bytes file = make_file(data, size);
  auto table = read_mb(file);
  if (!table) {
    const MbReadError& error = table.error();
    if (error.kind == MbReadErrorKind::LostSync) {
      fuzz::check(error.offset >= MB_RECORDS_OFFSET && error.offset + 4 < file.size(),
                  "LostSync points at a record with more than four bytes left");
    }
    fuzz::check(!error.message().empty(), "every read error has a message");
    return 0;
  }
  std::size_t record_bytes = 0;
  for (const TableEntry& entry : table->entries) {
    fuzz::check(!entry.code.empty() && !entry.text.empty(), "records have a code and a text");
    fuzz::check(fuzz::is_valid_utf8(entry.text) && fuzz::is_valid_utf8(entry.code),
                "entry texts are valid UTF-8");
    // A code byte is one character (U+0000 to U+00FF), a text unit two bytes.
    record_bytes += 3 + count_chars(entry.code) + 2 * utf16_length(entry.text);
  }
  fuzz::check(fuzz::is_valid_utf8(table->description) && fuzz::is_valid_utf8(table->alphabet),
              "header texts are valid UTF-8");
  fuzz::check(MB_RECORDS_OFFSET + record_bytes <= file.size() &&
                  file.size() - (MB_RECORDS_OFFSET + record_bytes) <= 4,
              "records cover the file but for at most four trailing bytes");
  fuzz::check_readback(*table);
  return 0;
}
