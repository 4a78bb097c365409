// The issue catalogue, the body line scan and the order of issues.
#include "qovira/app/diagnosis/issues.h"

#include "qovira/table/safe_text.h"

#include <algorithm>
#include <array>
#include <deque>
#include <functional>
#include <initializer_list>
#include <limits>
#include <numeric>
#include <optional>
#include <span>
#include <utility>

#include "qovira/table/entry.h"
#include "qovira/table/text.h"

namespace qovira {

namespace {

constexpr std::string_view FATAL_LABEL = "[致命]";
constexpr std::string_view WARNING_LABEL = "[警告]";
constexpr std::string_view INFO_LABEL = "[提示]";

// Messages: every "{}" is filled in order.
constexpr std::string_view UNREADABLE_TEXT = "文件读不出文本：{}";
constexpr std::string_view MISSING_RIME_HEADER =
    "缺少 Rime 头部：正文前必须有独占一行的 `---` 与 `...`";
constexpr std::string_view IMPORT_FAILED = "导入失败：{}";
constexpr std::string_view MARK_BEFORE_HEADER =
    "第一行的 {} 前面有 UTF-8 的 BOM（EF BB BF），输入法因此认不出这一行，也就认不出整份码表";
constexpr std::string_view IMPORTER_SKIPPED = "导入器跳过：编码 {} —— {}";
constexpr std::string_view IMPORTER_SKIPPED_SUMMARY = "导入器共跳过 {} 条，上面只列出前 {} 条样本";
constexpr std::string_view MISSING_COLUMNS = "这一行没有制表符分隔的两列：{}";
constexpr std::string_view EMPTY_CODE_OR_TEXT = "空的编码或空的词条";
constexpr std::string_view BAD_CODE_CHARACTERS = "编码 {}（词条「{}」）含不能作码元的字符：{}";
constexpr std::string_view DUPLICATE_LINE = "与第 {} 行完全重复：「{}」{}";
constexpr std::string_view MB_BUILD_FAILED = "生成 .mb 失败：{}";
constexpr std::string_view MB_UNREADABLE = "生成的 .mb 读不回来：{}";
constexpr std::string_view MB_MISMATCH = "生成的 .mb 回读后与导入结果不一致：{}";

constexpr std::string_view UNREADABLE_TEXT_ADVICE =
    "确认文件是 UTF-8 或带 BOM 的 UTF-16，没有被压缩或损坏";
constexpr std::string_view LEGACY_TEXT_ADVICE =
    "这份文件看起来是 GBK/GB18030 编码，输入法只认 UTF-8 或带 BOM 的 UTF-16：用自动修复转成 UTF-8";
constexpr std::string_view DAMAGED_UTF8_ADVICE =
    "这份文件是 "
    "UTF-"
    "8，只是个别字节坏了（多半是被截断或混进了别的编码）：用自动修复把含坏字节的行移出并列出来，其"
    "余照常导入";
constexpr std::string_view MARK_BEFORE_HEADER_ADVICE =
    "把文件另存为不带 BOM 的 UTF-8；工具的自动修复能替你删掉它";
constexpr std::string_view MISSING_RIME_HEADER_ADVICE =
    "在文件开头补上 `---`、`name:`、`...` 三行；工具的自动修复能替你补";
constexpr std::string_view MISSING_COLUMNS_ADVICE = "词与编码之间要用一个 Tab 分隔，不是空格";
constexpr std::string_view EMPTY_CODE_OR_TEXT_ADVICE = "删掉这一行";
constexpr std::string_view CAPITAL_LETTER_ADVICE = "编码只认小写字母，把大写改成小写";
constexpr std::string_view FULL_WIDTH_PUNCTUATION_ADVICE = "把全角标点换成半角 , . ; /";
constexpr std::string_view STRAY_CHARACTER_ADVICE =
    "编码里混进了不能作码元的字符，多半是打字时手滑";
constexpr std::string_view DUPLICATE_LINE_ADVICE = "重复的会被自动去掉，不影响使用";
constexpr std::string_view CORE_FAULT_ADVICE =
    "这是核心的问题，不是码表的问题，请把这份报告发给开发";

constexpr std::string_view FULL_WIDTH_PUNCTUATION[] = {"，", "。", "；", "／"};

constexpr std::size_t PREVIEW_CHARS = 30;
constexpr std::string_view PREVIEW_ELLIPSIS = "…";

Issue make_issue(IssueKind kind, std::string message, std::string_view advice, std::uint64_t line,
                 Severity severity) {
  // Messages carry words, codes and lines of the file: shown safely wherever they go.
  return Issue{kind, displayable(message), advice, line, severity};
}

std::string_view bad_code_advice(std::string_view code, std::string_view offending) {
  if (std::ranges::any_of(code, [](char c) { return c >= 'A' && c <= 'Z'; })) {
    return CAPITAL_LETTER_ADVICE;
  }
  // `offending` is made of whole characters, so a byte search finds only whole matches.
  for (std::string_view mark : FULL_WIDTH_PUNCTUATION) {
    if (offending.find(mark) != std::string_view::npos) {
      return FULL_WIDTH_PUNCTUATION_ADVICE;
    }
  }
  return STRAY_CHARACTER_ADVICE;
}

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

// Quoted like quote_code, cut like shown_value (the mark stands after the closing quote).
std::string shown_quoted(std::string_view code) {
  const std::string_view head = first_chars(code, MAX_SHOWN_CHARS);
  std::string out = quote_code(head);
  if (head.size() < code.size()) {
    out.append(PREVIEW_ELLIPSIS);
  }
  return out;
}

std::string preview_of(std::string_view trimmed_line) {
  if (count_chars(trimmed_line) <= PREVIEW_CHARS) {
    return std::string(trimmed_line);
  }
  std::string preview(first_chars(trimmed_line, PREVIEW_CHARS));
  preview.append(PREVIEW_ELLIPSIS);
  return preview;
}

// The trimmed code and text columns of a body line that has them, as the scan sees them.
struct BodyEntry {
  std::string_view code;
  std::string_view text;
};

// The code an entry is merged under: the Rime importer joins white space out of it.
std::string_view merge_code(const TextLine& line, TableFormat format, std::string& storage) {
  const bool plain = std::ranges::all_of(line.code, [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte < 0x80;
  });
  if (plain || format == TableFormat::Bingling) {
    return line.code;
  }
  storage = join_code(line.code);
  return storage;
}

// Finds lines whose (text, code) pair stood on an earlier line. A small table of recently seen
// pairs catches most repeats as they come, so that a table of one line repeated millions of times
// keeps almost nothing. Every other line leaves its pair's 30-bit hash and its line number, in one
// of 16 lists by the hash's top bits and packed in 32 bits; sorting the lists one at a time finds
// the hashes lines share, and only lines that share a hash are cut and read again, so nothing else
// of a line is kept.
class DuplicateCheck {
 public:
  explicit DuplicateCheck(std::size_t most_lines) : recent_(RECENT_SLOTS) {
    // Room for an even share of the lines and some more; the lists grow beyond it if they must.
    for (Group& group : groups_) {
      group.packed.reserve(most_lines / GROUPS + most_lines / (GROUPS * 4) + 16);
    }
  }

