// A table written back as a Rime dictionary or a 冰凌 table. What no line of the format can hold
// (a code character, a line break, a text twice under one code) stops the writing at once; whether
// each line reads back is the proof's to tell, and when it does not, the format's own entry reader
// names the entry and the reason.
#include "qovira/table/text_writer.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "qovira/table/entry.h"
#include "qovira/table/lines.h"
#include "qovira/table/message_text.h"
#include "qovira/table/side_by_side.h"
#include "qovira/table/table_text.h"
#include "qovira/table/utf8.h"
#include "qovira/table/white_space.h"

namespace qovira {
namespace {

constexpr std::string_view UNWRITABLE_ENTRY = "编码 {}（词条「{}」）写不进{}：{}";
constexpr std::string_view RIME_LABEL = "Rime 词典";
constexpr std::string_view BINGLING_LABEL = "冰凌码表";
constexpr std::string_view RIME_CODE_CHARACTERS = "编码只能用小写字母和 , . ; /，这里有「{}」";
constexpr std::string_view BINGLING_CODE_CHARACTERS = "编码只能用小写字母和 /，这里有「{}」";
constexpr std::string_view LINE_BREAKING_TEXT = "词条里有制表符或换行符，文本码表的一行放不下它";
constexpr std::string_view REPEATED_TEXT =
    "同一个编码下这个词条出现了不止一次，文本码表导入时会并成一条";
constexpr std::string_view READ_DIFFERENTLY = "导入器会把这一行读成编码 {}、词条「{}」";
constexpr std::string_view NOT_AN_ENTRY = "导入器不会把这一行当成词条";

// Below this many entries a second thread costs more than it saves.
constexpr std::size_t PARALLEL_ROWS = 1 << 15;
// The tabs, the weight and the line feed around a line's code and text, about.
constexpr std::size_t LINE_FRAME_BYTES = 8;

// The priorities the import gives (finish_table): a pinned entry 254; an unweighted table 100
// throughout; a weighted one 0 for weight 0 and 17 + ⌊weight × 236 / heaviest⌋ otherwise, so the
// heaviest entry always scores 253.
constexpr std::uint8_t PRIORITY_PINNED = 254;
constexpr std::uint8_t PRIORITY_UNWEIGHTED = 100;
constexpr std::uint8_t PRIORITY_LOWEST_WEIGHTED = 17;
constexpr std::uint8_t PRIORITY_HEAVIEST = 253;
// The weight of a 253: twice the span of 236, so that weight 1 still scores 17 and 2 × (q − 17)
// scores exactly q.
constexpr std::uint64_t HEAVIEST_WEIGHT = 472;

constexpr std::string_view RIME_HEADER_WEIGHTED = "version: \"1.0\"\nsort: by_weight\n";
constexpr std::string_view RIME_HEADER_UNWEIGHTED = "version: \"1.0\"\nsort: original\n";
constexpr std::string_view RIME_TABLE_ONLY_SETTING = "lanqi_phrase_codes: table_only\n";

bool weights_give(std::uint8_t priority) {
  return priority == 0 || (priority >= PRIORITY_LOWEST_WEIGHTED && priority <= PRIORITY_HEAVIEST);
}

std::uint64_t weight_for(std::uint8_t priority) {
  if (priority == 0) {
    return 0;
  }
  if (priority == PRIORITY_LOWEST_WEIGHTED) {
    return 1;
  }
  return 2 * (std::uint64_t{priority} - PRIORITY_LOWEST_WEIGHTED);
}

// The priority the import can give nearest to `wanted` between `low` and `high`, which it can
// both give.
std::uint8_t nearest_priority(std::uint8_t wanted, std::uint8_t low, std::uint8_t high) {
  const std::uint8_t clamped = std::clamp(wanted, low, high);
  if (weights_give(clamped)) {
    return clamped;
  }
  // Between 0 and 17: `low` is 0 here, and `high` at least 17 or `clamped` would be 0.
  return clamped < (PRIORITY_LOWEST_WEIGHTED + 1) / 2 ? 0 : PRIORITY_LOWEST_WEIGHTED;
}

UnwritableEntry unwritable_entry(TableFormat format, const TableEntry& entry, std::string reason) {
  return {.format = format,
          .code = std::string(entry.code),
          .text = std::string(entry.text),
          .reason = std::move(reason)};
}

std::unexpected<UnwritableEntry> unwritable(TableFormat format, const TableEntry& entry,
                                            std::string reason) {
  return std::unexpected(unwritable_entry(format, entry, std::move(reason)));
}

// Plans the priorities the weights give back. Every code's candidates keep their order, so along a
// code the weights never rise; of the candidates whose priority some weight gives, the most that
// can keep their priorities in that order do (a longest subsequence that never rises), and every
// other candidate takes the nearest priority its place allows. A 冰凌 pin scores 254 wherever it
// stands, so pinned candidates stay outside the run. The heaviest entry of a weighted table always
// scores 253: when no entry keeps a 253, the first candidate of one code is raised to it, one that
// changes anyway where there is one.
class PriorityPlan {
 public:
  explicit PriorityPlan(bool pins) : pins_(pins) {}

