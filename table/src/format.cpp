// Recognising a table file by its content: the .mb magic, the 冰凌 section markers, the Rime
// header.
#include "qovira/table/format.h"

#include "qovira/table/lines.h"
#include "qovira/table/mb.h"
#include "qovira/table/white_space.h"

namespace qovira {

namespace {

constexpr std::string_view RIME_NAME = "Rime 词典（.dict.yaml）";
constexpr std::string_view BINGLING_NAME = "冰凌文本码表";
constexpr std::string_view MB_NAME = "极点 .mb 二进制";
constexpr std::string_view UNKNOWN_NAME = "认不出来的格式";

}  // namespace

std::string_view format_display_name(TableFormat format) {
  switch (format) {
    case TableFormat::Rime:
      return RIME_NAME;
    case TableFormat::Bingling:
      return BINGLING_NAME;
    case TableFormat::Mb:
      return MB_NAME;
    case TableFormat::Unknown:
      break;
  }
  return UNKNOWN_NAME;
}

TableFormat detect_format(ByteView bytes, std::string_view text) {
  // The raw bytes decide first: a .mb is never decoded as text.
  if (has_mb_magic(bytes)) {
    return TableFormat::Mb;
  }
  if (text.find(BINGLING_HEADER_SECTION) != std::string_view::npos ||
      text.find(BINGLING_BODY_SECTION) != std::string_view::npos) {
    return TableFormat::Bingling;
  }
  LineCursor cursor(text);
  std::string_view line;
  while (cursor.next(line)) {
    if (trim(line) == RIME_HEADER_START) {
      return TableFormat::Rime;
    }
  }
  return TableFormat::Unknown;
}

}  // namespace qovira