  // Entries are added in line order; `raw` is the line as cut.
  void add(const BodyEntry& entry, std::uint64_t line_number, std::string_view raw) {
    // Lines are numbered in 32 bits here; a .mb holds fewer rows than that anyway.
    if (line_number > std::numeric_limits<std::uint32_t>::max()) {
      return;
    }
    const std::uint32_t hash = hash_of(entry);
    const auto number = static_cast<std::uint32_t>(line_number);
    Recent& recent = recent_[hash & (RECENT_SLOTS - 1)];
    if (recent.used && recent.hash == hash && recent.text == entry.text &&
        recent.code == entry.code) {
      add_repeat({number, std::exchange(recent.line, number), raw});
      recent.kept = false;
      return;
    }
    // A repeat caught here left no key; the last one leaves its line behind when its pair leaves
    // the table, as the earlier line of the pair's next repeat.
    if (recent.used && !recent.kept) {
      groups_[group_of(recent.hash)].counted.push_back(key_of(recent.hash, recent.line, true));
    }
    groups_[group_of(hash)].add(hash, number);
    recent.used = true;
    recent.kept = true;
    recent.hash = hash;
    recent.line = number;
    recent.code.assign(entry.code);
    recent.text = entry.text;
  }

  // Appends one DuplicateLine per repeat, in line order, naming the previous line of its pair.
  // `entry_of(raw, number, storage)` reads the entry of a line of `text` as it was added.
  template <typename EntryOf>
  void raise(IssueList& issues, std::string_view text, EntryOf&& entry_of) {
    recent_ = {};
    keys_ = shared_keys();
    std::vector<std::uint32_t> shared;  // the numbers of lines that share their hash, ascending
    for_each_shared_hash(keys_, [&](std::size_t start, std::size_t end) {
      // Lines left behind by the recent table came late: each run goes back to line order.
      std::sort(keys_.begin() + static_cast<std::ptrdiff_t>(start),
                keys_.begin() + static_cast<std::ptrdiff_t>(end),
                [](std::uint64_t a, std::uint64_t b) { return number_part(a) < number_part(b); });
      for (std::size_t k = start; k < end; ++k) {
        shared.push_back(number_part(keys_[k]));
      }
    });
    std::ranges::sort(shared);
    const std::vector<std::string_view> shared_lines = cut_lines(text, shared);
    const auto line_of = [&](std::uint32_t number) {
      return shared_lines[static_cast<std::size_t>(std::ranges::lower_bound(shared, number) -
                                                   shared.begin())];
    };

    std::vector<std::pair<BodyEntry, std::uint32_t>> latest;  // per distinct pair of one hash
    std::deque<std::string> joined_codes;  // owns the joined codes `latest` points at
    std::string joined;
    for_each_shared_hash(keys_, [&](std::size_t start, std::size_t end) {
      latest.clear();
      joined_codes.clear();
      for (std::size_t k = start; k < end; ++k) {
        const std::uint32_t number = number_part(keys_[k]);
        const std::string_view raw = line_of(number);
        BodyEntry entry = entry_of(raw, number, joined);
        if (!joined.empty()) {
          entry.code = joined_codes.emplace_back(std::move(joined));
          joined.clear();
        }
        auto same = std::ranges::find_if(latest, [&](const auto& other) {
          return other.first.text == entry.text && other.first.code == entry.code;
        });
        if (same == latest.end()) {
          latest.emplace_back(entry, number);
        } else if (is_counted(keys_[k])) {
          same->second = number;
        } else {
          add_repeat({number, std::exchange(same->second, number), raw});
        }
      }
    });
    keys_ = {};
    std::ranges::sort_heap(first_repeats_, {}, &Repeat::line);
    std::string storage;
    for (const Repeat& repeat : first_repeats_) {
      const BodyEntry entry = entry_of(repeat.raw, repeat.line, storage);
      issues.add(duplicate_line(repeat.line, repeat.earlier, entry.text, entry.code));
    }
    issues.fold(IssueKind::DuplicateLine, Severity::Info, DUPLICATE_LINE_ADVICE,
                repeat_count_ - first_repeats_.size());
  }

