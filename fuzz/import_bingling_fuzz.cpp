// import_bingling on any decodable text: a finished table that builds and reads back unchanged,
// and header fields within their documented ranges.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "qovira/table/decoding.h"
#include "qovira/table/import.h"

using namespace qovira;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto text = decode_text(ByteView(data, size));
  if (!text) {
    return 0;
  }
  auto imported = import_bingling(*text);
  if (!imported) {
    fuzz::check(!imported.error().message().empty(), "every import error has a message");
    return 0;
  }
  if (imported->code_length) {
    fuzz::check(*imported->code_length >= 1 && *imported->code_length <= 16,
                "a code length lies between 1 and 16");
  }
  fuzz::check(!imported->wildcard || !imported->wildcard->empty(), "a wildcard is never empty");
  fuzz::check(imported->skipped.total == 0, "the 冰凌 importer keeps no skip log");
  fuzz::check_finished_table(imported->code_table);
  fuzz::check_readback(imported->code_table);
  return 0;
}
