#include "qovira/table/model.h"

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "qovira/table/mb.h"
#include "qovira/table/message_text.h"
#include "qovira/table/utf8.h"

namespace qovira {
namespace {

constexpr std::string_view MESSAGE_EMPTY_TABLE = "码表没有可导入的有效词条";
constexpr std::string_view MESSAGE_INVALID_CONTAINER = "默认极点容器无效，不能安全生成导入表";
constexpr std::string_view MESSAGE_INVALID_ALPHABET = "码表字母表无效：";
constexpr std::string_view MESSAGE_INVALID_ENTRY_CODE = "编码 ";
constexpr std::string_view MESSAGE_INVALID_ENTRY_REASON = " 无法导入：";
constexpr std::string_view MESSAGE_HEADER_FIELD_TOO_LONG = " 太长，无法写入极点容器头部";
constexpr std::string_view MESSAGE_TOO_MANY_INVALID_VALID = "无效记录过多（有效 ";
constexpr std::string_view MESSAGE_TOO_MANY_INVALID_INVALID = " 条、无效 ";
constexpr std::string_view MESSAGE_TOO_MANY_INVALID_TAIL = " 条），疑似列错位或码表严重损坏";
constexpr std::string_view MESSAGE_NOT_RIME_DICT = "不是完整的 Rime .dict.yaml（缺少 --- 或 ...）";
constexpr std::string_view MESSAGE_NOT_BINGLING_TABLE =
    "不是冰凌文本码表（缺少 [CODETABLEHEADER] 或 [CODETABLE]）";
constexpr std::string_view MESSAGE_INVALID_METADATA = "码表方案元数据无效：";
constexpr std::string_view MESSAGE_UNDECODABLE_TEXT = "文本编码无法读取：";

constexpr std::string_view MISSING_CODE_SHOWN = "<缺少编码>";

constexpr std::size_t SAMPLE_CODE_CHARS = 48;

bool is_alphabet_character(char c) {
  return (c >= 'a' && c <= 'z') || c == ',' || c == '.' || c == '/' || c == ';';
}

}  // namespace

void SkipLog::add(std::uint64_t line, std::string_view raw_code, std::string_view reason) {
  ++total;
  if (samples.size() >= MAX_SAMPLES) {
    return;
  }
  std::string shown;
  for (char c : raw_code) {
    if (c != '\t' && c != '\n' && c != '\r') {
      shown.push_back(c);
    }
  }
  shown.resize(first_chars(shown, SAMPLE_CODE_CHARS).size());
  if (shown.empty()) {
    shown = MISSING_CODE_SHOWN;
  }
  samples.push_back({std::move(shown), std::string(reason), line});
}

static TableError make_error(TableErrorKind kind, std::string subject = {},
                             std::string reason = {}) {
  TableError error;
  error.kind = kind;
  error.subject = std::move(subject);
  error.reason = std::move(reason);
  return error;
}

TableError TableError::empty_table() {
  return make_error(TableErrorKind::EmptyTable);
}
TableError TableError::invalid_container() {
  return make_error(TableErrorKind::InvalidContainer);
}
TableError TableError::invalid_alphabet(std::string alphabet) {
  return make_error(TableErrorKind::InvalidAlphabet, std::move(alphabet));
}
TableError TableError::invalid_entry(std::string code, std::string reason) {
  return make_error(TableErrorKind::InvalidEntry, std::move(code), std::move(reason));
}
TableError TableError::header_field_too_long(std::string field_label) {
  return make_error(TableErrorKind::HeaderFieldTooLong, std::move(field_label));
}
TableError TableError::too_many_invalid_records(std::uint64_t valid, std::uint64_t invalid) {
  TableError error = make_error(TableErrorKind::TooManyInvalidRecords);
  error.valid = valid;
  error.invalid = invalid;
  return error;
}
TableError TableError::not_rime_dict() {
  return make_error(TableErrorKind::NotRimeDict);
}
TableError TableError::not_bingling_table() {
  return make_error(TableErrorKind::NotBinglingTable);
}
TableError TableError::invalid_metadata(std::string detail) {
  return make_error(TableErrorKind::InvalidMetadata, std::move(detail));
}
TableError TableError::undecodable_text(std::string detail) {
  return make_error(TableErrorKind::UndecodableText, std::move(detail));
}

std::string TableError::message() const {
  std::string out;
  switch (kind) {
    case TableErrorKind::EmptyTable:
      out = MESSAGE_EMPTY_TABLE;
      break;
    case TableErrorKind::InvalidContainer:
      out = MESSAGE_INVALID_CONTAINER;
      break;
    case TableErrorKind::InvalidAlphabet:
      out.append(MESSAGE_INVALID_ALPHABET).append(shown_value(subject));
      break;
    case TableErrorKind::InvalidEntry:
      out.append(MESSAGE_INVALID_ENTRY_CODE).append(shown_value(subject));
      out.append(MESSAGE_INVALID_ENTRY_REASON).append(reason);
      break;
    case TableErrorKind::HeaderFieldTooLong:
      out.append(subject).append(MESSAGE_HEADER_FIELD_TOO_LONG);
      break;
    case TableErrorKind::TooManyInvalidRecords:
      out.append(MESSAGE_TOO_MANY_INVALID_VALID)
          .append(std::to_string(valid))
          .append(MESSAGE_TOO_MANY_INVALID_INVALID)
          .append(std::to_string(invalid))
          .append(MESSAGE_TOO_MANY_INVALID_TAIL);
      break;
    case TableErrorKind::NotRimeDict:
      out = MESSAGE_NOT_RIME_DICT;
      break;
    case TableErrorKind::NotBinglingTable:
      out = MESSAGE_NOT_BINGLING_TABLE;
      break;
    case TableErrorKind::InvalidMetadata:
      // The importer cuts the value inside the detail, so the words after it survive.
      out.append(MESSAGE_INVALID_METADATA).append(subject);
      break;
    case TableErrorKind::UndecodableText:
      out.append(MESSAGE_UNDECODABLE_TEXT).append(subject);
      break;
  }
  return out;
}

std::expected<void, TableError> validate_alphabet(std::string_view alphabet) {
  auto fail = [&] { return std::unexpected(TableError::invalid_alphabet(std::string(alphabet))); };
  if (alphabet.empty() || alphabet.size() > MB_MAX_ALPHABET_CHARS) {
    return fail();
  }
  std::array<bool, 128> seen{};
  for (char c : alphabet) {
    if (!is_alphabet_character(c)) {
      return fail();
    }
    auto& flag = seen[static_cast<unsigned char>(c)];
    if (flag) {
      return fail();
    }
    flag = true;
  }
  return {};
}

}  // namespace qovira
