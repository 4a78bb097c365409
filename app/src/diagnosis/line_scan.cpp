// The scan of a table's body lines: lines without two columns, empty columns, stray code
// characters and repeated entries, each an issue on its line.
#include <algorithm>

#include "qovira/app/diagnosis/issues.h"
#include "qovira/table/entry.h"
#include "qovira/table/message_text.h"
#include "qovira/table/utf8.h"
#include "qovira/table/white_space.h"
#include "repeat_check.h"

namespace qovira {

namespace {

// The characters of a code that cannot be code letters, in order, repeats kept. The Rime importer
// joins every white-space character out of a code, so in Rime any white space is no mistake; a
// 冰凌 code holds letters and "/" alone (capitals are flagged with their own advice).
std::string offending_characters(std::string_view code, TableFormat format) {
  const bool bingling = format == TableFormat::Bingling;
  const auto offends = [bingling](char32_t c) {
    return !is_code_character(c) ||
           (bingling && !is_format_code_character(TableFormat::Bingling, c));
  };
  // Code characters are all ASCII, so a code of code characters needs no decoding.
  if (std::ranges::none_of(code, [&](char c) { return offends(static_cast<unsigned char>(c)); })) {
    return {};
  }
  std::string offending;
  std::size_t pos = 0;
  while (pos < code.size()) {
    std::size_t start = pos;
    const char32_t c = next_char(code, pos);
    if (offends(c) && !(!bingling && is_white_space(c))) {
      offending.append(code.substr(start, pos - start));
    }
  }
  return offending;
}

}  // namespace

std::uint64_t scan_body_lines(const TableText& text, IssueList& issues) {
  const TableFormat format = text.format();
  std::uint64_t rows = 0;
  // At most one entry per line: reserving that much touches no memory until it is used, where
  // growing by doubling would copy and leave up to half of the space idle.
  DuplicateCheck duplicates(static_cast<std::size_t>(std::ranges::count(text.text(), '\n')) + 1);
  std::string storage;
  text.for_each_line([&](const TextLine& line) {
    if (line.kind == LineKind::Malformed) {
      const std::string_view trimmed = trim(line.raw);
      if (trimmed != RIME_HEADER_END) {
        issues.add(missing_columns(line.number, shown_line(line.raw)));
      }
      return;
    }
    if (line.kind != LineKind::Entry) {
      return;
    }
    ++rows;
    const std::string_view code = code_as_written(line);
    if (trim(code).empty() || line.text.empty()) {
      issues.add(empty_code_or_text(line.number));
      return;
    }
    // A 冰凌 pin mark is no stray character; a code that is only the mark is.
    const std::string offending =
        offending_characters(line.code.empty() ? code : line.code, format);
    if (!offending.empty()) {
      issues.add(bad_code_characters(line.number, trim(code), line.text, offending));
      return;
    }
    duplicates.add({repeat_code(line.code, format, storage), line.text}, line.number, line.raw);
  });
  duplicates.raise(issues, text.text(),
                   [&](std::string_view raw, std::uint64_t number, std::string& joined) {
                     const TextLine line = text.read_body_line(raw, number);
                     return BodyEntry{repeat_code(line.code, format, joined), line.text};
                   });
  return rows;
}

}  // namespace qovira
