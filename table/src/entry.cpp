// What the importers make of an entry line or a 冰凌 setting, decided once for every reader.
#include "qovira/table/entry.h"

#include <algorithm>
#include <array>
#include <limits>
#include <string>
#include <string_view>

#include "qovira/table/ascii.h"
#include "qovira/table/mb.h"
#include "qovira/table/model.h"
#include "qovira/table/utf16.h"
#include "qovira/table/utf8.h"
#include "qovira/table/white_space.h"

namespace qovira {
namespace {

constexpr std::string_view MISSING_TEXT_REASON = "缺少 text 文字列";
constexpr std::string_view MISSING_CODE_REASON = "缺少 code 编码列";
constexpr std::string_view EMPTY_CODE_REASON = "编码为空";
constexpr std::string_view RIME_BAD_CODE_REASON = "只支持小写字母、空格分隔的音节和 , . ; /";
constexpr std::string_view RIME_CODE_TOO_LONG_REASON = "编码长度超过 255";
constexpr std::string_view BINGLING_BAD_CODE_REASON = "只支持小写 ASCII 编码";
constexpr std::string_view CODE_NOT_DECLARED_REASON = "编码包含字母表未声明的字符";
constexpr std::string_view IGNORED_REASON = "以 $ 开头或只剩标注的词条，导入器不收";

// A trailing "[abc]" of up to this many letters is an annotation, not part of the text.
constexpr std::size_t MAX_TEXT_TAG_LETTERS = 8;

bool is_ascii_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_rime_code_byte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || c == ',' || c == '.' || c == ';' || c == '/';
}

bool is_bingling_code_byte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || c == '/';
}

// Cuts a trailing tag such as "[abc]" off a 冰凌 text; other bracketed endings stay.
std::string_view strip_text_tag(std::string_view text) {
  if (!text.ends_with(']')) {
    return text;
  }
  const std::size_t open = text.rfind('[');
  if (open == std::string_view::npos) {
    return text;
  }
  const std::string_view tag = text.substr(open + 1, text.size() - open - 2);
  if (tag.empty() || tag.size() > MAX_TEXT_TAG_LETTERS ||
      !std::ranges::all_of(tag, is_ascii_letter)) {
    return text;
  }
  return trim_end(text.substr(0, open));
}

bool is_full_width_letter(char32_t c) {
  return (c >= U'Ａ' && c <= U'Ｚ') || (c >= U'ａ' && c <= U'ｚ');
}

// ASCII for a full-width letter or code punctuation mark, else 0.
char half_width_of(char32_t c) {
  if (c >= U'Ａ' && c <= U'Ｚ') {
    return static_cast<char>('A' + (c - U'Ａ'));
  }
  if (c >= U'ａ' && c <= U'ｚ') {
    return static_cast<char>('a' + (c - U'ａ'));
  }
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

bool is_phrase_rule_piece(std::string_view piece) {
  return piece.starts_with('p') && std::ranges::all_of(piece, [](char c) {
           return c == 'p' || (c >= '0' && c <= '9') || c == '(' || c == ')' || c == '*' ||
                  c == '+' || c == '-';
         });
}

}  // namespace

bool too_many_invalid_rows(std::uint64_t valid, std::uint64_t invalid) {
  constexpr std::uint64_t TOLERATED_INVALID_ROWS = 100;
  constexpr std::uint64_t VALID_ROWS_PER_INVALID = 10;
  constexpr std::uint64_t MAX = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t scaled =
      invalid > MAX / VALID_ROWS_PER_INVALID ? MAX : invalid * VALID_ROWS_PER_INVALID;
  return invalid > TOLERATED_INVALID_ROWS && scaled > std::max<std::uint64_t>(valid, 1);
}

bool importer_takes(TableFormat format, EntryRefusal refusal) {
  return refusal == EntryRefusal::None ||
         (format == TableFormat::Bingling && refusal != EntryRefusal::BadCodeCharacter &&
          refusal_blocks_import(format, refusal));
}

bool refusal_blocks_import(TableFormat format, EntryRefusal refusal) {
  if (format != TableFormat::Bingling) {
    return false;
  }
  switch (refusal) {
    case EntryRefusal::EmptyCode:
    case EntryRefusal::BadCodeCharacter:
    case EntryRefusal::CodeTooLong:
    case EntryRefusal::TextTooLong:
    case EntryRefusal::CodeNotDeclared:
      return true;
    default:
      return false;
  }
}