  void plan_code(std::span<TableEntry> candidates) {
    ordered_.clear();
    first_changed_ = nullptr;
    for (TableEntry& candidate : candidates) {
      if (!is_pinned(candidate)) {
        ordered_.push_back(&candidate);
      }
    }
    const auto never_rises = [this] {
      for (std::size_t i = 0; i < ordered_.size(); ++i) {
        if (!weights_give(ordered_[i]->priority) ||
            (i > 0 && ordered_[i]->priority > ordered_[i - 1]->priority)) {
          return false;
        }
      }
      return true;
    };
    if (!never_rises()) {
      keep_longest_subsequence();
    }
    for (const TableEntry* candidate : ordered_) {
      heaviest_kept_ = heaviest_kept_ || candidate->priority == PRIORITY_HEAVIEST;
      needs_heaviest_ = needs_heaviest_ || candidate->priority != 0;
    }
    if (pins_ && !candidates.empty() && is_pinned(candidates.front())) {
      heaviest_kept_ = true;  // a pin leading its code takes the heaviest weight
    } else if (!ordered_.empty()) {
      consider_for_heaviest(*ordered_.front());
    }
  }

  // Raises a first candidate to 253 when the table needs one; the count of changed entries.
  std::uint64_t finish() {
    if (needs_heaviest_ && !heaviest_kept_ && raise_ != nullptr) {
      if (!raise_changes_anyway_) {
        ++changed_;
      }
      raise_->priority = PRIORITY_HEAVIEST;
    }
    return changed_;
  }

  bool is_pinned(const TableEntry& entry) const {
    return pins_ && entry.priority == PRIORITY_PINNED;
  }

 private:
  // Keeps the priorities of a longest never-rising subsequence of the candidates some weight can
  // score and gives each other candidate the nearest priority between its kept neighbours.
  void keep_longest_subsequence() {
    const std::size_t count = ordered_.size();
    constexpr std::size_t NONE = static_cast<std::size_t>(-1);
    std::vector<std::size_t>
        tails;  // tails[k]: of the subsequences of k + 1, the one ending highest
    std::vector<std::size_t> before(count, NONE);
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t priority = ordered_[i]->priority;
      if (!weights_give(priority)) {
        continue;
      }
      const auto place = std::ranges::partition_point(
          tails, [&](std::size_t tail) { return ordered_[tail]->priority >= priority; });
      const auto at = static_cast<std::size_t>(place - tails.begin());
      before[i] = at > 0 ? tails[at - 1] : NONE;
      if (place == tails.end()) {
        tails.push_back(i);
      } else {
        *place = i;
      }
    }
    std::vector<bool> kept(count, false);
    for (std::size_t i = tails.empty() ? NONE : tails.back(); i != NONE; i = before[i]) {
      kept[i] = true;
    }
    // The priority of the next kept candidate bounds every candidate before it from below.
    std::vector<std::uint8_t> floor(count, 0);
    for (std::size_t i = count, next = 0; i-- > 0;) {
      floor[i] = static_cast<std::uint8_t>(next);
      if (kept[i]) {
        next = ordered_[i]->priority;
      }
    }
    std::uint8_t ceiling = PRIORITY_HEAVIEST;
    for (std::size_t i = 0; i < count; ++i) {
      TableEntry& candidate = *ordered_[i];
      if (!kept[i]) {
        const std::uint8_t nearest = nearest_priority(candidate.priority, floor[i], ceiling);
        if (nearest != candidate.priority) {
          ++changed_;
          if (i == 0) {
            first_changed_ = &candidate;
          }
          candidate.priority = nearest;
        }
      }
      ceiling = candidate.priority;
    }
  }

  void consider_for_heaviest(TableEntry& first) {
    const bool changes_anyway = first_changed_ == &first;
    // Prefer a candidate that changes anyway, then the one whose priority is nearest 253.
    if (raise_ == nullptr || (changes_anyway && !raise_changes_anyway_) ||
        (changes_anyway == raise_changes_anyway_ && first.priority > raise_->priority)) {
      raise_ = &first;
      raise_changes_anyway_ = changes_anyway;
    }
  }

