// Recognising a table file by its content.
#pragma once

#include <string_view>

#include "qovira/table/model.h"
#include "qovira/table/table_text.h"

namespace qovira {

// "Rime 词典（.dict.yaml）", "冰凌文本码表", "极点 .mb 二进制", "认不出来的格式".
std::string_view format_display_name(TableFormat format);

// `text` is the decoded content; callers pass an empty text for bytes with the .mb magic.
TableFormat detect_format(ByteView bytes, std::string_view text);

}  // namespace qovira