std::string_view refusal_reason(TableFormat format, EntryRefusal refusal) {
  const bool bingling = format == TableFormat::Bingling;
  switch (refusal) {
    case EntryRefusal::None:
      return {};
    case EntryRefusal::MissingText:
      return MISSING_TEXT_REASON;
    case EntryRefusal::MissingCode:
      return MISSING_CODE_REASON;
    case EntryRefusal::EmptyCode:
      return bingling ? MB_CODE_LENGTH_REASON : EMPTY_CODE_REASON;
    case EntryRefusal::BadCodeCharacter:
      return bingling ? BINGLING_BAD_CODE_REASON : RIME_BAD_CODE_REASON;
    case EntryRefusal::CodeTooLong:
      return bingling ? MB_CODE_LENGTH_REASON : RIME_CODE_TOO_LONG_REASON;
    case EntryRefusal::TextTooLong:
      return MB_TEXT_LENGTH_REASON;
    case EntryRefusal::CodeNotDeclared:
      return CODE_NOT_DECLARED_REASON;
    case EntryRefusal::Ignored:
      return IGNORED_REASON;
  }
  return {};
}

bool is_format_code_character(TableFormat format, char32_t c) {
  if (c >= 0x80) {
    return false;
  }
  const auto byte = static_cast<unsigned char>(c);
  return format == TableFormat::Bingling ? is_bingling_code_byte(byte) : is_rime_code_byte(byte);
}

std::uint64_t parse_weight(std::string_view raw) {
  return parse_unsigned(trim(raw)).value_or(0);
}

bool has_full_width_letter(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    if (is_full_width_letter(next_char(text, pos))) {
      return true;
    }
  }
  return false;
}

bool mb_header_holds_phrase_rules(const std::vector<std::string>& rules) {
  std::size_t units = 0;
  for (const std::string& rule : rules) {
    units += (units > 0 ? 1 : 0) + utf16_length(rule);
  }
  return units <= MB_PHRASE_RULES_READ_UNITS;
}

std::optional<std::string> half_width_code(std::string_view code) {
  // Full-width forms all start with a byte of 0xE3 or 0xEF.
  if (std::ranges::none_of(code, [](char c) { return static_cast<unsigned char>(c) >= 0xE3; })) {
    return std::nullopt;
  }
  std::string out;
  out.reserve(code.size());
  bool changed = false;
  for (std::size_t pos = 0; pos < code.size();) {
    const std::size_t start = pos;
    const char half = half_width_of(next_char(code, pos));
    if (half != 0) {
      out.push_back(half);
      changed = true;
    } else {
      out.append(code.substr(start, pos - start));
    }
  }
  if (!changed) {
    return std::nullopt;
  }
  return out;
}

EntryReader::EntryReader(const TableText& table)
    : format_(table.format()), weighted_(table.weighted()) {
  if (format_ == TableFormat::Bingling) {
    const auto& settings = table.bingling_settings();
    const auto declared = settings.find("codecharacters");
    declared_alphabet_ = declared != settings.end() ? declared->second : BINGLING_DEFAULT_ALPHABET;
  }
}

EntryReading EntryReader::read(const TextLine& line) {
  return format_ == TableFormat::Bingling ? read_bingling(line) : read_rime(line);
}

EntryReading EntryReader::read_rime(const TextLine& line) {
  EntryReading reading;
  reading.text = line.text;
  if (!line.has_text || line.text.empty()) {
    reading.refusal = EntryRefusal::MissingText;
    reading.code = line.code;
    return reading;
  }
  if (!line.has_code || line.code.empty()) {
    reading.refusal = EntryRefusal::MissingCode;
    return reading;
  }
  reading.weight = parse_weight(line.weight);
  // Nearly every code is printable ASCII without white space, and is keyed as it stands.
  if (std::ranges::all_of(line.code, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x80;
      })) {
    reading.code = line.code;
  } else {
    code_ = join_code(line.code);
    reading.code = code_;
  }
  if (reading.code.empty()) {
    reading.refusal = EntryRefusal::EmptyCode;
    reading.code = line.code;
  } else if (!std::ranges::all_of(reading.code, [](char c) {
               return is_rime_code_byte(static_cast<unsigned char>(c));
             })) {
    reading.refusal = EntryRefusal::BadCodeCharacter;
  } else if (reading.code.size() > MB_MAX_CODE_BYTES) {
    reading.refusal = EntryRefusal::CodeTooLong;
  } else if (utf16_length(line.text) > MB_MAX_TEXT_UNITS) {
    reading.refusal = EntryRefusal::TextTooLong;
  }
  return reading;
}

