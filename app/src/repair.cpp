// The line rules of the repair: header, column separators, empty columns, code characters and
// exact duplicates, each change recorded with its ground.
#include "qovira/app/repair.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/table/text.h"

namespace qovira {
namespace {

constexpr std::string_view ADDED_RIME_HEADER_PREFIX = "---\nname: ";
constexpr std::string_view ADDED_RIME_HEADER_SUFFIX = "\nversion: \"1.0\"\nsort: original\n...\n";
constexpr std::uint64_t ADDED_RIME_HEADER_LINES = 5;

constexpr std::string_view HEADER_ADDED = "补上了 Rime 头部（--- / name / sort / ...）";
constexpr std::string_view HEADER_ADDED_BASIS =
    "原文件缺少独占一行的 `---` 与 `...`，导入器认不出这是 Rime 词典";
constexpr std::string_view SEPARATOR_CHANGED = "列分隔改成 Tab：";
constexpr std::string_view SEPARATOR_CHANGED_BASIS = "原行用空格分列，Rime/冰凌都要求一个制表符";
constexpr std::string_view NOT_TWO_COLUMNS = "这一行不是两列，原样留着：";
constexpr std::string_view NOT_TWO_COLUMNS_REASON =
    "看不出哪段是词、哪段是编码，猜错会造出错误词条";
constexpr std::string_view EMPTY_COLUMN_DROPPED = "删掉空编码/空词条的行";
constexpr std::string_view EMPTY_COLUMN_DROPPED_BASIS = "两列缺一列的记录没有意义，导入器也会跳过";
constexpr std::string_view CODE_PREFIX = "编码 ";
constexpr std::string_view CODE_ARROW = " → ";
constexpr std::string_view ENTRY_OPEN = "（词条「";
constexpr std::string_view ENTRY_CLOSE = "」）";
constexpr std::string_view FULL_WIDTH_BASIS = "把全角标点换成半角；码元只认半角 , . ; /";
constexpr std::string_view CAPITALS_BASIS = "编码只认小写字母";
constexpr std::string_view CODE_EXCLUDED = "含非法码元，已从导出中排除";
constexpr std::string_view CODE_EXCLUDED_REASON =
    "同类词条的用码规律不够一致，猜出来的编码可能是错的";
constexpr std::string_view DUPLICATE_OPEN = "删掉与第 ";
constexpr std::string_view DUPLICATE_MIDDLE = " 行完全重复的「";
constexpr std::string_view DUPLICATE_CLOSE = "」";
constexpr std::string_view DUPLICATE_BASIS = "同一个词在同一个编码下重复登记，导入时本来也会去重";
constexpr std::string_view HEAVIER_DUPLICATE_OPEN = "与第 ";
constexpr std::string_view HEAVIER_DUPLICATE_MIDDLE = " 行重复的「";
constexpr std::string_view HEAVIER_DUPLICATE_CLOSE = "」";
constexpr std::string_view HEAVIER_DUPLICATE_TAIL = " 权重更高，原样留着";
constexpr std::string_view HEAVIER_DUPLICATE_REASON =
    "导入时同词同码只留一条、取较高的权重；删掉这一行，这个词的排序就会变低";
constexpr std::string_view CLIP_MARK = "…";
constexpr std::size_t CLIP_CHARACTERS = 30;
// Codes and words inside summaries are cut after this many characters: no real entry comes near
// it, and a hostile line of gigabytes must not flood the batch output.
constexpr std::size_t SHOWN_VALUE_CHARS = 256;

std::string_view without_trailing_crs(std::string_view line) {
  while (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  return line;
}

bool is_code_byte(char byte) {
  return is_code_character(static_cast<unsigned char>(byte));
}

bool all_code_characters(std::string_view code) {
  return std::all_of(code.begin(), code.end(), is_code_byte);
}

bool has_non_ascii(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char byte) { return static_cast<unsigned char>(byte) >= 0x80; });
}

// Cuts a trimmed line at runs of white space; stops after `limit` pieces.
std::vector<std::string_view> white_space_pieces(std::string_view trimmed, std::size_t limit) {
  std::vector<std::string_view> pieces;
  std::size_t piece_start = 0;
  bool in_piece = false;
  for (std::size_t pos = 0; pos < trimmed.size();) {
    const std::size_t start = pos;
    const bool white = is_white_space(next_char(trimmed, pos));
    if (white && in_piece) {
      pieces.push_back(trimmed.substr(piece_start, start - piece_start));
      in_piece = false;
      if (pieces.size() == limit) {
        return pieces;
      }
    } else if (!white && !in_piece) {
      piece_start = start;
      in_piece = true;
    }
  }
  if (in_piece) {
    pieces.push_back(trimmed.substr(piece_start));
  }
  return pieces;
}

char full_width_replacement(char32_t c) {
  switch (c) {
    case U'、':
    case U'／':
      return '/';
    case U'。':
      return '.';
    case U'，':
      return ',';
    case U'；':
      return ';';
    default:
      return 0;
  }
}

// The code with full-width punctuation made half-width; other bytes are kept exactly.
std::string half_width_punctuation(std::string_view code) {
  std::string out;
  out.reserve(code.size());
  for (std::size_t pos = 0; pos < code.size();) {
    const std::size_t start = pos;
    const char replacement = full_width_replacement(next_char(code, pos));
    if (replacement != 0) {
      out.push_back(replacement);
    } else {
      out.append(code.substr(start, pos - start));
    }
  }
  return out;
}

// The latest line of every (text, code) pair and the largest weight it was written with, in one
// flat open-addressing table sized for one pair per line at half load: no allocation per entry,
// which matters for tables of millions of lines.
class PairLines {
 public:
  explicit PairLines(std::size_t most_pairs) {
    std::size_t capacity = 16;
    while (capacity < 2 * most_pairs) {
      capacity *= 2;
    }
    slots_.assign(capacity, 0);
    pairs_.reserve(most_pairs);
  }