  bool pins_;
  std::vector<TableEntry*> ordered_;
  const TableEntry* first_changed_ = nullptr;
  TableEntry* raise_ = nullptr;
  bool raise_changes_anyway_ = false;
  bool heaviest_kept_ = false;
  bool needs_heaviest_ = false;  // some unpinned entry scores above 0
  std::uint64_t changed_ = 0;
};

// End of the run of entries from `begin` that share its code.
std::size_t end_of_code(const std::vector<TableEntry>& entries, std::size_t begin) {
  std::size_t end = begin + 1;
  while (end < entries.size() && entries[end].code == entries[begin].code) {
    ++end;
  }
  return end;
}

// The first candidate of a code that repeats an earlier one's text, or nothing.
const TableEntry* repeated_text(std::span<const TableEntry> candidates) {
  constexpr std::size_t FEW = 16;
  if (candidates.size() <= FEW) {
    for (std::size_t i = 1; i < candidates.size(); ++i) {
      for (std::size_t j = 0; j < i; ++j) {
        if (candidates[i].text == candidates[j].text) {
          return &candidates[i];
        }
      }
    }
    return nullptr;
  }
  std::unordered_set<std::string_view> seen;
  for (const TableEntry& candidate : candidates) {
    if (!seen.insert(candidate.text.view()).second) {
      return &candidate;
    }
  }
  return nullptr;
}

// What the description names, as a header line can hold it: without an importer's label and the
// Rime marker line, line breaks and other controls made spaces, trimmed, within the room the .mb
// header leaves beside `format`'s label.
struct TableName {
  std::string name;
  bool table_only_marker = false;
};

TableName table_name(std::string_view description, TableFormat format) {
  TableName result;
  const std::string marker_line = "\n" + std::string(RIME_TABLE_ONLY_MARKER_LINE);
  if (description.ends_with(marker_line)) {
    description.remove_suffix(marker_line.size());
    result.table_only_marker = format == TableFormat::Rime;
  }
  for (const std::string_view label : {RIME_DESCRIPTION_PREFIX, BINGLING_DESCRIPTION_PREFIX}) {
    if (description.starts_with(label)) {
      description.remove_prefix(label.size());
      break;
    }
  }
  std::string name;
  for (std::size_t pos = 0; pos < description.size();) {
    const std::size_t start = pos;
    const char32_t c = next_char(description, pos);
    if (c < 0x20 || c == 0x7F) {
      if (!name.ends_with(' ')) {
        name.push_back(' ');  // "\r\n" between two lines becomes one space
      }
    } else if (c == '#' && format == TableFormat::Rime) {
      name += "＃";  // a YAML comment would cut the name there
    } else {
      name.append(description.substr(start, pos - start));
    }
  }
  std::string_view kept = trim(name);
  if (format == TableFormat::Rime) {
    kept = trim(rime_name_value(kept));  // quote marks at either end are not part of a name
  }
  const std::size_t room =
      format == TableFormat::Rime ? rime_name_room(result.table_only_marker) : bingling_name_room();
  result.name = cut_to_utf16_units(kept, room);
  return result;
}

std::size_t longest_code(const std::vector<TableEntry>& entries) {
  std::size_t longest = 0;
  for (const TableEntry& entry : entries) {
    longest = std::max(longest, entry.code.size());
  }
  return longest;
}

std::string join_rules(const std::vector<std::string>& rules) {
  std::string joined;
  for (const std::string& rule : rules) {
    if (!joined.empty()) {
      joined += '/';
    }
    joined += rule;
  }
  return joined;
}

enum class RimeColumns : std::uint8_t { TextFirst, CodeFirst };

std::string rime_header(const CodeTable& table, bool weighted, RimeColumns columns) {
  const TableName name = table_name(table.description, TableFormat::Rime);
  std::string header(RIME_HEADER_START);
  header += "\nname: " + name.name + "\n";
  header += weighted ? RIME_HEADER_WEIGHTED : RIME_HEADER_UNWEIGHTED;
  if (name.table_only_marker) {
    header += RIME_TABLE_ONLY_SETTING;
  }
  header += columns == RimeColumns::TextFirst ? "columns:\n  - text\n  - code\n"
                                              : "columns:\n  - code\n  - text\n";
  if (weighted) {
    header += "  - weight\n";
  }
  header += RIME_HEADER_END;
  header += '\n';
  return header;
}

std::string bingling_header(const CodeTable& table) {
  std::string header(BINGLING_HEADER_SECTION);
  header += "\nName=" + table_name(table.description, TableFormat::Bingling).name + "\n";
  // An alphabet the import would refuse is left to the importer's default, which holds every
  // code a 冰凌 table can have.
  if (validate_alphabet(table.alphabet)) {
    header += "CodeCharacters=" + table.alphabet + "\n";
  }
  if (const std::size_t longest = longest_code(table.entries);
      longest >= 1 && longest <= BINGLING_MAX_CODE_LENGTH) {
    header += "CodeLength=" + std::to_string(longest) + "\n";
  }
  // Only the rules the importer reads as rules, so that a damaged one cannot break the line.
  header +=
      "PhraseRule=" + join_rules(bingling_phrase_rules(join_rules(table.phrase_rules))) + "\n";
  header += BINGLING_BODY_SECTION;
  header += '\n';
  return header;
}

// The reason no line of the format can hold the entry, or nothing.
std::optional<std::string> unholdable(const TableEntry& entry, TableFormat format) {
  for (std::size_t pos = 0; pos < entry.code.size();) {
    const std::size_t start = pos;
    const auto byte = static_cast<unsigned char>(entry.code.data()[pos]);
    const char32_t c = byte < 0x80 ? (++pos, char32_t{byte}) : next_char(entry.code, pos);
    if (!is_format_code_character(format, c)) {
      return fill_placeholders(
          format == TableFormat::Bingling ? BINGLING_CODE_CHARACTERS : RIME_CODE_CHARACTERS,
          {entry.code.view().substr(start, pos - start)});
    }
  }
  if (std::ranges::any_of(entry.text, [](char c) { return c == '\t' || c == '\n' || c == '\r'; })) {
    return std::string(LINE_BREAKING_TEXT);
  }
  return std::nullopt;
}

// How the body lines are written.
struct BodyLayout {
  TableFormat format;
  bool weighted;
  RimeColumns columns;
  const PriorityPlan& plan;
};

// Appends the lines of the entries [begin, end), whole codes, to `out`.
void write_lines(const std::vector<TableEntry>& entries, std::size_t begin, std::size_t end,
                 const BodyLayout& layout, std::string& out) {
  const bool code_first =
      layout.format == TableFormat::Bingling || layout.columns == RimeColumns::CodeFirst;
  std::uint64_t previous = 0;
  for (std::size_t i = begin; i < end; ++i) {
    const TableEntry& entry = entries[i];
    const bool pinned = layout.plan.is_pinned(entry);
    std::uint64_t weight = 0;
    if (pinned) {
      // The weight of the candidate before it, so that the order stands; leading its code, the
      // heaviest.
      const bool leads = i == begin || entry.code != entries[i - 1].code;
      weight = leads ? HEAVIEST_WEIGHT : previous;
    } else if (layout.weighted) {
      weight = weight_for(entry.priority);
    }
    previous = weight;
    const std::string_view pin = pinned ? "*" : "";
    if (code_first) {
      out.append(entry.code.view()).append(pin).append("\t").append(entry.text.view());
    } else {
      out.append(entry.text.view()).append("\t").append(entry.code.view());
    }
    if (layout.weighted) {
      char digits[24];
      const auto written = std::to_chars(std::begin(digits), std::end(digits), weight);
      out.append("\t").append(digits, written.ptr);
    }
    out += '\n';
  }
}

// Whether every Rime text can lead its line: a text that starts a comment there cannot. Only a
// line holding "#" can read as a comment; the reader decides for those.
bool texts_can_lead(const std::vector<TableEntry>& entries, const TableText& header) {
  std::string line;
  for (const TableEntry& entry : entries) {
    if (entry.text.view().find('#') == std::string_view::npos) {
      continue;
    }
    line.assign(entry.text.view()).append("\t").append(entry.code.view());
    if (header.read_body_line(line, 0).kind != LineKind::Entry) {
      return false;
    }
  }
  return true;
}

// The header and the lines of the planned table; a large table is written in two halves side by
// side.
WrittenTableText write_body(CodeTable table, TableFormat format, bool weighted,
                            const PriorityPlan& plan) {
  RimeColumns columns = RimeColumns::TextFirst;
  if (format == TableFormat::Rime &&
      !texts_can_lead(table.entries,
                      TableText::read(rime_header(table, weighted, columns), format))) {
    columns = RimeColumns::CodeFirst;
  }
  const BodyLayout layout{format, weighted, columns, plan};
  const std::vector<TableEntry>& entries = table.entries;
  std::size_t middle = entries.size() / 2;
  while (middle > 0 && middle < entries.size() &&
         entries[middle].code == entries[middle - 1].code) {
    ++middle;
  }
  const auto bytes_of_lines = [&](std::size_t begin, std::size_t end) {
    std::size_t bytes = 0;
    for (std::size_t i = begin; i < end; ++i) {
      bytes += entries[i].code.size() + entries[i].text.size() + LINE_FRAME_BYTES;
    }
    return bytes;
  };
  WrittenTableText written;
  written.text = format == TableFormat::Bingling ? bingling_header(table)
                                                 : rime_header(table, weighted, columns);
  written.body_start = written.text.size();
  std::string upper;
  run_side_by_side(
      entries.size() >= PARALLEL_ROWS,
      [&] {
        upper.reserve(bytes_of_lines(middle, entries.size()));
        write_lines(entries, middle, entries.size(), layout, upper);
      },
      [&] {
        written.text.reserve(written.body_start + bytes_of_lines(0, entries.size()));
        write_lines(entries, 0, middle, layout, written.text);
      });
  written.text += upper;
  written.table = std::move(table);
  return written;
}

}  // namespace

