// The text of a table file: UTF-16 behind its byte-order mark, or UTF-8, checked whole.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "qovira/table/bytes.h"
#include "qovira/table/model.h"

namespace qovira {

// UTF-16 with a byte-order mark (either order) or UTF-8 (a UTF-8 mark is kept as U+FEFF).
std::expected<std::string, TableError> decode_text(ByteView bytes);

// decode_text without the copy: UTF-8 bytes are only checked and the result views them; UTF-16 is
// converted into `storage`, which the result then views.
std::expected<std::string_view, TableError> decode_text_in_place(ByteView bytes,
                                                                 std::string& storage);

}  // namespace qovira
