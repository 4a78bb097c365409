// The line rules of the repair: header, column separators, empty columns, code characters and
// exact duplicates, each change recorded with its ground.
#include "qovira/app/repair/repair.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/table/safe_text.h"
#include "qovira/app/repair/text_mends.h"
#include "qovira/table/entry.h"
#include "qovira/table/text.h"

namespace qovira {
namespace {

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
constexpr std::string_view FULL_WIDTH_LETTERS_BASIS = "把全角字母换成半角；编码只认半角字母";
constexpr std::string_view PIN_MARK_SPACE_BASIS =
    "置顶标记 * 要紧跟在编码后面，中间的空白会让导入器认不出这个编码";
constexpr std::string_view COLUMNS_SWAPPED = "文字列与编码列对调：";
constexpr std::string_view COLUMNS_SWAPPED_BASIS =
    "编码列里是汉字、文字列里只有编码字母，两列写反了；导入器会把这一行当成坏行";
constexpr std::string_view FIRST_TAB_RESTORED = "词与编码之间的空格改成 Tab：";
constexpr std::string_view FIRST_TAB_RESTORED_BASIS =
    "文字列里是“词 编码”两段，编码列里是一个数：第一个 Tab 被写成了空格，权重落进了编码列";
constexpr std::string_view REFUSED_LINE_REMOVED = "导入器不收这一行：";
constexpr std::string_view SETTING_CHANGED = "设置 ";
constexpr std::string_view SETTING_REMOVED = "删掉设置行：";
constexpr std::string_view CODE_LENGTH_BASIS_HEAD =
    "CodeLength 必须是 1 到 16 的整数；码表里最长的编码是 ";
constexpr std::string_view CODE_LENGTH_BASIS_TAIL = " 码";
constexpr std::string_view CODE_LENGTH_REMOVED_REASON =
    "CodeLength 必须是 1 到 16 的整数，码表本身看不出该写几；去掉这一行，导入器就不检查码长";
constexpr std::string_view ALPHABET_BASIS =
    "CodeCharacters 要声明编码用到的每个字母，且只能是 a-z , . / ; 中不重复的至多 30 "
    "个；这里按码表实际用到的字母重写";
constexpr std::string_view ALPHABET_REMOVED_REASON =
    "CodeCharacters 无效，码表用到的字母也凑不成一个有效的字母表；去掉这一行，导入器就用默认的 a-z "
    "/";
constexpr std::string_view PHRASE_RULES_REMOVED_REASON =
    "PhraseRule 的造词规则合起来超过 32 个字符，写不进 "
    ".mb；删掉哪几条会改变造词，不替你挑，去掉这一行就用默认规则 p11+p21+p31+p32";
constexpr std::string_view TOO_MANY_UNSPLIT_REASON =
    "看不出哪段是词、哪段是编码；这样的行太多，留着它们导入器会拒收整份词典，所以移出";
constexpr std::string_view NAME_SHORTENED_BASIS =
    "名称太长，写不进 .mb 的码表说明；按能放下的长度截短";
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

// Whether the format's importer takes the code's characters: the Rime importer joins white space
// out of a code, so any white space is as good as the space there.
bool is_legal_code(std::string_view code, TableFormat format) {
  for (std::size_t pos = 0; pos < code.size();) {
    const char32_t c = next_char(code, pos);
    if (!is_format_code_character(format, c) &&
        !(format != TableFormat::Bingling && is_white_space(c))) {
      return false;
    }
  }
  return true;
}

bool all_code_characters(std::string_view code) {
  return std::ranges::all_of(
      code, [](char byte) { return is_code_character(static_cast<unsigned char>(byte)); });
}

// Plain loops over the bytes: a code can be a line of gigabytes, and these stay fast in an
// unoptimised build too.
bool has_non_ascii(std::string_view text) {
  for (const char byte : text) {
    if (static_cast<unsigned char>(byte) >= 0x80) {
      return true;
    }
  }
  return false;
}

bool may_hold_white_space(std::string_view text) {
  for (const char byte : text) {
    if (static_cast<unsigned char>(byte) <= 0x20 || static_cast<unsigned char>(byte) >= 0x80) {
      return true;
    }
  }
  return false;
}

bool has_capital(std::string_view text) {
  for (const char byte : text) {
    if (byte >= 'A' && byte <= 'Z') {
      return true;
    }
  }
  return false;
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

// The latest line of every (text, code) pair and the largest weight it was written with, in one
// flat open-addressing table: no allocation per entry, which matters for tables of millions of
// lines. A pair takes 24 bytes; the rare one whose sizes, distance or numbers do not fit is kept
// whole on the side.
class PairLines {
 public:
  // Sized for one pair per line at most three-quarters load. Only what is used is touched: the
  // slots come zeroed from the system and the pairs are reserved, so a file of repeats costs next
  // to nothing.
  explicit PairLines(std::size_t most_pairs) : most_pairs_(std::min(most_pairs, MOST_PAIRS)) {
    while (slot_count_ - slot_count_ / 4 < most_pairs_) {
      slot_count_ *= 2;
      ++slot_bits_;
    }
    slots_.reset(static_cast<std::uint64_t*>(std::calloc(slot_count_, sizeof(std::uint64_t))));
    if (!slots_) {
      throw std::bad_alloc();
    }
    pairs_.reserve(most_pairs_);
  }

  struct Seen {
    std::uint64_t line;
    std::uint64_t weight;
  };

  static std::uint64_t hash_of(std::string_view text, std::string_view code) {
    const std::uint64_t text_hash = std::hash<std::string_view>{}(text);
    const std::uint64_t hash =
        text_hash ^ (std::hash<std::string_view>{}(code) + 0x9E3779B97F4A7C15ULL +
                     (text_hash << 6) + (text_hash >> 2));
    // Spread the bits so that the tag and the bucket (high bits) vary.
    return hash * 0x9E3779B97F4A7C15ULL;
  }

  // Brings the first slot a pair of this hash looks at into the cache.
  void prefetch(std::uint64_t hash) const {
    __builtin_prefetch(&slots_[bucket_of(static_cast<std::uint32_t>(hash >> 32))]);
  }

  // Records `line` as the latest line of the pair, whose hash_of is `hash`; returns what was
  // recorded before, if anything.
  std::optional<Seen> exchange(std::uint64_t hash, std::string_view text, std::string_view code,
                               std::uint64_t line, std::uint64_t weight) {
    const std::uint32_t tag = static_cast<std::uint32_t>(hash >> 32);
    const std::size_t mask = slot_count_ - 1;
    for (std::size_t at = bucket_of(tag);; at = (at + 1) & mask) {
      const std::uint64_t slot = slots_[at];
      if (slot == 0) {
        if (pairs_.size() + wide_pairs_.size() >= most_pairs_) {
          return std::nullopt;  // beyond any table a .mb can hold: the import merges the rest
        }
        slots_[at] = slot_of(tag, add(text, code, {line, weight}));
        return std::nullopt;
      }
      if (static_cast<std::uint32_t>(slot >> 32) != tag) {
        continue;
      }
      const std::uint32_t index = static_cast<std::uint32_t>(slot);
      if ((index & WIDE) != 0) {
        WidePair& pair = wide_pairs_[index & ~WIDE];
        if (pair.text == text && pair.code == code) {
          const Seen before = pair.seen;
          pair.seen = {line, std::max(before.weight, weight)};
          return before;
        }
        continue;
      }
      Pair& pair = pairs_[index];
      if (pair.text() == text && pair.code() == code) {
        const Seen before{pair.line, pair.weight};
        const Seen after{line, std::max(before.weight, weight)};
        if (fits(after)) {
          pair.line = static_cast<std::uint32_t>(after.line);
          pair.weight = static_cast<std::uint32_t>(after.weight);
        } else {
          slots_[at] = slot_of(tag, add_wide(pair.text(), pair.code(), after));
        }
        return before;
      }
    }
  }

 private:
  // A slot holds the high half of the pair's hash above its index; 0 is free.
  static constexpr std::uint32_t WIDE = 0x8000'0000;  // the index is one of wide_pairs_
  static constexpr std::size_t MOST_PAIRS = 0x7FFF'FFFF;

  struct Pair {
    const char* text_data;
    std::int32_t code_offset;  // from text_data
    std::uint16_t text_size;
    std::uint16_t code_size;
    std::uint32_t line;
    std::uint32_t weight;

    std::string_view text() const { return {text_data, text_size}; }
    std::string_view code() const { return {text_data + code_offset, code_size}; }
  };
  static_assert(sizeof(Pair) == 24);

  struct WidePair {
    std::string_view text;
    std::string_view code;
    Seen seen;
  };

  static bool fits(const Seen& seen) {
    constexpr std::uint64_t LARGEST = std::numeric_limits<std::uint32_t>::max();
    return seen.line <= LARGEST && seen.weight <= LARGEST;
  }

  static std::uint64_t slot_of(std::uint32_t tag, std::uint32_t index) {
    return (std::uint64_t{tag} << 32) | index;
  }

  std::size_t bucket_of(std::uint32_t tag) const { return tag >> (32 - slot_bits_); }

  std::uint32_t add(std::string_view text, std::string_view code, const Seen& seen) {
    constexpr std::size_t LARGEST_SIZE = std::numeric_limits<std::uint16_t>::max();
    const std::ptrdiff_t code_offset = code.data() - text.data();
    const bool compact = text.size() <= LARGEST_SIZE && code.size() <= LARGEST_SIZE &&
                         code_offset >= std::numeric_limits<std::int32_t>::min() &&
                         code_offset <= std::numeric_limits<std::int32_t>::max() && fits(seen);
    if (!compact) {
      return add_wide(text, code, seen);
    }
    pairs_.push_back(
        {text.data(), static_cast<std::int32_t>(code_offset),
         static_cast<std::uint16_t>(text.size()), static_cast<std::uint16_t>(code.size()),
         static_cast<std::uint32_t>(seen.line), static_cast<std::uint32_t>(seen.weight)});
    return static_cast<std::uint32_t>(pairs_.size() - 1);
  }

  std::uint32_t add_wide(std::string_view text, std::string_view code, const Seen& seen) {
    wide_pairs_.push_back({text, code, seen});
    return static_cast<std::uint32_t>(wide_pairs_.size() - 1) | WIDE;
  }

  struct Free {
    void operator()(std::uint64_t* slots) const { std::free(slots); }
  };

  std::size_t most_pairs_;
  std::size_t slot_count_ = 16;
  unsigned slot_bits_ = 4;
  std::unique_ptr<std::uint64_t[], Free> slots_;
  std::vector<Pair> pairs_;
  std::vector<WidePair> wide_pairs_;
};

// The repaired text, held only from the first line that differs from the input: while a table
// needs no change, its lines are matched against the input instead of copied, so that it is not
// held twice beside the repeat check.
class RepairedText {
 public:
  RepairedText(std::string_view input, std::string& out)
      : input_(input), out_(out), same_(out.empty()) {}

  void append_line(std::string_view line) {
    if (same_ && follows(line)) {
      matched_ += line.size() + 1;
      return;
    }
    diverged().append(line).push_back('\n');
  }

  // Settles the text: as much of the input as the lines matched, when they all did.
  void finish() { diverged(); }

 private:
  bool follows(std::string_view line) const {
    const std::size_t end = matched_ + line.size();
    return end < input_.size() && input_[end] == '\n' &&
           (line.data() == input_.data() + matched_ ||
            input_.compare(matched_, line.size(), line) == 0);
  }

  std::string& diverged() {
    if (same_) {
      out_.assign(input_.substr(0, matched_));
      same_ = false;
    }
    return out_;
  }

  std::string_view input_;
  std::string& out_;
  bool same_;
  std::size_t matched_ = 0;
};

std::string& append_shown(std::string& out, std::string_view value) {
  return out.append(shown_value(value));
}

std::string code_change(std::string_view old_code, std::string_view new_code) {
  std::string summary(CODE_PREFIX);
  append_shown(summary, old_code).append(CODE_ARROW);
  append_shown(summary, new_code);
  return summary;
}

// The line's columns with the code column (and, when given, the text column) replaced; every
// other column stays exactly as it was.
void append_rebuilt(std::string& out, std::string_view row, const ColumnLayout& columns,
                    std::string_view code, std::optional<std::string_view> text) {
  for_each_column(row, [&](std::size_t index, std::string_view piece) {
    if (index > 0) {
      out.push_back('\t');
    }
    if (index == columns.code) {
      out.append(code);
    } else if (index == columns.text && text) {
      out.append(*text);
    } else {
      out.append(piece);
    }
    return true;
  });
}

// The code column a Rime line is written with: an unmended code keeps its column exactly, since a
// header may make that column the text too.
std::string_view rime_code_column(const TextLine& line, std::string_view code) {
  return code == trim(line.code) ? line.code : code;
}

// At most one entry per line: sizes the repeat check. Counted with the library's byte search, which
// is fast even in an unoptimised build over a line of gigabytes.
std::size_t line_count(std::string_view text) {
  std::size_t lines = 1;
  for (std::size_t at = text.find('\n'); at != std::string_view::npos;
       at = text.find('\n', at + 1)) {
    ++lines;
  }
  return lines;
}

class LineRepairer {
 public:
  // `taken_out`: lines to take out as they stand, in order of line, each with its item.
  LineRepairer(const TableText& table, RepairResult& result, RepairedText& output,
               std::span<const RepairItem> taken_out, bool take_out_unsplit)
      : table_(table),
        format_(table.format()),
        result_(result),
        taken_out_(taken_out),
        latest_line_of_(line_count(table.text())),
        output_(output),
        reader_(table),
        take_out_unsplit_(take_out_unsplit) {
    if (format_ == TableFormat::Bingling) {
      plan_settings();
    }
    const RimeHeader& header = table.rime_header();
    if (format_ == TableFormat::Rime && header.name &&
        utf16_length(*header.name) > rime_name_room(header.table_only_marker)) {
      rime_name_room_ = rime_name_room(header.table_only_marker);
    }
  }

  // Lines wait in a short queue while the repeat check's slot for each is fetched: that slot is
  // a cache miss for nearly every line of a big table.
  void take(const TextLine& line) {
    Queued& queued = queue_[taken_ % LOOKAHEAD];
    if (taken_ >= LOOKAHEAD) {
      repair_queued(queued);
    }
    queued = {line, {}, {}, 0};
    if (line.kind == LineKind::Entry) {
      queued.text = line.text;
      queued.code = format_ == TableFormat::Bingling ? line.code : trim(line.code);
      queued.hash = PairLines::hash_of(queued.text, queued.code);
      latest_line_of_.prefetch(queued.hash);
    }
    ++taken_;
  }
  // Whether the lines left in place for having no two columns are enough for the import of the
  // repaired dictionary to fail.
  bool left_lines_sink_the_import() const {
    return format_ == TableFormat::Rime && too_many_invalid_rows(entries_emitted_, unsplit_kept_);
  }

  // Repairs the lines still queued.
  void finish() {
    for (std::size_t index = taken_ > LOOKAHEAD ? taken_ - LOOKAHEAD : 0; index < taken_; ++index) {
      repair_queued(queue_[index % LOOKAHEAD]);
    }
  }

 private:
  static constexpr std::size_t LOOKAHEAD = 8;

  // A line and the pair its repeat check most likely looks up: its columns as they stand.
  struct Queued {
    TextLine line;
    std::string_view text;
    std::string_view code;
    std::uint64_t hash;
  };

  void repair_queued(const Queued& queued) {
    current_ = &queued;
    repair(queued.line);
    current_ = nullptr;
  }
  void repair(const TextLine& line);

  // Summaries and grounds quote the file's lines, words and codes: they are kept safe to show.
  void change(RepairRule rule, std::string_view summary, std::string_view basis,
              std::uint64_t number) {
    result_.changes.push_back({rule, displayable(summary), displayable(basis), number});
  }
  void keep(RepairRule rule, std::string_view summary, std::string_view reason,
            std::uint64_t number) {
    result_.kept.push_back({rule, displayable(summary), std::string(reason), number});
  }
  void take_out(RepairRule rule, std::string_view summary, std::string_view reason,
                std::uint64_t number) {
    result_.removed.push_back({rule, displayable(summary), std::string(reason), number});
  }
  void pass_unchanged(std::string_view raw) { output_.append_line(raw); }
  // A line of two pieces split by spaces becomes two tab-separated columns when one of them is
  // clearly the code and the other clearly a word; false when it is left as it is.
  bool split_at_spaces(const TextLine& line, std::uint64_t number, std::string& rebuilt);
  void repair_entry(const TextLine& line, std::uint64_t number);
  // A Rime line whose columns were swapped, or whose first tab became a space: the line as it
  // should have been written, or nothing.
  std::optional<std::string> mended_layout(const TextLine& line, std::uint64_t number);
  // Takes out an entry line the importer would refuse, or whose .mb record cannot be built.
  bool refused(const TextLine& line, std::string_view code, bool pinned, std::uint64_t number);
  // 冰凌 settings the import or the build refuses, mended from the table's own codes.
  void plan_settings();
  void mend_setting(std::string_view raw, std::uint64_t number);
  // A Rime header's `name:` too long for the .mb header, shortened; false for any other line.
  bool mend_rime_name(std::string_view raw, std::uint64_t number);
  // Full-width forms, capitals, a spaced pin mark and illegal letters; false when the entry is to
  // be left out.
  bool mend_code(std::string_view text, std::string_view& code, bool pinned, std::uint64_t number);
  void emit_entry(const TextLine& line, std::string_view code);
  std::string_view store(std::string code) { return owned_.emplace_back(std::move(code)); }

  // Most tables need no code inferred: the statistics are gathered on the first code that does.
  const CodeStats& stats() {
    if (!stats_) {
      stats_ = collect_code_stats(table_);
    }
    return *stats_;
  }

  std::array<Queued, LOOKAHEAD> queue_{};
  std::size_t taken_ = 0;
  const Queued* current_ = nullptr;
  const TableText& table_;
  TableFormat format_;
  RepairResult& result_;
  std::span<const RepairItem> taken_out_;
  std::optional<CodeStats> stats_;
  PairLines latest_line_of_;
  RepairedText& output_;
  std::string rebuilt_line_;  // reused for every entry line written
  // Owns the codes and lines the rules rewrote, so that duplicate keys can point at them.
  std::deque<std::string> owned_;
  EntryReader reader_;
  std::uint64_t longest_code_ = 0;
  std::optional<std::string> planned_alphabet_;
  // Rime: the room a name has, when the dictionary's name does not fit it.
  std::optional<std::size_t> rime_name_room_;
  // Lines of no two columns are taken out rather than left: left, so many would sink the import.
  bool take_out_unsplit_;
  bool dropped_ = false;  // the line at hand was taken out
  std::uint64_t unsplit_kept_ = 0;
  std::uint64_t entries_emitted_ = 0;
};

void LineRepairer::repair(const TextLine& line) {
  const std::uint64_t number = line.number;
  if (!taken_out_.empty() && taken_out_.front().line == number) {
    // Left blank by the whole-text mends: its place stays, so that the text reads the same again.
    result_.removed.push_back(taken_out_.front());
    taken_out_ = taken_out_.subspan(1);
    pass_unchanged(line.raw);
    return;
  }
  switch (line.kind) {
    case LineKind::Section:
      pass_unchanged(line.raw);
      return;
    case LineKind::Setting:
      mend_setting(line.raw, number);
      return;
    case LineKind::Header:
      if (rime_name_room_ && mend_rime_name(line.raw, number)) {
        return;
      }
      pass_unchanged(line.raw);
      return;
    case LineKind::Comment:
    case LineKind::Blank:
      pass_unchanged(line.raw);
      return;
    case LineKind::Malformed: {
      // Kept alive with the repairer: the repeat check holds views of the rebuilt line's text.
      std::string& rebuilt = owned_.emplace_back();
      if (!split_at_spaces(line, number, rebuilt)) {
        if (!dropped_) {
          pass_unchanged(line.raw);
        }
        dropped_ = false;
        return;
      }
      repair_entry(table_.read_body_line(rebuilt, line.number), number);
      return;
    }
    case LineKind::Entry:
      if (std::optional<std::string> mended = mended_layout(line, number)) {
        const std::string& rebuilt = owned_.emplace_back(std::move(*mended));
        repair_entry(table_.read_body_line(rebuilt, line.number), number);
        return;
      }
      repair_entry(line, number);
      return;
  }
}

std::optional<std::string> LineRepairer::mended_layout(const TextLine& line, std::uint64_t number) {
  const ColumnLayout& columns = table_.columns();
  if (format_ == TableFormat::Bingling || columns.text == columns.code) {
    return std::nullopt;
  }
  const std::string_view text = trim(line.text);
  const std::string_view code = trim(line.code);
  if (text.empty() || code.empty()) {
    return std::nullopt;
  }
  std::string rebuilt;
  std::string_view row = line.raw;
  while (!row.empty() && (row.back() == '\r' || row.back() == '\n')) {
    row.remove_suffix(1);
  }
  // Letters in either width or case, code punctuation and the spaces between syllables.
  const auto made_of_code_letters = [](std::string_view piece) {
    const std::string half = half_width_code(piece).value_or(std::string(piece));
    bool letter = false;
    for (std::size_t pos = 0; pos < half.size();) {
      const char32_t c = next_char(half, pos);
      const char32_t lower = c >= U'A' && c <= U'Z' ? c - U'A' + U'a' : c;
      letter = letter || (lower >= U'a' && lower <= U'z');
      if (!is_format_code_character(TableFormat::Rime, lower) && !is_white_space(c)) {
        return false;
      }
    }
    return letter;
  };
  // A code column holding a word: a character beyond ASCII that no full-width form accounts for,
  // or full-width punctuation without a letter (a symbol such as "、" is a word, not a code).
  const bool code_is_words = has_non_ascii(code) && [&code] {
    const std::string half = half_width_code(code).value_or(std::string(code));
    return has_non_ascii(half) || std::ranges::none_of(half, [](char c) {
             return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
           });
  }();
  if (code_is_words && made_of_code_letters(text)) {
    rebuilt.reserve(row.size());
    append_rebuilt(rebuilt, row, columns, line.text, line.code);
    change(RepairRule::ColumnsSwapped, std::string(COLUMNS_SWAPPED) + clip_line(rebuilt),
           COLUMNS_SWAPPED_BASIS, number);
    return rebuilt;
  }
  // "工作 aawt<TAB>80": a weighted row of two columns whose first holds the word and the code.
  const bool two_then_weight = columns.text + columns.code == 1 && columns.weight == 2;
  const std::size_t first = std::min(columns.text, columns.code);
  const std::string_view joined = first == columns.text ? line.text : line.code;
  const std::string_view number_column = first == columns.text ? code : text;
  if (!two_then_weight || !line.weight.empty() ||
      !std::ranges::all_of(number_column, [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const std::vector<std::string_view> pieces = white_space_pieces(trim(joined), 3);
  if (pieces.size() != 2) {
    return std::nullopt;
  }
  std::string_view word;
  std::string_view letters;
  if (has_non_ascii(pieces[0]) && made_of_code_letters(pieces[1])) {
    word = pieces[0];
    letters = pieces[1];
  } else if (has_non_ascii(pieces[1]) && made_of_code_letters(pieces[0])) {
    word = pieces[1];
    letters = pieces[0];
  } else {
    return std::nullopt;
  }
  rebuilt.append(first == columns.text ? word : letters).push_back('\t');
  rebuilt.append(first == columns.text ? letters : word).push_back('\t');
  rebuilt.append(number_column);
  change(RepairRule::FirstTabRestored, std::string(FIRST_TAB_RESTORED) + clip_line(rebuilt),
         FIRST_TAB_RESTORED_BASIS, number);
  return rebuilt;
}

bool LineRepairer::refused(const TextLine& line, std::string_view code, bool pinned,
                           std::uint64_t number) {
  TextLine probe = line;
  probe.kind = LineKind::Entry;
  probe.has_text = probe.has_code = true;
  probe.code = code.substr(0, code.size() - (pinned ? 1 : 0));
  probe.pinned = pinned;
  const EntryRefusal refusal = reader_.read(probe).refusal;
  if (refusal == EntryRefusal::None || refusal == EntryRefusal::Ignored ||
      (importer_takes(format_, refusal) && !refusal_blocks_import(format_, refusal))) {
    return false;
  }
  take_out(RepairRule::RefusedLine, std::string(REFUSED_LINE_REMOVED) + clip_line(line.raw),
           refusal_reason(format_, refusal), number);
  return true;
}

void LineRepairer::plan_settings() {
  const BinglingSettings& settings = table_.bingling_settings();
  const auto declared = settings.find("codecharacters");
  const bool alphabet_given = declared != settings.end();
  const bool alphabet_valid =
      !alphabet_given || read_setting("codecharacters", declared->second) == SettingRefusal::None;
  const auto code_length = settings.find("codelength");
  const bool length_valid = code_length == settings.end() ||
                            read_setting("codelength", code_length->second) == SettingRefusal::None;
  if (!alphabet_given && length_valid) {
    return;  // the default alphabet is checked line by line, and nothing needs the codes
  }
  // What the codes the import takes are made of.
  std::array<bool, 128> used{};
  EntryReader reader(table_);
  reader.declare_alphabet(std::string(BINGLING_DEFAULT_ALPHABET));
  table_.for_each_line([&](const TextLine& line) {
    if (line.kind != LineKind::Entry) {
      return;
    }
    const EntryReading entry = reader.read(line);
    if (entry.refusal != EntryRefusal::None && entry.refusal != EntryRefusal::TextTooLong) {
      return;
    }
    longest_code_ = std::max<std::uint64_t>(longest_code_, entry.code.size());
    for (const char c : entry.code) {
      used[static_cast<unsigned char>(c)] = true;
    }
  });
  if (!alphabet_given) {
    return;
  }
  std::string alphabet;
  if (alphabet_valid) {
    alphabet = declared->second;
  }
  for (const char c : BINGLING_DEFAULT_ALPHABET) {
    if (used[static_cast<unsigned char>(c)] && alphabet.find(c) == std::string::npos) {
      alphabet.push_back(c);
    }
  }
  if (alphabet != declared->second && validate_alphabet(alphabet)) {
    reader_.declare_alphabet(alphabet);
    planned_alphabet_ = std::move(alphabet);
  }
}

bool LineRepairer::mend_rime_name(std::string_view raw, std::uint64_t number) {
  const std::string_view content = trim(raw.substr(0, raw.find('#')));
  const std::size_t colon = content.find(':');
  if (colon == std::string_view::npos || trim(content.substr(0, colon)) != "name") {
    return false;
  }
  const std::string_view name = rime_name_value(trim(content.substr(colon + 1)));
  if (utf16_length(name) <= *rime_name_room_) {
    return false;
  }
  // The name is written bare: a cut may have left a quote mark of its own, and none of it can
  // begin a comment or end the line.
  std::string line(raw.substr(0, static_cast<std::size_t>(content.data() - raw.data())));
  line.append("name: ").append(cut_to_utf16_units(name, *rime_name_room_));
  std::string summary(SETTING_CHANGED);
  summary.append(clip_line(content)).append(CODE_ARROW).append(clip_line(line));
  change(RepairRule::SettingMended, summary, NAME_SHORTENED_BASIS, number);
  output_.append_line(line);
  return true;
}

void LineRepairer::mend_setting(std::string_view raw, std::uint64_t number) {
  const std::string_view trimmed = trim(raw);
  const std::size_t equals = trimmed.find('=');
  if (equals == std::string_view::npos) {
    pass_unchanged(raw);
    return;
  }
  const std::string_view written_key = trim(trimmed.substr(0, equals));
  const std::string key = ascii_lower(written_key);
  const std::string_view value = trim(trimmed.substr(equals + 1));
  const SettingRefusal refusal = read_setting(key, value);
  std::optional<std::string> mended;
  std::string basis;
  if (key == "codecharacters" && planned_alphabet_ && value != *planned_alphabet_) {
    mended = *planned_alphabet_;
    basis = ALPHABET_BASIS;
  } else if (refusal == SettingRefusal::CodeLengthNotInteger ||
             refusal == SettingRefusal::CodeLengthOutOfRange) {
    if (longest_code_ >= 1 && longest_code_ <= BINGLING_MAX_CODE_LENGTH) {
      mended = std::to_string(longest_code_);
      basis = std::string(CODE_LENGTH_BASIS_HEAD) + *mended + std::string(CODE_LENGTH_BASIS_TAIL);
    } else {
      take_out(RepairRule::SettingRemoved, std::string(SETTING_REMOVED) + clip_line(raw),
               CODE_LENGTH_REMOVED_REASON, number);
      return;
    }
  } else if (refusal == SettingRefusal::BadAlphabet) {
    take_out(RepairRule::SettingRemoved, std::string(SETTING_REMOVED) + clip_line(raw),
             ALPHABET_REMOVED_REASON, number);
    return;
  } else if (refusal == SettingRefusal::PhraseRulesTooLong) {
    take_out(RepairRule::SettingRemoved, std::string(SETTING_REMOVED) + clip_line(raw),
             PHRASE_RULES_REMOVED_REASON, number);
    return;
  } else if (refusal == SettingRefusal::NameTooLong) {
    mended = cut_to_utf16_units(value, bingling_name_room());
    basis = NAME_SHORTENED_BASIS;
  }
  if (!mended) {
    pass_unchanged(raw);
    return;
  }
  std::string line(written_key);
  line.push_back('=');
  line.append(*mended);
  std::string summary(SETTING_CHANGED);
  summary.append(clip_line(trimmed)).append(CODE_ARROW).append(clip_line(line));
  change(RepairRule::SettingMended, summary, basis, number);
  output_.append_line(line);
}

bool LineRepairer::split_at_spaces(const TextLine& line, std::uint64_t number,
                                   std::string& rebuilt) {
  const ColumnLayout& columns = table_.columns();
  // Only a table of two columns can take a line of two pieces.
  const bool two_columns = columns.text + columns.code == 1;
  const std::string_view trimmed = trim(line.raw);
  const std::vector<std::string_view> pieces =
      two_columns ? white_space_pieces(trimmed, 3) : std::vector<std::string_view>{};
  // A 冰凌 importer stops at the first code outside a-z and "/": a split must not make one.
  const auto clearly_code = [this](std::string_view piece) {
    return format_ == TableFormat::Bingling
               ? std::ranges::all_of(piece,
                                     [](char c) { return (c >= 'a' && c <= 'z') || c == '/'; })
               : all_code_characters(piece);
  };
  std::optional<std::pair<std::string_view, std::string_view>> text_and_code;
  if (pieces.size() == 2 && clearly_code(pieces[1]) && has_non_ascii(pieces[0])) {
    text_and_code.emplace(pieces[0], pieces[1]);
  } else if (pieces.size() == 2 && clearly_code(pieces[0]) && has_non_ascii(pieces[1])) {
    text_and_code.emplace(pieces[1], pieces[0]);
  }
  if (!text_and_code) {
    std::string summary(NOT_TWO_COLUMNS);
    summary.append(clip_line(line.raw));
    if (take_out_unsplit_) {
      take_out(RepairRule::NotTwoColumns, std::move(summary), TOO_MANY_UNSPLIT_REASON, number);
      dropped_ = true;
    } else {
      keep(RepairRule::NotTwoColumns, std::move(summary), NOT_TWO_COLUMNS_REASON, number);
      ++unsplit_kept_;
    }
    return false;
  }
  const auto [text, code] = *text_and_code;
  if (columns.code == 0) {
    rebuilt.append(code).append("\t").append(text);
  } else {
    rebuilt.append(text).append("\t").append(code);
  }
  std::string summary(SEPARATOR_CHANGED);
  summary.append(clip_line(rebuilt));
  change(RepairRule::ColumnsSplit, std::move(summary), SEPARATOR_CHANGED_BASIS, number);
  return true;
}

bool LineRepairer::mend_code(std::string_view text, std::string_view& code, bool pinned,
                             std::uint64_t number) {
  if (has_non_ascii(code)) {
    if (std::optional<std::string> half_width = half_width_code(code)) {
      change(RepairRule::FullWidth, code_change(code, *half_width),
             has_full_width_letter(code) ? FULL_WIDTH_LETTERS_BASIS : FULL_WIDTH_BASIS, number);
      code = store(std::move(*half_width));
    }
  }
  if (has_capital(code)) {
    std::string lower = ascii_lower(code);
    change(RepairRule::Capitals, code_change(code, lower), CAPITALS_BASIS, number);
    code = store(std::move(lower));
  }
  // "aaaa *": the pin mark belongs right after the code.
  if (pinned && format_ == TableFormat::Bingling) {
    const std::string_view letters = trim_end(code.substr(0, code.size() - 1));
    if (letters.size() + 1 < code.size() && !letters.empty()) {
      std::string joined(letters);
      joined.push_back('*');
      change(RepairRule::PinMarkSpace, code_change(code, joined), PIN_MARK_SPACE_BASIS, number);
      code = store(std::move(joined));
    }
  }
  // The pin mark stays what it is: neither rule above touches a "*".
  const std::string_view letters = code.substr(0, code.size() - (pinned ? 1 : 0));
  if (is_legal_code(letters, format_)) {
    return true;
  }
  std::optional<InferredCode> inferred = infer_code(stats(), text, letters, format_);
  if (!inferred) {
    std::string summary(CODE_PREFIX);
    append_shown(summary, code).append(ENTRY_OPEN);
    append_shown(summary, text).append(ENTRY_CLOSE).append(CODE_EXCLUDED);
    take_out(RepairRule::CodeNotInferred, std::move(summary), CODE_EXCLUDED_REASON, number);
    return false;
  }
  if (pinned) {
    inferred->code.push_back('*');
  }
  std::string summary = code_change(code, inferred->code);
  summary.append(ENTRY_OPEN);
  append_shown(summary, text).append(ENTRY_CLOSE);
  change(RepairRule::CodeInferred, std::move(summary), inferred->basis, number);
  code = store(std::move(inferred->code));
  return true;
}

void LineRepairer::repair_entry(const TextLine& line, std::uint64_t number) {
  // A 冰凌 code is handled as written, pin mark and all; a code that is nothing but the mark has
  // no letters to pin, so there the mark is its code.
  const bool pinned = line.pinned && !line.code.empty();
  std::string_view code =
      format_ == TableFormat::Bingling ? code_as_written(line) : trim(line.code);

  // A record missing either column means nothing.
  if (line.text.empty() || code.empty()) {
    change(RepairRule::EmptyColumn, std::string(EMPTY_COLUMN_DROPPED), EMPTY_COLUMN_DROPPED_BASIS,
           number);
    return;
  }
  if (!mend_code(trim(line.text), code, pinned, number) || refused(line, code, pinned, number)) {
    return;
  }

  // Exact duplicates, keyed as the importer merges them (a 冰凌 pin mark aside); the next copy
  // names this line, not the first one. A copy heavier than every earlier one stays: the import
  // merges it into the first and keeps its weight.
  std::string_view merged_code = code.substr(0, code.size() - (pinned ? 1 : 0));
  if (format_ != TableFormat::Bingling && may_hold_white_space(merged_code)) {
    merged_code = store(join_code(merged_code));  // the Rime importer keys the joined code
  }
  const std::uint64_t weight =
      table_.weighted() ? parse_unsigned(trim(line.weight)).value_or(0) : 0;
  // Where the code column is the text column too, the entry's word is the column as written out.
  const std::string_view text =
      format_ != TableFormat::Bingling && table_.columns().text == table_.columns().code
          ? rime_code_column(line, code)
          : line.text;
  const bool as_queued = current_ != nullptr && text.data() == current_->text.data() &&
                         text.size() == current_->text.size() &&
                         merged_code.data() == current_->code.data() &&
                         merged_code.size() == current_->code.size();
  const std::uint64_t hash = as_queued ? current_->hash : PairLines::hash_of(text, merged_code);
  if (const auto earlier = latest_line_of_.exchange(hash, text, merged_code, number, weight)) {
    if (weight > earlier->weight) {
      std::string tail(HEAVIER_DUPLICATE_MIDDLE);
      append_shown(tail, line.text).append(HEAVIER_DUPLICATE_CLOSE);
      append_shown(tail, code).append(HEAVIER_DUPLICATE_TAIL);
      result_.kept.push_naming(RepairRule::HeavierDuplicateKept, number, HEAVIER_DUPLICATE_OPEN,
                               earlier->line, displayable(tail), HEAVIER_DUPLICATE_REASON);
      emit_entry(line, code);
      return;
    }
    std::string tail(DUPLICATE_MIDDLE);
    append_shown(tail, line.text).append(DUPLICATE_CLOSE);
    append_shown(tail, code);
    result_.changes.push_naming(RepairRule::Duplicate, number, DUPLICATE_OPEN, earlier->line,
                                displayable(tail), DUPLICATE_BASIS);
    return;
  }
  emit_entry(line, code);
}

// The entry line with its code mended. A 冰凌 line is cut from its trimmed form, as its importer
// cuts it; a Rime text stays exactly as the importer reads it.
void LineRepairer::emit_entry(const TextLine& line, std::string_view code) {
  ++entries_emitted_;
  std::string& out = rebuilt_line_;
  out.clear();
  if (format_ == TableFormat::Bingling) {
    // Sized at once: a line may run to gigabytes, and doubling would hold it twice over.
    out.reserve(line.raw.size() + code.size());
    append_rebuilt(out, trim(line.raw), table_.columns(), code, line.text);
    output_.append_line(out);
    return;
  }
  std::string_view row = line.raw;
  while (!row.empty() && (row.back() == '\r' || row.back() == '\n')) {
    row.remove_suffix(1);
  }
  if (code == trim(line.code)) {
    output_.append_line(row);  // an unmended code keeps its column: the line is unchanged
    return;
  }
  out.reserve(row.size() + code.size());
  append_rebuilt(out, row, table_.columns(), code, std::nullopt);
  output_.append_line(out);
}

}  // namespace

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
  return repair_mended_text(mend_text(text, format, base_name));
}

RepairResult repair_mended_text(const MendedText& mended) {
  RepairResult result;
  result.changes = mended.changes;
  result.kept = mended.kept;
  const std::string_view text = mended.text();
  result.text.reserve(text.size() + text.size() / 16 + 64);
  if (mended.format == TableFormat::Unknown) {
    // Neither a format nor a column order could be read from the text: no line rule can judge its
    // lines, and they are left as they stand (damaged ones already blank).
    std::span<const RepairItem> taken_out = mended.taken_out;
    std::uint64_t number = 0;
    for_each_line(text, [&](std::string_view line) {
      if (!taken_out.empty() && taken_out.front().line == ++number) {
        result.removed.push_back(taken_out.front());
        taken_out = taken_out.subspan(1);
      }
      result.text.append(line).push_back('\n');
    });
  } else {
    const TableText table = TableText::read(text, mended.format);
    // Lines of no two columns are left for a person, unless so many are left that the importer
    // would refuse the whole dictionary for them: then the repair runs again taking them out.
    for (const bool take_out_unsplit : {false, true}) {
      RepairedText output(table.text(), result.text);
      bool sunk = false;
      {
        LineRepairer repairer(table, result, output, mended.taken_out, take_out_unsplit);
        table.for_each_line([&repairer](const TextLine& line) { repairer.take(line); });
        repairer.finish();
        sunk = repairer.left_lines_sink_the_import();
      }
      output.finish();  // the repeat check is gone: an unchanged text is copied only now
      if (!sunk) {
        break;
      }
      result = RepairResult{};
      result.changes = mended.changes;
      result.kept = mended.kept;
    }
  }
  if (result.text.empty()) {
    result.text.push_back('\n');
  }
  return result;
}

}  // namespace qovira