 private:
  // Below the top byte the hash has 23 bits, sorted in two digits.
  static constexpr std::size_t DIGIT_BITS = 12;
  static constexpr std::uint64_t DIGIT_MASK = (std::uint64_t{1} << DIGIT_BITS) - 1;
  static constexpr std::size_t HASH_SHIFT = 33;
  static constexpr std::uint64_t COUNTED_BIT = std::uint64_t{1} << 32;
  static constexpr std::size_t RECENT_SLOTS = 4096;
  static constexpr std::size_t TOP_SHIFT = 56;  // of a key: the hash's top byte
  static constexpr std::size_t BUCKETS = 256;
  static constexpr std::size_t GROUPS = 16;
  static constexpr std::size_t LOW_HASH_BITS = 26;  // of a hash, below its group
  static constexpr std::uint32_t LOW_HASH_MASK = (std::uint32_t{1} << LOW_HASH_BITS) - 1;
  static constexpr std::size_t STEP_BITS = 6;  // of a packed line, beside the low hash bits
  static constexpr std::uint32_t FAR_STEP = (std::uint32_t{1} << STEP_BITS) - 1;

  // The lines whose hashes share their top bits, in line order. Each is packed as the low bits of
  // its hash and the step from the line before; a step too long for its bits goes first as
  // entries marked FAR_STEP that carry the step in place of the hash.
  struct Group {
    std::vector<std::uint32_t> packed;
    std::uint32_t last_line = 0;
    std::vector<std::uint64_t> counted;  // keys of the lines left behind by the recent table

