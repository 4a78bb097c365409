// The whole-text mends of the repair, in the order they are made: encoding, line ends, the
// byte-order mark, 冰凌 markers and section lines, the Rime header.
#include "qovira/app/repair/text_mends.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <utility>

#include "qovira/app/diagnosis/diagnosis.h"
#include "qovira/table/ascii.h"
#include "qovira/table/decoding.h"
#include "qovira/table/encoding.h"
#include "qovira/table/format.h"
#include "qovira/table/lines.h"
#include "qovira/table/message_text.h"
#include "qovira/table/missing_header.h"
#include "qovira/table/safe_text.h"
#include "qovira/table/utf8.h"
#include "qovira/table/white_space.h"

namespace qovira {
namespace {

constexpr std::string_view LEGACY_TEXT_CONVERTED = "把 GBK/GB18030 编码转成 UTF-8";
constexpr std::string_view LEGACY_TEXT_CONVERTED_BASIS =
    "输入法只认 UTF-8 或带 BOM 的 UTF-16；原文件按 GB18030 能完整解码";
constexpr std::string_view DAMAGED_LINE = "含损坏的 UTF-8 字节 {}：{}";
constexpr std::string_view DAMAGED_LINE_REASON =
    "这些字节不成 UTF-8 字符（文件被截断或混进了别的编码），看不出原来写的是什么";
constexpr std::string_view LINE_ENDS_CHANGED = "把只用 CR 的旧式行尾换成 LF";
constexpr std::string_view LINE_ENDS_CHANGED_BASIS =
    "原文件只用 CR 分行，导入器只认 LF 与 CR LF，整份文件会被当成一行";
constexpr std::string_view LONE_CRS_CHANGED = "把单独的 CR 行尾换成 LF";
constexpr std::string_view LONE_CRS_CHANGED_BASIS =
    "原文件有 {} 处行尾只用 CR，导入器只认 LF 与 CR LF，这些行会被并成一行";
constexpr std::string_view MARK_REMOVED = "删掉了文件开头的 BOM（EF BB BF）";
constexpr std::string_view MARK_REMOVED_BASIS =
    "BOM 挡在第一行的 {} 前面，输入法认不出这一行，整份码表就导入不进去";
constexpr std::string_view MARK_REMOVED_UNDER_HEADER_BASIS =
    "补上头部后，BOM 会落进第一条词条的词里";
constexpr std::string_view MARKER_REMOVED = "删掉了会被认成冰凌分节的字样：";
constexpr std::string_view MARKER_REMOVED_BASIS =
    "有这个字样，输入法会把整个文件当成冰凌码表来读，这份 Rime 词典就导入不进去";
constexpr std::string_view SECTION_UPPER_CASED = "分节行改成大写：";
constexpr std::string_view SECTION_UPPER_CASED_BASIS =
    "输入法凭大写的 [CODETABLEHEADER] 或 [CODETABLE] 认出冰凌码表；原文件的大写字样不在分节行上";
constexpr std::string_view HEADER_ADDED = "补上了 Rime 头部（--- / name / sort / ...）";
constexpr std::string_view CODE_FIRST_HEADER_ADDED =
    "补上了 Rime 头部（--- / name / sort / columns / ...）";
constexpr std::string_view HEADER_ADDED_BASIS =
    "原文件缺少独占一行的 `---` 与 `...`，导入器认不出这是 Rime 词典";
constexpr std::string_view NO_HEADER_BASIS = "原文件没有 Rime 头部，也没有冰凌分节";
constexpr std::string_view TEXT_FIRST_EVIDENCE = "；{} 行里有 {} 行是“词 Tab 编码”";
constexpr std::string_view CODE_FIRST_EVIDENCE =
    "；{} 行里有 {} 行是“编码 Tab 词”，头部用 columns 注明先编码后词";
constexpr std::string_view HEADER_NOT_ADDED = "没有补 Rime 头部，看不出哪一列是词、哪一列是编码";
constexpr std::string_view HEADER_NOT_ADDED_REASON =
    "原文件没有 Rime 头部，也没有冰凌分节；{} 行里 {} 行是“词 Tab 编码”、{} 行是“编码 Tab "
    "词”，两种都不到这些词条行的五分之四（或词条行不到一半），猜错会把词和编码弄反";
constexpr std::string_view HEADER_CLOSED = "补上了 Rime 头部的结束行 ...";
constexpr std::string_view HEADER_CLOSED_BASIS =
    "头部以 `---` 开始，却没有独占一行的 `...` 收尾，导入器读不到正文；头部的设置到第 {} "
    "行为止，`...` 补在它后面";

constexpr std::string_view ADDED_HEADER_START = "---\nname: ";
constexpr std::string_view ADDED_HEADER_SETTINGS = "\nversion: \"1.0\"\nsort: original\n";
constexpr std::string_view ADDED_HEADER_CODE_FIRST = "columns:\n  - code\n  - text\n";
constexpr std::string_view BINGLING_MARKERS[] = {BINGLING_HEADER_SECTION, BINGLING_BODY_SECTION};

// Written into the added header's name in place of anything that could end the line or the value.
constexpr char NAME_REPLACEMENT = '_';
// The most damaged bytes of one line shown in hex.
constexpr std::size_t DAMAGED_BYTES_SHOWN = 12;
constexpr std::string_view HEX_DIGITS = "0123456789ABCDEF";

std::string as_text(std::uint64_t number) {
  return std::to_string(number);
}

// The bytes in hex, "E4 B8", the first DAMAGED_BYTES_SHOWN of them followed by "…" when more.
std::string shown_hex(ByteView bytes) {
  std::string hex;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == DAMAGED_BYTES_SHOWN) {
      hex.append(CUT_MARK);
      break;
    }
    if (i > 0) {
      hex.push_back(' ');
    }
    hex.push_back(HEX_DIGITS[bytes[i] >> 4]);
    hex.push_back(HEX_DIGITS[bytes[i] & 0xF]);
  }
  return hex;
}

