// A table converted to the text of a Rime dictionary or a 冰凌 table, proven by decoding and
// importing that text again and comparing it with the table as an export's read-back is compared.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "qovira/table/model.h"
#include "qovira/table/table_text.h"

namespace qovira {

// A setting of the table that reads back otherwise from the text, because the format keeps it in
// its own way or has no place for it.
struct SettingChange {
  enum class Field : std::uint8_t { Description, Alphabet, PhraseRules };
  Field field = Field::Description;
  std::string before;
  std::string after;

  friend bool operator==(const SettingChange&, const SettingChange&) = default;
};

struct ConvertedText {
  std::string text;
  std::uint64_t entries = 0;
  // "已回读校验：…" as an export's, or how the read-back failed.
  std::string verdict;
  bool verified = false;
  // Entries whose priority the format cannot carry: their candidate order is kept.
  std::uint64_t inexact_priorities = 0;
  std::vector<SettingChange> changes;
};

struct ImportedTable {
  TableFormat format = TableFormat::Unknown;
  CodeTable table;
};

// The table the bytes of a file import as, recognised as the diagnosis recognises them (a .mb, a
// Rime dictionary or a 冰凌 table), or the reader's or importer's error.
std::expected<ImportedTable, std::string> import_table(ByteView bytes);

// Writes the table as `format` (Rime or Bingling) and proves the text. Fails, with the reason,
// when the format cannot hold an entry; a text that does not read back is returned unverified.
std::expected<ConvertedText, std::string> convert_table(CodeTable table, TableFormat format);

// One line for each thing the text keeps otherwise than the table: priorities it cannot carry and
// changed settings, their values as they are (cut when very long), for the caller to make safe.
std::vector<std::string> conversion_notes(const ConvertedText& converted, TableFormat format);

}  // namespace qovira