    void add(std::uint32_t hash, std::uint32_t number) {
      std::uint32_t step = number - last_line;
      while (step >= FAR_STEP) {
        const std::uint32_t far = std::min(step, LOW_HASH_MASK);
        packed.push_back(far << STEP_BITS | FAR_STEP);
        step -= far;
      }
      packed.push_back((hash & LOW_HASH_MASK) << STEP_BITS | step);
      last_line = number;
    }
  };

  struct Recent {
    bool used = false;
    bool kept = false;  // whether `line` left a key
    std::uint32_t hash = 0;
    std::uint32_t line = 0;
    std::string code;
    std::string_view text;
  };

  struct Repeat {
    std::uint32_t line;
    std::uint32_t earlier;
    std::string_view raw;
  };

  // The first repeats by line are kept, a heap with the last of them on top: a list only shows
  // that many, whatever the number of repeats.
  void add_repeat(const Repeat& repeat) {
    ++repeat_count_;
    if (first_repeats_.size() < IssueList::SHOWN_PER_KIND) {
      first_repeats_.push_back(repeat);
      std::ranges::push_heap(first_repeats_, {}, &Repeat::line);
    } else if (repeat.line < first_repeats_.front().line) {
      std::ranges::pop_heap(first_repeats_, {}, &Repeat::line);
      first_repeats_.back() = repeat;
      std::ranges::push_heap(first_repeats_, {}, &Repeat::line);
    }
  }

  // A line already counted as a repeat, left only as the earlier line of the next one.
  static std::uint64_t key_of(std::uint32_t hash, std::uint32_t number, bool counted) {
    return std::uint64_t{hash} << HASH_SHIFT | (counted ? COUNTED_BIT : 0) | number;
  }
  static bool is_counted(std::uint64_t key) { return (key & COUNTED_BIT) != 0; }
  static std::uint32_t hash_part(std::uint64_t key) {
    return static_cast<std::uint32_t>(key >> HASH_SHIFT);
  }
  static std::uint32_t number_part(std::uint64_t key) { return static_cast<std::uint32_t>(key); }

  // Calls `visit(start, end)` for every run of sorted keys that share their hash with another.
  template <typename Visit>
  static void for_each_shared_hash(const std::vector<std::uint64_t>& keys, Visit&& visit) {
    for (std::size_t start = 0, end = 0; start < keys.size(); start = end) {
      end = start + 1;
      while (end < keys.size() && hash_part(keys[end]) == hash_part(keys[start])) {
        ++end;
      }
      if (end - start > 1) {
        visit(start, end);
      }
    }
  }

