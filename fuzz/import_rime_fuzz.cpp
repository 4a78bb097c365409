// import_rime on any decodable text: a finished table that builds and reads back unchanged, and a
// skip log within its bounds.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "qovira/table/decoding.h"
#include "qovira/table/import.h"
#include "qovira/table/utf8.h"

using namespace qovira;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto text = decode_text(ByteView(data, size));
  if (!text) {
    return 0;
  }
  auto imported = import_rime(*text);
  if (!imported) {
    fuzz::check(!imported.error().message().empty(), "every import error has a message");
    return 0;
  }
  const SkipLog& skipped = imported->skipped;
  fuzz::check(
      skipped.samples.size() <= SkipLog::MAX_SAMPLES && skipped.samples.size() <= skipped.total,
      "the skip log keeps at most three samples of its total");
  for (const SkippedSample& sample : skipped.samples) {
    fuzz::check(!sample.code_shown.empty() && count_chars(sample.code_shown) <= 48,
                "a skipped code is shown in 1 to 48 characters", sample.code_shown);
  }
  fuzz::check_finished_table(imported->code_table);
  fuzz::check_readback(imported->code_table);
  return 0;
}
