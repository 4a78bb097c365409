// When two entry lines repeat each other: the importer merges them, the same text under the same
// code as it keys that code. The line scan and the repair find repeats by this key and this hash,
// and the import merges by the same key.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "qovira/table/table_text.h"

namespace qovira {

struct RepeatKey {
  std::string_view text;
  std::string_view code;
};

// The code an entry is merged under, from its code without a pin mark: the Rime importer joins
// white space out of a code, a 冰凌 code is taken as written. A joined code is built in `storage`.
std::string_view repeat_code(std::string_view code, TableFormat format, std::string& storage);

// 64 bits, spread so that the high bits vary too: tables take their buckets from them.
std::uint64_t repeat_hash(RepeatKey key);

}  // namespace qovira