  // The lines of `text` with the given ascending numbers, cut as the model cuts them.
  static std::vector<std::string_view> cut_lines(std::string_view text,
                                                 const std::vector<std::uint32_t>& numbers) {
    std::vector<std::string_view> lines;
    lines.reserve(numbers.size());
    LineCursor cutter(text);
    std::string_view raw;
    std::uint32_t number = 0;  // kept as the keys keep it
    while (lines.size() < numbers.size() && cutter.next(raw)) {
      if (++number == numbers[lines.size()]) {
        lines.push_back(raw);
      }
    }
    return lines;
  }

  // 30 bits.
  static std::uint32_t hash_of(const BodyEntry& entry) {
    const std::size_t seed = std::hash<std::string_view>{}(entry.text);
    const std::size_t hash = seed ^ (std::hash<std::string_view>{}(entry.code) +
                                     0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
    return static_cast<std::uint32_t>(hash ^ (hash >> 32)) >> 2;
  }

  static std::size_t bucket_of(std::uint64_t key) {
    return static_cast<std::size_t>(key >> TOP_SHIFT);
  }
  static std::size_t group_of(std::uint32_t hash) { return hash >> LOW_HASH_BITS; }

  // The keys of the lines whose hash another line shares, sorted by hash. Each group is unpacked
  // and sorted on its own and freed, so that no key of every line is ever held.
  std::vector<std::uint64_t> shared_keys() {
    std::vector<std::uint64_t> shared;
    std::vector<std::uint64_t> keys;
    for (std::size_t index = 0; index < GROUPS; ++index) {
      Group& group = groups_[index];
      keys.clear();
      keys.reserve(group.packed.size() + group.counted.size());
      std::uint32_t line = 0;
      for (const std::uint32_t packed : group.packed) {
        const std::uint32_t step = packed & FAR_STEP;
        if (step == FAR_STEP) {
          line += packed >> STEP_BITS;
          continue;
        }
        line += step;
        const auto hash = static_cast<std::uint32_t>(index << LOW_HASH_BITS | packed >> STEP_BITS);
        keys.push_back(key_of(hash, line, false));
      }
      keys.insert(keys.end(), group.counted.begin(), group.counted.end());
      group = {};
      sort_by_hash(keys);
      for_each_shared_hash(keys, [&](std::size_t start, std::size_t end) {
        shared.insert(shared.end(), keys.begin() + static_cast<std::ptrdiff_t>(start),
                      keys.begin() + static_cast<std::ptrdiff_t>(end));
      });
    }
    return shared;
  }

  // By the hash's top byte in place, each key swapped into its bucket, then each bucket by the
  // rest of the hash.
  static void sort_by_hash(std::vector<std::uint64_t>& keys) {
    std::array<std::size_t, BUCKETS + 1> starts{};
    for (const std::uint64_t key : keys) {
      ++starts[bucket_of(key) + 1];
    }
    std::partial_sum(starts.begin(), starts.end(), starts.begin());
    std::array<std::size_t, BUCKETS> next{};
    std::copy(starts.begin(), starts.end() - 1, next.begin());
    for (std::size_t bucket = 0; bucket < BUCKETS; ++bucket) {
      while (next[bucket] < starts[bucket + 1]) {
        std::uint64_t key = keys[next[bucket]];
        for (std::size_t home = bucket_of(key); home != bucket; home = bucket_of(key)) {
          std::swap(key, keys[next[home]++]);
        }
        keys[next[bucket]++] = key;
      }
    }
    std::vector<std::uint64_t> buffer;
    for (std::size_t bucket = 0; bucket < BUCKETS; ++bucket) {
      sort_bucket({keys.data() + starts[bucket], starts[bucket + 1] - starts[bucket]}, buffer);
    }
  }

  // Keys of one top byte by the rest of the hash, in two counting passes through `buffer`.
  static void sort_bucket(std::span<std::uint64_t> keys, std::vector<std::uint64_t>& buffer) {
    if (keys.size() < 2) {
      return;
    }
    if (buffer.size() < keys.size()) {
      buffer.resize(keys.size());
    }
    std::array<std::size_t, (std::size_t{1} << DIGIT_BITS) + 1> digit_starts;
    for (const std::size_t shift : {HASH_SHIFT, HASH_SHIFT + DIGIT_BITS}) {
      std::ranges::fill(digit_starts, 0);
      for (const std::uint64_t key : keys) {
        ++digit_starts[((key >> shift) & DIGIT_MASK) + 1];
      }
      std::partial_sum(digit_starts.begin(), digit_starts.end(), digit_starts.begin());
      for (const std::uint64_t key : keys) {
        buffer[digit_starts[(key >> shift) & DIGIT_MASK]++] = key;
      }
      std::copy_n(buffer.begin(), keys.size(), keys.begin());
    }
  }

  std::array<Group, GROUPS> groups_;
  std::vector<std::uint64_t> keys_;  // of the lines that share their hash
  std::vector<Recent> recent_;
  std::vector<Repeat> first_repeats_;
  std::uint64_t repeat_count_ = 0;
};

}  // namespace

bool is_code_character(char32_t c) {
  return (c >= U'a' && c <= U'z') || c == U' ' || c == U',' || c == U'.' || c == U'/' || c == U';';
}

std::string_view severity_label(Severity severity) {
  switch (severity) {
    case Severity::Fatal:
      return FATAL_LABEL;
    case Severity::Warning:
      return WARNING_LABEL;
    case Severity::Info:
      break;
  }
  return INFO_LABEL;
}

std::string quote_code(std::string_view code) {
  std::string escaped;
  escaped.reserve(code.size());
  for (const char c : code) {
    switch (c) {
      case '"':
        escaped.append("\\\"");
        break;
      case '\\':
        escaped.append("\\\\");
        break;
      case '\t':
        escaped.append("\\t");
        break;
      default:
        escaped.push_back(c);
    }
  }
  // Every other control is written as the display escapes write it.
  std::string quoted(1, '"');
  quoted.append(displayable(escaped)).push_back('"');
  return quoted;
}

Issue unreadable_text(std::string_view error) {
  return make_issue(IssueKind::UnreadableText, fill_placeholders(UNREADABLE_TEXT, {error}),
                    UNREADABLE_TEXT_ADVICE, 0, Severity::Fatal);
}

Issue unreadable_legacy_text(std::string_view error) {
  return make_issue(IssueKind::UnreadableText, fill_placeholders(UNREADABLE_TEXT, {error}),
                    LEGACY_TEXT_ADVICE, 0, Severity::Fatal);
}

Issue unreadable_damaged_utf8(std::string_view error) {
  return make_issue(IssueKind::UnreadableText, fill_placeholders(UNREADABLE_TEXT, {error}),
                    DAMAGED_UTF8_ADVICE, 0, Severity::Fatal);
}

Issue mark_before_header(std::string_view marker) {
  return make_issue(IssueKind::MarkBeforeHeader, fill_placeholders(MARK_BEFORE_HEADER, {marker}),
                    MARK_BEFORE_HEADER_ADVICE, 1, Severity::Fatal);
}

Issue missing_rime_header() {
  return make_issue(IssueKind::MissingRimeHeader, std::string(MISSING_RIME_HEADER),
                    MISSING_RIME_HEADER_ADVICE, 0, Severity::Fatal);
}

Issue import_failed(std::string_view error) {
  return make_issue(IssueKind::ImportFailed, fill_placeholders(IMPORT_FAILED, {error}), {}, 0,
                    Severity::Fatal);
}

Issue importer_skipped(std::uint64_t line, std::string_view code, std::string_view reason) {
  return make_issue(IssueKind::ImporterSkipped,
                    fill_placeholders(IMPORTER_SKIPPED, {quote_code(code), reason}), {}, line,
                    Severity::Warning);
}

Issue importer_skipped_summary(std::uint64_t total, std::uint64_t shown) {
  return make_issue(
      IssueKind::ImporterSkippedSummary,
      fill_placeholders(IMPORTER_SKIPPED_SUMMARY, {std::to_string(total), std::to_string(shown)}),
      {}, 0, Severity::Info);
}

Issue missing_columns(std::uint64_t line, std::string_view preview) {
  return make_issue(IssueKind::MissingColumns, fill_placeholders(MISSING_COLUMNS, {preview}),
                    MISSING_COLUMNS_ADVICE, line, Severity::Warning);
}

Issue empty_code_or_text(std::uint64_t line) {
  return make_issue(IssueKind::EmptyCodeOrText, std::string(EMPTY_CODE_OR_TEXT),
                    EMPTY_CODE_OR_TEXT_ADVICE, line, Severity::Warning);
}

Issue bad_code_characters(std::uint64_t line, std::string_view code, std::string_view text,
                          std::string_view offending) {
  return make_issue(IssueKind::BadCodeCharacters,
                    fill_placeholders(BAD_CODE_CHARACTERS, {shown_quoted(code), shown_value(text),
                                                            shown_quoted(offending)}),
                    bad_code_advice(code, offending), line, Severity::Warning);
}

Issue duplicate_line(std::uint64_t line, std::uint64_t earlier, std::string_view text,
                     std::string_view code) {
  return make_issue(IssueKind::DuplicateLine,
                    fill_placeholders(DUPLICATE_LINE, {std::to_string(earlier), shown_value(text),
                                                       shown_quoted(code)}),
                    DUPLICATE_LINE_ADVICE, line, Severity::Info);
}

Issue mb_build_failed(std::string_view error) {
  return make_issue(IssueKind::MbBuildFailed, fill_placeholders(MB_BUILD_FAILED, {error}), {}, 0,
                    Severity::Fatal);
}

Issue mb_unreadable(std::string_view error) {
  return make_issue(IssueKind::MbUnreadable, fill_placeholders(MB_UNREADABLE, {error}),
                    CORE_FAULT_ADVICE, 0, Severity::Fatal);
}

Issue mb_mismatch(std::string_view difference) {
  return make_issue(IssueKind::MbMismatch, fill_placeholders(MB_MISMATCH, {difference}),
                    CORE_FAULT_ADVICE, 0, Severity::Fatal);
}

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
        issues.add(missing_columns(line.number, preview_of(trimmed)));
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
    duplicates.add({merge_code(line, format, storage), line.text}, line.number, line.raw);
  });
  duplicates.raise(issues, text.text(),
                   [&](std::string_view raw, std::uint64_t number, std::string& joined) {
                     const TextLine line = text.read_body_line(raw, number);
                     return BodyEntry{merge_code(line, format, joined), line.text};
                   });
  return rows;
}