// The base name as the value of the added header's `name:`: nothing in it may end the line, start
// a comment, be taken for a quote mark the importer strips, or make the table read as 冰凌.
std::string header_name(std::string_view base_name) {
  std::string name;
  for (std::size_t pos = 0; pos < base_name.size();) {
    const std::size_t start = pos;
    const char32_t c = next_char(base_name, pos);
    const bool breaks = c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
                        c == U'#' || c == U'"' || c == U'\'' || c == 0xFFFD;
    if (breaks) {
      name.push_back(NAME_REPLACEMENT);
    } else {
      name.append(base_name.substr(start, pos - start));
    }
  }
  // A marker loses its brackets; taking one out can join another, so until none is left.
  for (bool again = true; again;) {
    again = false;
    for (const std::string_view marker : BINGLING_MARKERS) {
      for (std::size_t at = name.find(marker); at != std::string::npos; at = name.find(marker)) {
        name.replace(at, marker.size(), marker.substr(1, marker.size() - 2));
        again = true;
      }
    }
  }
  return name;
}

// The text with every "[CODETABLEHEADER]" and "[CODETABLE]" taken out, until none is left.
std::string without_markers(std::string_view text) {
  std::string out(text);
  for (bool again = true; again;) {
    again = false;
    for (const std::string_view marker : BINGLING_MARKERS) {
      for (std::size_t at = out.find(marker); at != std::string::npos; at = out.find(marker)) {
        out.erase(at, marker.size());
        again = true;
      }
    }
  }
  return out;
}

// The text with each line rewritten by `rewrite(line, number, out)`, which appends the new line
// without its line end.
template <typename Rewrite>
std::string rewritten_lines(std::string_view text, Rewrite rewrite) {
  std::string out;
  out.reserve(text.size());
  std::uint64_t number = 0;
  for_each_line(text, [&](std::string_view line) {
    rewrite(line, ++number, out);
    out.push_back('\n');
  });
  return out;
}

// What the 冰凌 section lines of a text are like.
struct SectionLines {
  bool any_case = false;         // some line is a section line, in any letter case
  bool upper_case = false;       // some line is one in the upper case the format detection finds
  bool header_any_case = false;  // some line is the header section line, in any letter case
  std::uint64_t first_line = 0;  // of the first section line in any case; 0 without one
};

