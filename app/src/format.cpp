// Recognising a table file by its content: the .mb magic, the 冰凌 section markers, the Rime
// header.
#include "qovira/app/format.h"

#include "qovira/table/import.h"
#include "qovira/table/mb.h"
#include "qovira/table/text.h"

namespace qovira {

namespace {

constexpr std::string_view RIME_NAME = "Rime 词典（.dict.yaml）";
constexpr std::string_view BINGLING_NAME = "冰凌文本码表";
constexpr std::string_view MB_NAME = "极点 .mb 二进制";
constexpr std::string_view UNKNOWN_NAME = "认不出来的格式";

constexpr std::string_view BINGLING_HEADER_MARKER = "[CODETABLEHEADER]";
constexpr std::string_view BINGLING_BODY_MARKER = "[CODETABLE]";
constexpr std::string_view RIME_HEADER_START = "---";
constexpr std::string_view RIME_HEADER_END = "...";

// Cuts lines exactly as split_lines does, one at a time, so that a walk can stop early.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : rest_(text) {}

  bool next(std::string_view& line) {
    if (rest_.empty()) {
      return false;
    }
    std::size_t end = rest_.find('\n');
    if (end == std::string_view::npos) {
      line = rest_;
      rest_ = {};
      return true;
    }
    std::size_t stop = end;
    if (stop > 0 && rest_[stop - 1] == '\r') {
      --stop;
    }
    line = rest_.substr(0, stop);
    rest_.remove_prefix(end + 1);
    return true;
  }

 private:
  std::string_view rest_;
};

// One step of the header walk; true once the header has ended.
bool rime_header_step(std::string_view line, bool& started) {
  std::string_view trimmed = trim(line);
  if (trimmed == RIME_HEADER_START) {
    started = true;
  } else if (started && trimmed == RIME_HEADER_END) {
    return true;
  }
  return false;
}

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
  if (text.find(BINGLING_HEADER_MARKER) != std::string_view::npos ||
      text.find(BINGLING_BODY_MARKER) != std::string_view::npos) {
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

RimeHeaderEnd find_rime_header_end(std::string_view text) {
  LineCursor cursor(text);
  std::string_view line;
  bool started = false;
  std::uint64_t number = 0;
  while (cursor.next(line)) {
    ++number;
    if (rime_header_step(line, started)) {
      return {true, number};
    }
  }
  return {false, number};
}

RimeHeaderEnd find_rime_header_end(std::span<const std::string_view> lines) {
  bool started = false;
  for (std::size_t index = 0; index < lines.size(); ++index) {
    if (rime_header_step(lines[index], started)) {
      return {true, index + 1};
    }
  }
  return {false, lines.size()};
}

EntryColumns entry_columns(TableFormat format, std::span<const std::string_view> lines) {
  if (format == TableFormat::Bingling) {
    return {.text = 1, .code = 0, .weight = 2, .format = TableFormat::Bingling};
  }
  const RimeRowLayout layout = rime_row_layout(lines);
  const std::optional<std::size_t> weight = layout.weighted ? layout.weight : std::nullopt;
  // A header that puts both in one column describes no entry line: read it the usual way.
  if (layout.text == layout.code) {
    return {.text = 0, .code = 1, .weight = weight};
  }
  return {.text = layout.text, .code = layout.code, .weight = weight};
}

std::string_view entry_text(std::string_view field, TableFormat format) {
  const std::string_view trimmed = trim(field);
  return trimmed.empty() && format == TableFormat::Rime ? field : trimmed;
}

}  // namespace qovira