std::size_t IssueList::find_tally(IssueKind kind, Severity severity,
                                  std::string_view advice) const {
  const auto found = std::ranges::find_if(tallies_, [&](const KindTally& tally) {
    return tally.kind == kind && tally.severity == severity && tally.advice == advice;
  });
  return found == tallies_.end() ? NONE : static_cast<std::size_t>(found - tallies_.begin());
}

IssueList::KindTally& IssueList::tally_of(IssueKind kind, Severity severity,
                                          std::string_view advice) {
  if (const std::size_t index = find_tally(kind, severity, advice); index != NONE) {
    return tallies_[index];
  }
  return tallies_.emplace_back(KindTally{severity, advice, kind});
}

void IssueList::count_folded(KindTally& tally, std::uint64_t count) {
  if (tally.folded == NONE) {
    tally.folded = folded_.size();
    folded_.push_back({tally.severity, tally.advice, tally.kind, 0});
  }
  folded_[tally.folded].count += count;
}

void IssueList::add(Issue issue) {
  KindTally& tally = tally_of(issue.kind, issue.severity, issue.advice);
  if (tally.shown >= SHOWN_PER_KIND) {
    count_folded(tally, 1);
    return;
  }
  ++tally.shown;
  shown_.push_back(std::move(issue));
}