SectionLines find_section_lines(std::string_view text) {
  SectionLines found;
  std::uint64_t number = 0;
  for_each_line(text, [&found, &number](std::string_view line) {
    const std::string_view trimmed = trim(line);
    ++number;
    for (const std::string_view marker : BINGLING_MARKERS) {
      found.upper_case = found.upper_case || trimmed == marker;
      if (!found.any_case && equals_ignoring_ascii_case(trimmed, marker)) {
        found.any_case = true;
        found.first_line = number;
      }
    }
    found.header_any_case =
        found.header_any_case || equals_ignoring_ascii_case(trimmed, BINGLING_HEADER_SECTION);
  });
  return found;
}

// A damaged piece of the source: where its U+FFFD stands in the text, and its bytes.
struct DamagedPiece {
  std::size_t offset = 0;
  Bytes bytes;
};

class TextMender {
 public:
  TextMender(MendedText& mended, std::vector<DamagedPiece> damaged)
      : mended_(mended), damaged_(std::move(damaged)) {}

  void mend(std::string_view base_name) {
    blank_damaged_lines();
    mend_line_ends();
    list_damaged_lines();
    mend_hidden_marker();
    mend_markers();
    mend_rime_header(base_name);
  }

 private:
  std::string_view text() const { return mended_.text(); }
  void replace_text(std::string text) { mended_.mended = std::move(text); }
  void redetect() { mended_.format = detect_format({}, text()); }
  void change(RepairRule rule, std::string summary, std::string_view basis, std::uint64_t line) {
    mended_.changes.push_back({rule, displayable(summary), std::string(basis), line});
  }

  void mend_line_ends();
  void mend_hidden_marker();
  void mend_markers();
  void mend_rime_header(std::string_view base_name);
  void close_rime_header(std::uint64_t last_header_line);
  void add_rime_header(std::string_view base_name, std::string summary, std::string basis,
                       std::optional<ColumnOrder> order);
  // Damaged lines after `line` move down by `count`.
  void lines_inserted(std::uint64_t line, std::uint64_t count);
  // Every line holding a damaged piece is left blank, in the repaired text too, so that every
  // reading of the whole text (format, header, sections, column order) is the same in a second
  // repair. A lone CR ends such a line as it ends any other.
  void blank_damaged_lines();
  // The line ends are settled: each blanked line gets its item.
  void list_damaged_lines();

  MendedText& mended_;
  std::vector<DamagedPiece> damaged_;
  // The blanked lines: where each starts in the text, its damaged bytes, and what it held.
  struct BlankedLine {
    std::size_t offset = 0;
    Bytes bytes;
    std::string held;
  };
  std::vector<BlankedLine> blanked_;
};

// Lone CRs end lines, wherever they stand: each CR of a run that no LF follows becomes an LF. A CR
// right before an LF is line-end junk the readers ignore, and stays.
void TextMender::mend_line_ends() {
  const std::string_view text = this->text();
  if (!has_lone_cr(text)) {
    return;
  }
  const bool no_line_feed = text.find('\n') == std::string_view::npos;
  std::string out(text);
  const std::size_t converted = lone_crs_to_line_feeds(out);
  replace_text(std::move(out));
  redetect();
  if (no_line_feed) {
    change(RepairRule::LineEnds, std::string(LINE_ENDS_CHANGED), LINE_ENDS_CHANGED_BASIS, 0);
  } else {
    change(RepairRule::LoneCarriageReturns, std::string(LONE_CRS_CHANGED),
           fill_placeholders(LONE_CRS_CHANGED_BASIS, {as_text(converted)}), 0);
  }
}

void TextMender::lines_inserted(std::uint64_t line, std::uint64_t count) {
  for (RepairItem& item : mended_.taken_out) {
    if (item.line > line) {
      item.line += count;
    }
  }
}

// A UTF-8 byte-order mark in front of "---" or "[CODETABLEHEADER]" hides the header from the
// importers.
void TextMender::mend_hidden_marker() {
  // Damaged lines at the top are taken out, and the first line after them starts the file.
  std::uint64_t first_line = 1;
  std::size_t start = 0;
  LineCursor cursor(text());
  std::string_view line;
  for (const RepairItem& item : mended_.taken_out) {
    if (item.line != first_line) {
      break;
    }
    cursor.next(line);
    start = text().size() - cursor.rest().size();
    ++first_line;
  }
  const std::optional<std::string_view> marker =
      marker_behind_byte_order_mark(text().substr(start));
  if (!marker) {
    return;
  }
  std::string out(text());
  out.erase(start, UTF8_BYTE_ORDER_MARK.size());
  replace_text(std::move(out));
  redetect();
  change(RepairRule::ByteOrderMark, std::string(MARK_REMOVED),
         fill_placeholders(MARK_REMOVED_BASIS, {*marker}), first_line);
}

