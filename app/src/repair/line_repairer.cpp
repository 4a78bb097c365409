#include "line_repairer.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "qovira/table/ascii.h"
#include "qovira/table/message_text.h"
#include "qovira/table/utf16.h"
#include "qovira/table/utf8.h"
#include "qovira/table/white_space.h"
#include "repair_messages.h"

namespace qovira {

using namespace repair_messages;

namespace {

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

std::string code_change(std::string_view old_code, std::string_view new_code) {
  return fill_placeholders(CODE_CHANGED, {shown_value(old_code), shown_value(new_code)});
}

// An item naming an earlier line keeps the number apart: it goes in the pattern's first "{}".
std::pair<std::string_view, std::string_view> around_first_hole(std::string_view pattern) {
  const std::size_t hole = pattern.find("{}");
  return {pattern.substr(0, hole), pattern.substr(hole + 2)};
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

}  // namespace

LineRepairer::LineRepairer(const TableText& table, RepairResult& result, RepairedText& output,
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
    change(RepairRule::ColumnsSwapped, fill_placeholders(COLUMNS_SWAPPED, {shown_line(rebuilt)}),
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
  change(RepairRule::FirstTabRestored, fill_placeholders(FIRST_TAB_RESTORED, {shown_line(rebuilt)}),
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
  take_out(RepairRule::RefusedLine, fill_placeholders(REFUSED_LINE_REMOVED, {shown_line(line.raw)}),
           refusal_reason(format_, refusal), number);
  return true;
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
    std::string summary = fill_placeholders(NOT_TWO_COLUMNS, {shown_line(line.raw)});
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
  std::string summary = fill_placeholders(SEPARATOR_CHANGED, {shown_line(rebuilt)});
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
    std::string summary = fill_placeholders(CODE_EXCLUDED, {shown_value(code), shown_value(text)});
    take_out(RepairRule::CodeNotInferred, std::move(summary), CODE_EXCLUDED_REASON, number);
    return false;
  }
  if (pinned) {
    inferred->code.push_back('*');
  }
  std::string summary = fill_placeholders(
      CODE_INFERRED, {shown_value(code), shown_value(inferred->code), shown_value(text)});
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
  std::string joined;
  merged_code = repeat_code(merged_code, format_, joined);
  if (merged_code.data() == joined.data()) {
    merged_code = store(std::move(joined));  // the repeat check keeps a view of it
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
  const std::uint64_t hash = as_queued ? current_->hash : repeat_hash({text, merged_code});
  if (const auto earlier = latest_line_of_.exchange(hash, text, merged_code, number, weight)) {
    if (weight > earlier->weight) {
      const auto [head, rest] = around_first_hole(HEAVIER_DUPLICATE);
      const std::string tail = fill_placeholders(rest, {shown_value(line.text), shown_value(code)});
      result_.kept.push_naming(RepairRule::HeavierDuplicateKept, number, head, earlier->line,
                               displayable(tail), HEAVIER_DUPLICATE_REASON);
      emit_entry(line, code);
      return;
    }
    const auto [head, rest] = around_first_hole(DUPLICATE);
    const std::string tail = fill_placeholders(rest, {shown_value(line.text), shown_value(code)});
    result_.changes.push_naming(RepairRule::Duplicate, number, head, earlier->line,
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

}  // namespace qovira