std::string_view text_format_label(TableFormat format) {
  return format == TableFormat::Bingling ? BINGLING_LABEL : RIME_LABEL;
}

std::string UnwritableEntry::message() const {
  return fill_placeholders(
      UNWRITABLE_ENTRY, {shown_value(code), shown_value(text), text_format_label(format), reason});
}

std::expected<WrittenTableText, UnwritableEntry> write_table_text(CodeTable table,
                                                                  TableFormat format) {
  std::vector<TableEntry>& entries = table.entries;
  // A code's candidates side by side, each code's in their order.
  if (!std::ranges::is_sorted(entries, {}, &TableEntry::code)) {
    std::ranges::stable_sort(entries, {}, &TableEntry::code);
  }
  const bool weighted =
      format == TableFormat::Bingling || !std::ranges::all_of(entries, [](const TableEntry& entry) {
        return entry.priority == PRIORITY_UNWEIGHTED;
      });
  PriorityPlan plan(format == TableFormat::Bingling);
  for (std::size_t begin = 0; begin < entries.size();) {
    const std::size_t end = end_of_code(entries, begin);
    const std::span<TableEntry> candidates(entries.begin() + static_cast<std::ptrdiff_t>(begin),
                                           entries.begin() + static_cast<std::ptrdiff_t>(end));
    for (const TableEntry& entry : candidates) {
      if (auto reason = unholdable(entry, format)) {
        return unwritable(format, entry, std::move(*reason));
      }
    }
    if (const TableEntry* repeated = repeated_text(candidates)) {
      return unwritable(format, *repeated, std::string(REPEATED_TEXT));
    }
    if (weighted) {
      plan.plan_code(candidates);
    }
    begin = end;
  }
  const std::uint64_t inexact = plan.finish();
  WrittenTableText written = write_body(std::move(table), format, weighted, plan);
  written.inexact_priorities = inexact;
  return written;
}