// A Rime dictionary (or a list of its lines) that a "[CODETABLE]" made look like a 冰凌 table (in a
// comment, or on a body line of its own) loses its markers, one change per line; a 冰凌 table whose
// section lines are all in another letter case gets them in upper case.
void TextMender::mend_markers() {
  if (mended_.format != TableFormat::Bingling) {
    return;
  }
  const SectionLines sections = find_section_lines(text());
  // Section lines only below a Rime header (closed or not), and never the header section: a
  // dictionary.
  std::optional<std::uint64_t> rime_header_end;
  if (!sections.header_any_case) {
    const RimeHeaderEnd closed = find_rime_header_end(text());
    rime_header_end = closed.found ? closed.line_count : unclosed_rime_header_end(text());
  }
  const bool below_rime_header =
      rime_header_end && (!sections.any_case || sections.first_line > *rime_header_end);
  // Lines of a word, then its code, are no 冰凌 table (whose code comes first) either.
  const bool rime_lines = !sections.header_any_case && !rime_header_end &&
                          column_order_evidence(text()).order() == ColumnOrder::TextFirst;
  if (below_rime_header || rime_lines) {
    replace_text(
        rewritten_lines(text(), [&](std::string_view line, std::uint64_t number, std::string& out) {
          const std::string mended = without_markers(line);
          if (mended.size() != line.size()) {
            // A line that was nothing but a marker shows what it was.
            std::string summary(MARKER_REMOVED);
            summary.append(shown_line(trim(mended).empty() ? line : std::string_view(mended)));
            change(RepairRule::MarkerRemoved, std::move(summary), MARKER_REMOVED_BASIS, number);
          }
          out.append(mended);
        }));
    redetect();
    return;
  }
  if (!sections.any_case || sections.upper_case) {
    return;
  }
  // The format detection found an upper-case marker off the section lines, on a line the repair
  // may leave out: the repaired table would no longer be recognised.
  replace_text(
      rewritten_lines(text(), [&](std::string_view line, std::uint64_t number, std::string& out) {
        const std::string_view trimmed = trim(line);
        for (const std::string_view marker : BINGLING_MARKERS) {
          if (equals_ignoring_ascii_case(trimmed, marker)) {
            std::string summary(SECTION_UPPER_CASED);
            summary.append(marker);
            change(RepairRule::SectionUpperCased, std::move(summary), SECTION_UPPER_CASED_BASIS,
                   number);
            out.append(marker);
            return;
          }
        }
        out.append(line);
      }));
}

// A Rime text whose "---" is never closed gets its "..." where its header ends; a text without
// any header gets one in front, its column order read from its lines, when they leave no doubt.
void TextMender::mend_rime_header(std::string_view base_name) {
  const bool rime = mended_.format == TableFormat::Rime;
  if (mended_.format != TableFormat::Unknown && !rime) {
    return;
  }
  if (rime && find_rime_header_end(text()).found) {
    return;
  }
  if (rime) {
    if (const std::optional<std::uint64_t> last = unclosed_rime_header_end(text())) {
      close_rime_header(*last);
      return;
    }
  }
  std::string_view lines = text();
  if (lines.starts_with(UTF8_BYTE_ORDER_MARK)) {
    lines.remove_prefix(UTF8_BYTE_ORDER_MARK.size());  // taken out with the header added
  }
  const ColumnOrderEvidence evidence = column_order_evidence(lines);
  const std::optional<ColumnOrder> order = evidence.order();
  std::string basis(rime ? HEADER_ADDED_BASIS : NO_HEADER_BASIS);
  if (order == ColumnOrder::CodeFirst) {
    basis.append(fill_placeholders(CODE_FIRST_EVIDENCE,
                                   {as_text(evidence.lines), as_text(evidence.code_first)}));
  } else if (order == ColumnOrder::TextFirst && !rime) {
    basis.append(fill_placeholders(TEXT_FIRST_EVIDENCE,
                                   {as_text(evidence.lines), as_text(evidence.text_first)}));
  }
  if (rime || order) {
    add_rime_header(
        base_name,
        std::string(order == ColumnOrder::CodeFirst ? CODE_FIRST_HEADER_ADDED : HEADER_ADDED),
        std::move(basis), order);
    return;
  }
  if (evidence.lines > 0) {
    mended_.kept.push_back(
        {RepairRule::HeaderNotAdded, std::string(HEADER_NOT_ADDED),
         fill_placeholders(
             HEADER_NOT_ADDED_REASON,
             {as_text(evidence.lines), as_text(evidence.text_first), as_text(evidence.code_first)}),
         0});
  }
}

