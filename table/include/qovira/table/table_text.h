// The one reading of a table's text. Every reader of a text table (the importers, the diagnosis's
// line scan, the repair and its code inference) asks this model what a line is, so that they can
// never disagree about where the body starts, which column holds the code, what a comment or a
// header line is, or how a line is cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/table/progress.h"

namespace qovira {

enum class TableFormat : std::uint8_t { Rime, Bingling, Mb, Unknown };

// The lines that open and close a Rime header, and the 冰凌 section lines (the importer takes
// them in any letter case; the format detection only in this one).
inline constexpr std::string_view RIME_HEADER_START = "---";
inline constexpr std::string_view RIME_HEADER_END = "...";
inline constexpr std::string_view BINGLING_HEADER_SECTION = "[CODETABLEHEADER]";
inline constexpr std::string_view BINGLING_BODY_SECTION = "[CODETABLE]";

// Where a Rime header ends: the "..." that closes the first "---" (compared after trimming).
struct RimeHeaderEnd {
  bool found = false;
  // The 1-based number of the "..." line when found, else the number of lines.
  std::uint64_t line_count = 0;
};

RimeHeaderEnd find_rime_header_end(std::string_view text);

// The dictionary's name in the value of a `name:` line, as the importer takes it: double quote
// marks stripped from both ends, then single ones.
std::string_view rime_name_value(std::string_view value);

enum class LineKind : std::uint8_t {
  Header,     // outside the body: a Rime header and what precedes it, 冰凌 settings and lines
              // outside the body section
  Setting,    // a line of the 冰凌 [CODETABLEHEADER] section, a setting or not
  Section,    // a 冰凌 section line such as "[CODETABLE]"
  Comment,    // "#", and in 冰凌 tables ";"
  Blank,      // nothing but white space
  Entry,      // a body line with both its text and its code column
  Malformed,  // a body line lacking the text or the code column
};

// Which tab-separated columns of a body line hold the text, the code and the weight.
struct ColumnLayout {
  std::size_t text = 0;
  std::size_t code = 1;
  std::optional<std::size_t> weight = 2;

  friend bool operator==(const ColumnLayout&, const ColumnLayout&) = default;
};

// One line, read as the format's importer reads it. The views point into the table's text.
struct TextLine {
  std::uint64_t number = 0;  // 1-based
  LineKind kind = LineKind::Header;
  std::string_view raw;  // the line as cut, without its line end
  // Body lines (Entry; Malformed has at most one of text and code):
  std::string_view text;    // Rime: the column as it stands; 冰凌: the trimmed piece
  std::string_view code;    // Rime: the column as it stands (the importer joins its white space
                            // out); 冰凌: the trimmed piece without its pin mark
  std::string_view weight;  // the weight column as it stands; empty without one
  bool has_text = false;
  bool has_code = false;
  bool pinned = false;  // 冰凌: the code ended in one "*"
};

// What a Rime header says, as the importer reads it.
struct RimeHeader {
  std::optional<std::string_view> name;
  bool table_only_marker = false;
  struct LengthRule {
    std::uint64_t length = 0;
    bool or_more = false;
    std::string_view formula;
  };
  std::vector<LengthRule> length_rules;  // in header order
};

// The settings of a 冰凌 table: keys trimmed and ASCII lower-cased, a later key replacing an
// earlier.
using BinglingSettings = std::map<std::string, std::string_view, std::less<>>;

class TableText {
 public:
  // Reads the header and finds the body; body lines are classified as they are walked. Rime,
  // 冰凌 and, read like a Rime body without a header, Unknown. Every walk over the lines reports
  // to `progress` how far into the text it got, and ends early once it is cancelled.
  static TableText read(std::string_view text, TableFormat format, Progress* progress = nullptr);

  std::string_view text() const { return text_; }
  TableFormat format() const { return format_; }
  const ColumnLayout& columns() const { return columns_; }
  // Whether repeated entries merge by weight and weights order candidates.
  bool weighted() const { return weighted_; }
  // Rime: the header was closed by "..."; 冰凌: both sections were seen.
  bool has_body() const { return has_body_; }
  // Rime: the number of lines up to the header's end (the body follows them).
  std::uint64_t header_lines() const { return header_lines_; }
  const RimeHeader& rime_header() const { return rime_header_; }
  const BinglingSettings& bingling_settings() const { return settings_; }

  // Reads one line of the body on its own: blank, comment, section (冰凌), entry or malformed.
  TextLine read_body_line(std::string_view raw, std::uint64_t number) const;

  // Walks every line in order, classified.
  class Cursor {
   public:
    explicit Cursor(const TableText& table);
    bool next(TextLine& line);

   private:
    const TableText& table_;
    std::string_view rest_;
    std::uint64_t number_ = 0;
    bool in_body_ = false;
    bool in_settings_ = false;  // 冰凌: within the [CODETABLEHEADER] section
  };

  template <typename Visit>
  void for_each_line(Visit&& visit) const {
    Cursor cursor(*this);
    TextLine line;
    while (cursor.next(line)) {
      visit(line);
    }
  }

 private:
  TableText() = default;
  void read_rime_header();
  void read_bingling_sections();

  std::string_view text_;
  TableFormat format_ = TableFormat::Unknown;
  ColumnLayout columns_;
  bool weighted_ = true;
  bool has_body_ = false;
  std::uint64_t header_lines_ = 0;
  RimeHeader rime_header_;
  BinglingSettings settings_;
  Progress* progress_ = nullptr;
};

// The pieces of a line between tabs, empty ones included, handed to `visit(index, piece)` until it
// returns false or the line ends: the one way a table's line is cut into columns.
template <typename Visit>
void for_each_column(std::string_view line, Visit&& visit) {
  std::size_t start = 0;
  for (std::size_t index = 0;; ++index) {
    const std::size_t end = line.find('\t', start);
    const std::string_view piece =
        line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!visit(index, piece) || end == std::string_view::npos) {
      return;
    }
    start = end + 1;
  }
}

// The code column as the file writes it: 冰凌 with its pin mark.
inline std::string_view code_as_written(const TextLine& line) {
  return {line.code.data(), line.code.size() + (line.pinned ? 1 : 0)};
}

// The code as the Rime importer keys it: every white-space character removed.
std::string join_code(std::string_view code);

}  // namespace qovira