void IssueList::fold(IssueKind kind, Severity severity, std::string_view advice,
                     std::uint64_t count) {
  if (count != 0) {
    count_folded(tally_of(kind, severity, advice), count);
  }
}

void IssueList::append(IssueList other) {
  // Each list kept the first of its kinds by line, so the first of both together are among them:
  // sort() puts any beyond the first SHOWN_PER_KIND back to counting.
  for (Issue& issue : other.shown_) {
    KindTally& tally = tally_of(issue.kind, issue.severity, issue.advice);
    ++tally.shown;
    shown_.push_back(std::move(issue));
  }
  for (const Folded& folded : other.folded_) {
    fold(folded.kind, folded.severity, folded.advice, folded.count);
  }
}

void IssueList::sort() {
  sort_issues(shown_);
  for (KindTally& tally : tallies_) {
    tally.shown = 0;
  }
  std::size_t kept = 0;
  for (Issue& issue : shown_) {
    KindTally& tally = tally_of(issue.kind, issue.severity, issue.advice);
    if (tally.shown == SHOWN_PER_KIND) {
      count_folded(tally, 1);
      continue;
    }
    ++tally.shown;
    if (&shown_[kept] != &issue) {
      shown_[kept] = std::move(issue);
    }
    ++kept;
  }
  shown_.erase(shown_.begin() + static_cast<std::ptrdiff_t>(kept), shown_.end());
}