std::optional<UnwritableEntry> first_unwritable_entry(const WrittenTableText& written,
                                                      TableFormat format) {
  const std::string_view text = written.text;
  const TableText header = TableText::read(text.substr(0, written.body_start), format);
  EntryReader reader(header);
  LineCursor lines(text.substr(written.body_start));
  std::string_view raw;
  for (std::size_t i = 0; i < written.table.entries.size(); ++i) {
    const TableEntry& entry = written.table.entries[i];
    const TextLine line = lines.next(raw) ? header.read_body_line(raw, i + 1) : TextLine{};
    if (line.kind != LineKind::Entry) {
      return unwritable_entry(format, entry, std::string(NOT_AN_ENTRY));
    }
    const EntryReading reading = reader.read(line);
    if (!reading.accepted()) {
      return unwritable_entry(format, entry, std::string(refusal_reason(format, reading.refusal)));
    }
    const bool pinned = format == TableFormat::Bingling && entry.priority == PRIORITY_PINNED;
    if (reading.code != entry.code.view() || reading.text != entry.text.view() ||
        reading.pinned != pinned) {
      return unwritable_entry(format, entry,
                              fill_placeholders(READ_DIFFERENTLY, {shown_value(reading.code),
                                                                   shown_value(reading.text)}));
    }
  }
  return std::nullopt;
}

}  // namespace qovira