  struct Seen {
    std::uint64_t line;
    std::uint64_t weight;
  };

  // Records `line` as the pair's latest line; returns what was recorded before, if anything.
  std::optional<Seen> exchange(std::string_view text, std::string_view code, std::uint64_t line,
                               std::uint64_t weight) {
    const std::uint64_t hash = hash_of(text, code);
    for (std::size_t at = hash & (slots_.size() - 1);; at = (at + 1) & (slots_.size() - 1)) {
      const std::uint64_t slot = slots_[at];
      if (slot == 0) {
        pairs_.push_back({text, code, {line, weight}});
        slots_[at] = (hash & HASH_BITS) | pairs_.size();
        return std::nullopt;
      }
      if ((slot & HASH_BITS) == (hash & HASH_BITS)) {
        Pair& pair = pairs_[(slot & INDEX_BITS) - 1];
        if (pair.text == text && pair.code == code) {
          const Seen before = pair.seen;
          pair.seen = {line, std::max(before.weight, weight)};
          return before;
        }
      }
    }
  }

 private:
  // A slot holds the high half of the pair's hash above 1 + its index in pairs_; 0 is free.
  static constexpr std::uint64_t HASH_BITS = 0xFFFF'FFFF'0000'0000;
  static constexpr std::uint64_t INDEX_BITS = 0x0000'0000'FFFF'FFFF;

  struct Pair {
    std::string_view text;
    std::string_view code;
    Seen seen;
  };

  static std::uint64_t hash_of(std::string_view text, std::string_view code) {
    const std::uint64_t text_hash = std::hash<std::string_view>{}(text);
    const std::uint64_t hash =
        text_hash ^ (std::hash<std::string_view>{}(code) + 0x9E3779B97F4A7C15ULL +
                     (text_hash << 6) + (text_hash >> 2));
    // Spread the bits so that both the slot (low bits) and the tag (high bits) vary.
    return hash * 0x9E3779B97F4A7C15ULL;
  }

  std::vector<std::uint64_t> slots_;
  std::vector<Pair> pairs_;
};

// Appends the value whole, or its first SHOWN_VALUE_CHARS characters followed by "…".
std::string& append_shown(std::string& out, std::string_view value) {
  const std::string_view head = first_chars(value, SHOWN_VALUE_CHARS);
  out.append(head);
  if (head.size() < value.size()) {
    out.append(CLIP_MARK);
  }
  return out;
}

std::string code_change(std::string_view old_code, std::string_view new_code) {
  std::string summary(CODE_PREFIX);
  append_shown(summary, old_code).append(CODE_ARROW);
  append_shown(summary, new_code);
  return summary;
}

class LineRepairer {
 public:
  LineRepairer(TableFormat format, EntryColumns columns, std::span<const std::string_view> body,
               RepairResult& result, std::size_t line_count)
      : format_(format),
        columns_(columns),
        body_(body),
        result_(result),
        latest_line_of_(line_count) {}

  void repair(std::string_view line, std::uint64_t number);

 private:
  void change(std::string summary, std::string_view basis, std::uint64_t number) {
    result_.changes.push_back({std::move(summary), std::string(basis), number});
  }
  void keep(std::string summary, std::string_view reason, std::uint64_t number) {
    result_.kept.push_back({std::move(summary), std::string(reason), number});
  }
  void emit_entry(std::string_view line, std::string_view text, std::string_view code);
  // Rules D to F; returns false when the entry is to be left out.
  bool mend_code(std::string_view text, std::string_view& code, std::uint64_t number);
  std::string_view store(std::string code) { return mended_codes_.emplace_back(std::move(code)); }