IssueCounts IssueList::counts() const {
  IssueCounts counts;
  const auto count = [&counts](Severity severity, std::uint64_t number) {
    switch (severity) {
      case Severity::Warning:
        counts.warnings += number;
        break;
      case Severity::Info:
        counts.infos += number;
        break;
      case Severity::Fatal:
        counts.fatal += number;
        break;
    }
  };
  for (const Issue& issue : shown_) {
    count(issue.severity, 1);
  }
  for (const Folded& folded : folded_) {
    count(folded.severity, folded.count);
  }
  return counts;
}

void sort_issues(std::vector<Issue>& issues) {
  const auto before = [](const Issue& a, const Issue& b) {
    if (a.severity != b.severity) {
      return a.severity < b.severity;
    }
    return a.line < b.line;
  };
  // The scan appends in line order, so the list is often in order already.
  if (std::ranges::is_sorted(issues, before)) {
    return;
  }
  // Sorting small keys, the index breaking ties, and then moving each issue once into its place
  // needs no second list of issues, which a stable sort of a million issues would allocate.
  struct Place {
    Severity severity;
    std::uint64_t line;
    std::size_t index;
    auto operator<=>(const Place&) const = default;
  };
  std::vector<Place> places(issues.size());
  for (std::size_t i = 0; i < issues.size(); ++i) {
    places[i] = {issues[i].severity, issues[i].line, i};
  }
  std::ranges::sort(places);
  std::vector<std::size_t> source_of(issues.size());  // place -> the index of the issue it takes
  for (std::size_t i = 0; i < places.size(); ++i) {
    source_of[i] = places[i].index;
  }
  places = {};
  for (std::size_t start = 0; start < issues.size(); ++start) {
    if (source_of[start] == start) {
      continue;
    }
    Issue held = std::move(issues[start]);
    std::size_t place = start;
    while (source_of[place] != start) {
      const std::size_t from = source_of[place];
      issues[place] = std::move(issues[from]);
      source_of[place] = place;
      place = from;
    }
    issues[place] = std::move(held);
    source_of[place] = place;
  }
}

}  // namespace qovira
