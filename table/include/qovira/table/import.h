// The two text importers: Rime dictionaries (.dict.yaml) and 冰凌 text code tables.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/table/model.h"
#include "qovira/table/table_text.h"

namespace qovira {

// What an importer hands back besides the table. The Rime importer fills `skipped` and
// `length_rules`; the 冰凌 importer fills every header field but never skips silently-counted rows.
struct TableImport {
  CodeTable code_table;
  std::vector<std::string> length_rules;  // "{N}={formula}" then "{N}+={formula}"
  SkipLog skipped;
  std::optional<std::uint64_t> code_length;
  std::optional<std::string> wildcard;
  std::optional<std::string> special_prefix;
  std::optional<std::string> phrase_rule_text;
};

using RimeImport = TableImport;
using BinglingImport = TableImport;

// Called, unless the import fails first, once the importer has read every line and copied what it
// keeps of the header, before the rows are merged: from then on the text is not looked at, and its
// owner may free it.
using TextDone = std::function<void()>;

// Reads the decoded text of a Rime dictionary. Bad body rows are skipped and logged; only a
// missing header end, too many bad rows or a failure of finish_table stop the import.
std::expected<RimeImport, TableError> import_rime(std::string_view text);
// The same over a text already read as a Rime dictionary.
std::expected<RimeImport, TableError> import_rime(const TableText& text,
                                                  const TextDone& text_done = {});

// Reads the decoded text of a 冰凌 table. A code with a character other than a-z or "/" stops the
// import; other unusable lines are ignored.
std::expected<BinglingImport, TableError> import_bingling(std::string_view text);
// The same over a text already read as a 冰凌 table.
std::expected<BinglingImport, TableError> import_bingling(const TableText& text,
                                                          const TextDone& text_done = {});

}  // namespace qovira