  // Most tables need no code inferred: the statistics are gathered on the first code that does.
  const CodeStats& stats() {
    if (!stats_) {
      stats_ = collect_code_stats(body_, columns_);
    }
    return *stats_;
  }

  TableFormat format_;
  EntryColumns columns_;
  std::span<const std::string_view> body_;
  std::optional<CodeStats> stats_;
  RepairResult& result_;
  PairLines latest_line_of_;
  // Owns the codes the rules rewrote, so that duplicate keys can point at them.
  std::deque<std::string> mended_codes_;
};

// The line again with its text and code columns replaced by the trimmed text and the mended code;
// every other column (a weight, a stem) stays exactly as it was.
void LineRepairer::emit_entry(std::string_view line, std::string_view text, std::string_view code) {
  std::string& out = result_.text;
  line = without_trailing_crs(line);
  for (std::size_t index = 0, start = 0;; ++index) {
    const std::size_t end = line.find('\t', start);
    if (index == columns_.code) {
      out.append(code);
    } else if (index == columns_.text) {
      out.append(text);
    } else {
      out.append(line.substr(start, end == std::string_view::npos ? end : end - start));
    }
    if (end == std::string_view::npos) {
      break;
    }
    out.push_back('\t');
    start = end + 1;
  }
  out.push_back('\n');
}

bool LineRepairer::mend_code(std::string_view text, std::string_view& code, std::uint64_t number) {
  if (has_non_ascii(code)) {
    std::string half_width = half_width_punctuation(code);
    if (half_width != code) {
      change(code_change(code, half_width), FULL_WIDTH_BASIS, number);
      code = store(std::move(half_width));
    }
  }
  if (std::any_of(code.begin(), code.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) {
    std::string lower = ascii_lower(code);
    change(code_change(code, lower), CAPITALS_BASIS, number);
    code = store(std::move(lower));
  }
  // A 冰凌 pinned mark is no illegal character: the importer takes it off, so it must survive.
  const std::string_view letters = without_pinned_mark(code, format_);
  const std::string_view pinned_mark = code.substr(letters.size());
  if (all_code_characters(letters)) {
    return true;
  }
  std::optional<InferredCode> inferred = infer_code(stats(), text, letters);
  if (!inferred) {
    std::string summary(CODE_PREFIX);
    append_shown(summary, code).append(ENTRY_OPEN);
    append_shown(summary, text).append(ENTRY_CLOSE).append(CODE_EXCLUDED);
    keep(std::move(summary), CODE_EXCLUDED_REASON, number);
    return false;
  }
  inferred->code.append(pinned_mark);
  std::string summary = code_change(code, inferred->code);
  summary.append(ENTRY_OPEN);
  append_shown(summary, text).append(ENTRY_CLOSE);
  change(std::move(summary), inferred->basis, number);
  code = store(std::move(inferred->code));
  return true;
}

void LineRepairer::repair(std::string_view line, std::uint64_t number) {
  // A: blank and comment lines pass as they are.
  const std::string_view trimmed = trim(line);
  if (is_comment_line(trimmed, format_)) {
    result_.text.append(line).push_back('\n');
    return;
  }

  // B: two pieces split by spaces become two tab-separated columns when one of them is clearly
  // the code and the other clearly a word.
  std::optional<EntryLine> entry = parse_entry_line(line, columns_);
  std::string rebuilt;
  if (!entry) {
    // Only a table of two columns can take a line of two pieces.
    const bool two_columns = columns_.text + columns_.code == 1;
    const std::vector<std::string_view> pieces =
        two_columns ? white_space_pieces(trimmed, 3) : std::vector<std::string_view>{};
    if (pieces.size() == 2 && all_code_characters(pieces[1]) && has_non_ascii(pieces[0])) {
      entry = EntryLine{pieces[0], pieces[1], {}};
    } else if (pieces.size() == 2 && all_code_characters(pieces[0]) && has_non_ascii(pieces[1])) {
      entry = EntryLine{pieces[1], pieces[0], {}};
    }
    if (!entry) {
      std::string summary(NOT_TWO_COLUMNS);
      summary.append(clip_line(line));
      keep(std::move(summary), NOT_TWO_COLUMNS_REASON, number);
      result_.text.append(line).push_back('\n');
      return;
    }
    if (columns_.code == 0) {
      rebuilt.append(entry->code).append("\t").append(entry->text);
    } else {
      rebuilt.append(entry->text).append("\t").append(entry->code);
    }
    line = rebuilt;
    std::string summary(SEPARATOR_CHANGED);
    summary.append(clip_line(rebuilt));
    change(std::move(summary), SEPARATOR_CHANGED_BASIS, number);
  }

  // C: a record missing either column means nothing.
  if (entry->text.empty() || entry->code.empty()) {
    change(std::string(EMPTY_COLUMN_DROPPED), EMPTY_COLUMN_DROPPED_BASIS, number);
    return;
  }

  // D to F: the code's characters.
  std::string_view code = entry->code;
  if (!mend_code(entry->text, code, number)) {
    return;
  }

  // G: exact duplicates; the next copy names this line, not the first one. A copy heavier than
  // every earlier one stays: the import merges it into the first and keeps its weight.
  const std::uint64_t weight = parse_unsigned(entry->weight).value_or(0);
  if (const auto earlier = latest_line_of_.exchange(entry->text, code, number, weight)) {
    if (weight > earlier->weight) {
      std::string summary(HEAVIER_DUPLICATE_OPEN);
      summary.append(std::to_string(earlier->line)).append(HEAVIER_DUPLICATE_MIDDLE);
      append_shown(summary, entry->text).append(HEAVIER_DUPLICATE_CLOSE);
      append_shown(summary, code).append(HEAVIER_DUPLICATE_TAIL);
      keep(std::move(summary), HEAVIER_DUPLICATE_REASON, number);
      emit_entry(line, entry->text, code);
      return;
    }
    std::string summary(DUPLICATE_OPEN);
    summary.append(std::to_string(earlier->line)).append(DUPLICATE_MIDDLE);
    append_shown(summary, entry->text).append(DUPLICATE_CLOSE);
    append_shown(summary, code);
    change(std::move(summary), DUPLICATE_BASIS, number);
    return;
  }
  emit_entry(line, entry->text, code);
}

}  // namespace

std::optional<EntryLine> parse_entry_line(std::string_view line, EntryColumns columns) {
  line = without_trailing_crs(line);
  std::optional<std::string_view> text;
  std::optional<std::string_view> code;
  std::string_view weight;
  const std::size_t last = std::max({columns.text, columns.code, columns.weight.value_or(0)});
  for (std::size_t index = 0, start = 0; index <= last; ++index) {
    const std::size_t end = line.find('\t', start);
    const std::string_view field =
        line.substr(start, end == std::string_view::npos ? end : end - start);
    const std::string_view piece = trim(field);
    // Independent tests: a header may name one column twice (weight first and no text column
    // puts both at 0), and the importer then reads it for both.
    if (index == columns.text) {
      text = entry_text(field, columns.format);
    }
    if (index == columns.code) {
      code = piece;
    }
    if (index == columns.weight) {
      weight = piece;
    }
    if (end == std::string_view::npos) {
      break;
    }
    start = end + 1;
  }
  if (!text || !code) {
    return std::nullopt;
  }
  return EntryLine{*text, *code, weight};
}

std::optional<EntryLine> parse_entry_line(std::string_view line, TableFormat format) {
  return parse_entry_line(line, entry_columns(format, {}));
}

std::string clip_line(std::string_view line) {
  const std::string_view trimmed = trim(line);
  const std::string_view head = first_chars(trimmed, CLIP_CHARACTERS);
  std::string clipped(head);
  if (head.size() < trimmed.size()) {
    clipped.append(CLIP_MARK);
  }
  return clipped;
}

RepairResult repair_text(std::string_view text, TableFormat format, std::string_view base_name) {
  RepairResult result;
  const std::vector<std::string_view> lines = split_lines(text);
  std::size_t header_lines = 0;
  std::uint64_t number_offset = 0;
  EntryColumns columns = entry_columns(format, lines);
  result.text.reserve(text.size() + text.size() / 16 + 64);

  if (format == TableFormat::Rime) {
    const RimeHeaderEnd header = find_rime_header_end(std::span(lines));
    if (header.found) {
      header_lines = header.line_count;
    } else {
      result.text.append(ADDED_RIME_HEADER_PREFIX)
          .append(base_name)
          .append(ADDED_RIME_HEADER_SUFFIX);
      // The rows are read the way the added header says, as a second repair would read them.
      columns = entry_columns(format, split_lines(result.text));
      number_offset = ADDED_RIME_HEADER_LINES;
      result.changes.push_back({std::string(HEADER_ADDED), std::string(HEADER_ADDED_BASIS), 0});
    }
  }
  for (std::size_t index = 0; index < header_lines; ++index) {
    result.text.append(lines[index]).push_back('\n');
  }

  const std::span<const std::string_view> body = std::span(lines).subspan(header_lines);
  LineRepairer repairer(format, columns, body, result, body.size());
  for (std::size_t index = header_lines; index < lines.size(); ++index) {
    repairer.repair(lines[index], index + 1 + number_offset);
  }
  if (result.text.empty()) {
    result.text.push_back('\n');
  }
  return result;
}

}  // namespace qovira
