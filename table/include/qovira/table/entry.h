// The one reading of an entry line: what the format's importer makes of it (the text, the code as
// it keys it, the weight, the pin mark) or why it refuses it, and the same for a 冰凌 setting. The
// importers add what this accepts; the line scan, the repair and the code inference ask it too, so
// none of them keeps its own alphabet, key, weight parsing or length limits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qovira/table/mb.h"
#include "qovira/table/table_text.h"

namespace qovira {

// Why the importer does not take an entry line. Closed: every consumer handles each reason.
enum class EntryRefusal : std::uint8_t {
  None,              // taken
  MissingText,       // no text column, or an empty one
  MissingCode,       // no code column, or an empty one
  EmptyCode,         // Rime: a code of white space alone
  BadCodeCharacter,  // a character the format's codes cannot hold
  CodeTooLong,       // longer than a .mb record holds
  TextTooLong,       // longer than a .mb record holds
  CodeNotDeclared,   // 冰凌: a code character the table's CodeCharacters does not declare
  Ignored,           // 冰凌: a "$" text or one that is nothing but a tag, dropped silently
};

// Whether the importer still adds the line's row: a 冰凌 import takes a code of any length, a text
// of any length and an undeclared code letter, and it is the merge or the .mb build that fails.
bool importer_takes(TableFormat format, EntryRefusal refusal);

// Whether a refused line keeps the whole table from importing or its .mb from being built, rather
// than being skipped: in a 冰凌 table every refusal but a silent one does.
bool refusal_blocks_import(TableFormat format, EntryRefusal refusal);

// Whether a Rime import fails for its skipped rows: more than 100, and more than a tenth of the
// rows it takes.
bool too_many_invalid_rows(std::uint64_t valid, std::uint64_t invalid);

// The importer's own reason for a refusal, as its messages and skip log give it.
std::string_view refusal_reason(TableFormat format, EntryRefusal refusal);

struct EntryReading {
  EntryRefusal refusal = EntryRefusal::None;
  std::string_view text;  // as the importer takes it
  std::string_view
      code;  // as the importer keys it (Rime: white space joined out; 冰凌: lower case)
  std::uint64_t weight = 0;
  bool pinned = false;

  bool accepted() const { return refusal == EntryRefusal::None; }
};

// Whether the format's codes can hold the character: Rime a-z , . ; / and 冰凌 a-z /.
bool is_format_code_character(TableFormat format, char32_t c);

// A weight column: an unsigned decimal, or 0 for anything unusable ("5%", "-7", "", overflow).
std::uint64_t parse_weight(std::string_view raw);

// Whether the text holds a full-width letter ("ｋ", "Ｈ").
bool has_full_width_letter(std::string_view text);

// The code with full-width letters and punctuation written in ASCII ("ｋ" → "k", "，" → ","), or
// nothing when it holds none.
std::optional<std::string> half_width_code(std::string_view code);

// Reads the entry lines of one table. A code the importer rewrites is kept in the reader, so a
// reading's views last until the next read.
class EntryReader {
 public:
  explicit EntryReader(const TableText& table);

  EntryReading read(const TextLine& line);

  // 冰凌: the alphabet the codes are checked against (CodeCharacters, or its default), and the one
  // a repaired table will declare instead.
  std::string_view declared_alphabet() const { return declared_alphabet_; }
  void declare_alphabet(std::string alphabet) { declared_alphabet_ = std::move(alphabet); }

 private:
  EntryReading read_rime(const TextLine& line);
  EntryReading read_bingling(const TextLine& line);

  TableFormat format_;
  bool weighted_;
  std::string declared_alphabet_;
  std::string code_;
};

// A 冰凌 setting the import or the .mb build refuses.
enum class SettingRefusal : std::uint8_t {
  None,
  CodeLengthNotInteger,
  CodeLengthOutOfRange,
  BadAlphabet,         // CodeCharacters is no valid alphabet
  NameTooLong,         // the description it makes does not fit the .mb header
  PhraseRulesTooLong,  // the phrase rules it gives do not fit the .mb header
};

// The 冰凌 settings the import or the build can refuse: "codelength", "codecharacters", "name" and
// "phraserule".
inline constexpr std::string_view BINGLING_DEFAULT_ALPHABET = "abcdefghijklmnopqrstuvwxyz/";
inline constexpr std::string_view BINGLING_DESCRIPTION_PREFIX = "冰凌码表：";
inline constexpr std::string_view BINGLING_UNNAMED_TABLE = "未命名冰凌码表";
inline constexpr std::uint64_t BINGLING_MAX_CODE_LENGTH = 16;

inline constexpr std::string_view RIME_DESCRIPTION_PREFIX = "Rime 词典：";
inline constexpr std::string_view RIME_TABLE_ONLY_MARKER_LINE =
    "[lanqi-phrase-codes:table-only-v1]";

// Judges the value of the setting `key` (trimmed, lower case) as the import and the build would.
SettingRefusal read_setting(std::string_view key, std::string_view value);

// The phrase rules of a 冰凌 PhraseRule value: its pieces between "/" that read as rules, or the
// default rule when none does (or there is no value).
std::vector<std::string> bingling_phrase_rules(std::optional<std::string_view> value);

// Whether the .mb header holds the phrase rules, which it stores joined by "/".
bool mb_header_holds_phrase_rules(const std::vector<std::string>& rules);

// The most UTF-16 units a 冰凌 name, or a Rime dictionary's name (with or without the marker line
// its description then carries), can have for the description to fit the .mb header.
std::size_t bingling_name_room();
std::size_t rime_name_room(bool table_only_marker);

// The text cut to at most `units` UTF-16 units, at a character boundary, white space at its end
// dropped.
std::string cut_to_utf16_units(std::string_view text, std::size_t units);

}  // namespace qovira