void TextMender::close_rime_header(std::uint64_t last_header_line) {
  const std::string_view text = this->text();
  std::string out;
  out.reserve(text.size() + RIME_HEADER_END.size() + 2);
  std::uint64_t number = 0;
  LineCursor cursor(text);
  std::string_view line;
  while (cursor.next(line)) {
    const std::size_t start = static_cast<std::size_t>(line.data() - text.data());
    if (++number == last_header_line) {
      // The header's last line keeps its own line end; a last line without one gets an LF.
      const std::size_t end = text.size() - cursor.rest().size();
      out.append(text.substr(0, end));
      if (end == start + line.size()) {
        out.push_back('\n');
      }
      out.append(RIME_HEADER_END).push_back('\n');
      out.append(cursor.rest());
      break;
    }
  }
  replace_text(std::move(out));
  lines_inserted(last_header_line, 1);
  // A line put in: the lines below it move down, so the change is one of the whole file.
  change(RepairRule::HeaderClosed, std::string(HEADER_CLOSED),
         fill_placeholders(HEADER_CLOSED_BASIS, {as_text(last_header_line)}), 0);
}

void TextMender::add_rime_header(std::string_view base_name, std::string summary, std::string basis,
                                 std::optional<ColumnOrder> order) {
  std::string_view body = text();
  const bool marked = body.starts_with(UTF8_BYTE_ORDER_MARK);
  if (marked) {
    body.remove_prefix(UTF8_BYTE_ORDER_MARK.size());
  }
  std::string out(ADDED_HEADER_START);
  out.append(header_name(base_name)).append(ADDED_HEADER_SETTINGS);
  if (order == ColumnOrder::CodeFirst) {
    out.append(ADDED_HEADER_CODE_FIRST);
  }
  out.append(RIME_HEADER_END).push_back('\n');
  const auto added_lines = static_cast<std::uint64_t>(std::ranges::count(out, '\n'));
  out.append(body);
  replace_text(std::move(out));
  mended_.format = TableFormat::Rime;
  lines_inserted(0, added_lines);
  mended_.added_header_lines = added_lines;
  change(RepairRule::HeaderAdded, std::move(summary), basis, 0);
  if (marked) {
    change(RepairRule::ByteOrderMark, std::string(MARK_REMOVED), MARK_REMOVED_UNDER_HEADER_BASIS,
           added_lines + 1);
  }
}

void TextMender::blank_damaged_lines() {
  if (damaged_.empty()) {
    return;
  }
  const std::string_view text = this->text();
  const auto ends_line = [](char c) { return c == '\n' || c == '\r'; };
  std::string out;
  out.reserve(text.size());
  std::size_t copied = 0;
  for (const DamagedPiece& piece : damaged_) {
    if (piece.offset < copied) {  // on the line just blanked
      Bytes& bytes = blanked_.back().bytes;
      bytes.insert(bytes.end(), piece.bytes.begin(), piece.bytes.end());
      continue;
    }
    std::size_t start = piece.offset;
    while (start > copied && !ends_line(text[start - 1])) {
      --start;
    }
    std::size_t end = piece.offset;
    while (end < text.size() && !ends_line(text[end])) {
      ++end;
    }
    out.append(text.substr(copied, start - copied));
    // The CRs that end the line before were lone, followed by this line's bytes: made LF here,
    // so that they cannot join the blank line's own line end.
    for (std::size_t at = out.size(); at > 0 && out[at - 1] == '\r'; --at) {
      out[at - 1] = '\n';
    }
    blanked_.push_back({out.size(), piece.bytes, shown_line(text.substr(start, end - start))});
    copied = end;
  }
  out.append(text.substr(copied));
  if (copied == text.size()) {
    out.push_back('\n');  // a blank last line is a line only with its line end
  }
  replace_text(std::move(out));
  redetect();
}

