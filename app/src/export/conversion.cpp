// A table converted to text and proven: the text is decoded, recognised and imported as any file
// would be, and what it imports must be the table, compared by the export's read-back comparison.
#include "qovira/app/export/conversion.h"

#include <string>
#include <utility>

#include "qovira/app/export/export.h"
#include "qovira/table/decoding.h"
#include "qovira/table/entry.h"
#include "qovira/table/format.h"
#include "qovira/table/import.h"
#include "qovira/table/mb.h"
#include "qovira/table/message_text.h"
#include "qovira/table/text_writer.h"

namespace qovira {
namespace {

// Every "{}" is filled in order.
constexpr std::string_view READ_BACK_FAILED = "回读失败：{}";
constexpr std::string_view READ_AS_OTHER_FORMAT = "读回来被认成了{}";
constexpr std::string_view READ_BACK_DIFFERS = "回读对不上：{}";
constexpr std::string_view INEXACT_PRIORITIES =
    "{}表达不了其中 {} 条词条的优先级：候选次序照旧，优先级取了该位置上最接近的值";
constexpr std::string_view DESCRIPTION_CHANGED = "码表说明读回来是“{}”（原为“{}”）";
constexpr std::string_view ALPHABET_CHANGED = "字母表读回来是“{}”（原为“{}”）";
constexpr std::string_view PHRASE_RULES_CHANGED = "词组编码规则读回来是“{}”（原为“{}”）";

ByteView bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string joined_rules(const std::vector<std::string>& rules) {
  std::string joined;
  for (const std::string& rule : rules) {
    joined += (joined.empty() ? "" : "/") + rule;
  }
  return joined;
}

// A description without the label its importer put before the name: a text table names itself by
// its own format, which is no change of the name.
std::string_view named(std::string_view description) {
  for (const std::string_view label : {RIME_DESCRIPTION_PREFIX, BINGLING_DESCRIPTION_PREFIX}) {
    if (description.starts_with(label)) {
      return description.substr(label.size());
    }
  }
  return description;
}

void note_change(std::vector<SettingChange>& changes, SettingChange::Field field,
                 std::string before, std::string after) {
  if (before != after) {
    changes.push_back({field, std::move(before), std::move(after)});
  }
}

}  // namespace

std::expected<ImportedTable, std::string> import_table(ByteView bytes) {
  ImportedTable imported;
  if (has_mb_magic(bytes)) {
    imported.format = TableFormat::Mb;
    auto table = read_mb(bytes);
    if (!table) {
      return std::unexpected(table.error().message());
    }
    imported.table = std::move(*table);
    return imported;
  }
  std::string converted;
  auto text = decode_text_in_place(bytes, converted);
  if (!text) {
    return std::unexpected(text.error().message());
  }
  imported.format = detect_format(bytes, *text);
  if (imported.format == TableFormat::Unknown) {
    return std::unexpected(std::string(format_display_name(imported.format)));
  }
  auto read =
      imported.format == TableFormat::Bingling ? import_bingling(*text) : import_rime(*text);
  if (!read) {
    return std::unexpected(read.error().message());
  }
  imported.table = std::move(read->code_table);
  return imported;
}

std::expected<ConvertedText, std::string> convert_table(CodeTable table, TableFormat format) {
  std::string description = table.description;
  std::string alphabet = table.alphabet;
  std::string phrase_rules = joined_rules(table.phrase_rules);
  auto written = write_table_text(std::move(table), format);
  if (!written) {
    return std::unexpected(written.error().message());
  }
  ConvertedText converted;
  converted.entries = written->table.entries.size();
  converted.inexact_priorities = written->inexact_priorities;
  // A text that does not prove names the entry whose line does not read back, where there is one.
  const auto unproven = [&](std::string verdict) -> std::expected<ConvertedText, std::string> {
    if (auto entry = first_unwritable_entry(*written, format)) {
      return std::unexpected(entry->message());
    }
    converted.verdict = std::move(verdict);
    converted.text = std::move(written->text);
    return converted;
  };

  auto imported = import_table(bytes_of(written->text));
  if (!imported) {
    return unproven(fill_placeholders(READ_BACK_FAILED, {imported.error()}));
  }
  if (imported->format != format) {
    return unproven(fill_placeholders(
        READ_BACK_FAILED,
        {fill_placeholders(READ_AS_OTHER_FORMAT, {format_display_name(imported->format)})}));
  }
  const CodeTable& read_back = imported->table;
  if (named(description) != named(read_back.description)) {
    note_change(converted.changes, SettingChange::Field::Description, std::move(description),
                read_back.description);
  }
  note_change(converted.changes, SettingChange::Field::Alphabet, std::move(alphabet),
              read_back.alphabet);
  note_change(converted.changes, SettingChange::Field::PhraseRules, std::move(phrase_rules),
              joined_rules(read_back.phrase_rules));
  // The alphabet is the format's to say, and a change of it is told above; the entries must be
  // the table's, code for code and candidate for candidate.
  written->table.alphabet = read_back.alphabet;
  if (auto difference = compare_readback(written->table, read_back)) {
    return unproven(fill_placeholders(READ_BACK_DIFFERS, {*difference}));
  }
  converted.verdict = verified_verdict(converted.entries, read_back.alphabet);
  converted.verified = true;
  converted.text = std::move(written->text);
  return converted;
}

std::vector<std::string> conversion_notes(const ConvertedText& converted, TableFormat format) {
  std::vector<std::string> notes;
  if (converted.inexact_priorities > 0) {
    notes.push_back(fill_placeholders(
        INEXACT_PRIORITIES,
        {text_format_label(format), std::to_string(converted.inexact_priorities)}));
  }
  for (const SettingChange& change : converted.changes) {
    const std::string_view pattern =
        change.field == SettingChange::Field::Description ? DESCRIPTION_CHANGED
        : change.field == SettingChange::Field::Alphabet  ? ALPHABET_CHANGED
                                                          : PHRASE_RULES_CHANGED;
    notes.push_back(
        fill_placeholders(pattern, {shown_value(change.after), shown_value(change.before)}));
  }
  return notes;
}

}  // namespace qovira