EntryReading EntryReader::read_bingling(const TextLine& line) {
  EntryReading reading;
  reading.code = code_as_written(line);
  if (!line.has_code || reading.code.empty()) {
    reading.refusal = EntryRefusal::MissingCode;
    return reading;
  }
  if (!line.has_text || line.text.empty()) {
    reading.refusal = EntryRefusal::MissingText;
    return reading;
  }
  reading.text = strip_text_tag(line.text);
  if (reading.text.empty() || reading.text.starts_with('$')) {
    reading.refusal = EntryRefusal::Ignored;
    return reading;
  }
  reading.pinned = line.pinned;
  reading.weight = parse_weight(line.weight);
  if (std::ranges::any_of(line.code, [](char c) { return c >= 'A' && c <= 'Z'; })) {
    code_ = ascii_lower(line.code);
    reading.code = code_;
  } else {
    reading.code = line.code;
  }
  if (!std::ranges::all_of(reading.code, [](char c) {
        return is_bingling_code_byte(static_cast<unsigned char>(c));
      })) {
    reading.refusal = EntryRefusal::BadCodeCharacter;
    reading.code = code_as_written(line);  // the importer names the code as written
  } else if (reading.code.empty()) {
    reading.refusal = EntryRefusal::EmptyCode;
  } else if (reading.code.size() > MB_MAX_CODE_BYTES) {
    reading.refusal = EntryRefusal::CodeTooLong;
  } else if (std::ranges::any_of(reading.code, [this](char c) {
               return declared_alphabet_.find(c) == std::string::npos;
             })) {
    reading.refusal = EntryRefusal::CodeNotDeclared;
  } else if (utf16_length(reading.text) > MB_MAX_TEXT_UNITS) {
    reading.refusal = EntryRefusal::TextTooLong;
  }
  return reading;
}

SettingRefusal read_setting(std::string_view key, std::string_view value) {
  if (key == "codelength") {
    const auto length = parse_unsigned(value);
    if (!length) {
      return SettingRefusal::CodeLengthNotInteger;
    }
    return *length < 1 || *length > BINGLING_MAX_CODE_LENGTH ? SettingRefusal::CodeLengthOutOfRange
                                                             : SettingRefusal::None;
  }
  if (key == "codecharacters") {
    return validate_alphabet(value) ? SettingRefusal::None : SettingRefusal::BadAlphabet;
  }
  if (key == "phraserule") {
    return mb_header_holds_phrase_rules(bingling_phrase_rules(value))
               ? SettingRefusal::None
               : SettingRefusal::PhraseRulesTooLong;
  }
  if (key == "name") {
    return utf16_length(value) > bingling_name_room() ? SettingRefusal::NameTooLong
                                                      : SettingRefusal::None;
  }
  return SettingRefusal::None;
}

std::vector<std::string> bingling_phrase_rules(std::optional<std::string_view> value) {
  std::vector<std::string> rules;
  if (value) {
    std::size_t start = 0;
    while (true) {
      const std::size_t end = value->find('/', start);
      const std::string_view piece =
          trim(value->substr(start, end == std::string_view::npos ? end : end - start));
      if (is_phrase_rule_piece(piece)) {
        rules.emplace_back(piece);
      }
      if (end == std::string_view::npos) {
        break;
      }
      start = end + 1;
    }
  }
  if (rules.empty()) {
    rules.emplace_back(DEFAULT_PHRASE_RULE);
  }
  return rules;
}

std::size_t rime_name_room(bool table_only_marker) {
  const std::size_t marker_line =
      table_only_marker ? 1 + utf16_length(RIME_TABLE_ONLY_MARKER_LINE) : 0;
  return MB_DESCRIPTION_UNITS - 1 - utf16_length(RIME_DESCRIPTION_PREFIX) - marker_line;
}

std::string cut_to_utf16_units(std::string_view text, std::size_t units) {
  std::size_t taken = 0;
  std::size_t end = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    taken += next_char(text, pos) >= 0x10000 ? 2 : 1;
    if (taken > units) {
      break;
    }
    end = pos;
  }
  return std::string(trim_end(text.substr(0, end)));
}

std::size_t bingling_name_room() {
  // One unit of the field stays zero to end the text.
  return MB_DESCRIPTION_UNITS - 1 - utf16_length(BINGLING_DESCRIPTION_PREFIX);
}

}  // namespace qovira