void TextMender::list_damaged_lines() {
  const std::string_view text = this->text();
  std::uint64_t line = 1;
  std::size_t counted = 0;
  for (const BlankedLine& blanked : blanked_) {
    line += static_cast<std::uint64_t>(
        std::count(text.begin() + static_cast<std::ptrdiff_t>(counted),
                   text.begin() + static_cast<std::ptrdiff_t>(blanked.offset), '\n'));
    counted = blanked.offset;
    std::vector<RepairItem>& taken_out = mended_.taken_out;
    taken_out.push_back(
        {RepairRule::DamagedLine,
         displayable(fill_placeholders(DAMAGED_LINE, {shown_hex(blanked.bytes), blanked.held})),
         std::string(DAMAGED_LINE_REASON), line});
  }
}

std::vector<DamagedPiece> damaged_pieces(ByteView bytes, std::span<const DamagedBytes> damaged,
                                         std::span<const std::size_t> replaced_at) {
  std::vector<DamagedPiece> pieces;
  for (std::size_t i = 0; i < damaged.size(); ++i) {
    const ByteView piece = bytes.subspan(damaged[i].offset, damaged[i].size);
    pieces.push_back({replaced_at[i], {piece.begin(), piece.end()}});
  }
  return pieces;
}

MendedText mend(MendedText mended, std::vector<DamagedPiece> damaged, std::string_view base_name) {
  TextMender(mended, std::move(damaged)).mend(base_name);
  return mended;
}

// The mends of a text decoded from `bytes`, which views them or `storage`.
MendedText mend_decoded(ByteView bytes, std::string_view text, std::string& storage,
                        std::string_view base_name) {
  MendedText mended;
  mended.format = detect_format(bytes, text);
  if (text.data() == storage.data()) {
    mended.mended = std::move(storage);
  } else {
    mended.source = text;
  }
  return mend(std::move(mended), {}, base_name);
}

}  // namespace

MendedText mend_text(std::string_view text, TableFormat format, std::string_view base_name) {
  MendedText mended;
  mended.source = text;
  mended.format = format;
  return mend(std::move(mended), {}, base_name);
}

std::expected<MendedText, TableError> mend_source(ByteView bytes, std::string_view base_name) {
  std::string storage;
  const auto text = decode_text_in_place(bytes, storage);
  if (text) {
    return mend_decoded(bytes, *text, storage, base_name);
  }
  return mend_source(bytes, judge_encoding(bytes), base_name);
}

std::expected<MendedText, TableError> mend_source(ByteView bytes, const EncodingVerdict& encoding,
                                                  std::string_view base_name) {
  MendedText mended;
  switch (encoding.encoding) {
    case TextEncoding::Utf8:
      // Checked when the bytes were decoded: the text is the bytes, a mark included.
      mended.source = std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      mended.format = detect_format(bytes, mended.source);
      return mend(std::move(mended), {}, base_name);
    case TextEncoding::Utf16: {
      std::string storage;
      const auto text = decode_text_in_place(bytes, storage);
      if (!text) {
        return std::unexpected(std::move(text.error()));
      }
      return mend_decoded(bytes, *text, storage, base_name);
    }
    case TextEncoding::DamagedUtf8: {
      RecoveredUtf8 recovered = recover_damaged_utf8(bytes, encoding.damaged);
      std::vector<DamagedPiece> damaged =
          damaged_pieces(bytes, encoding.damaged, recovered.replaced_at);
      mended.mended = std::move(recovered.text);
      mended.format = detect_format({}, mended.text());
      return mend(std::move(mended), std::move(damaged), base_name);
    }
    case TextEncoding::Gb18030:
      if (std::optional<std::string> legacy = legacy_table_text(bytes, encoding)) {
        mended.mended = std::move(*legacy);
        mended.format = detect_format({}, mended.text());
        mended.changes.push_back({RepairRule::Encoding, std::string(LEGACY_TEXT_CONVERTED),
                                  std::string(LEGACY_TEXT_CONVERTED_BASIS), 0});
        return mend(std::move(mended), {}, base_name);
      }
      break;
    case TextEncoding::Undecodable:
      break;
  }
  std::string storage;
  auto text = decode_text_in_place(bytes, storage);
  return std::unexpected(text ? TableError::undecodable_text({}) : std::move(text.error()));
}

}  // namespace qovira
