// Reads a whole .mb file into a CodeTable. The header texts are decoded leniently; the records are
// checked strictly, and every length taken from the file is checked against the bytes left first.
#include <algorithm>
#include <array>
#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "byte_io.h"
#include "qovira/table/mb.h"
#include "qovira/table/utf16.h"
#include "qovira/table/utf8.h"

namespace qovira {
namespace {

constexpr std::string_view TOO_SMALL_MESSAGE = "文件太小，不足以容纳头部与索引";
constexpr std::string_view MISSING_MAGIC_MESSAGE = "缺少 Freeime Dictionary 魔数";
constexpr std::string_view EMPTY_ALPHABET_MESSAGE = "头部声明的字母表为空";
constexpr std::string_view LOST_SYNC_PREFIX = "解析在偏移 ";
constexpr std::string_view LOST_SYNC_MIDDLE = " 处失步，此前已读出 ";
constexpr std::string_view LOST_SYNC_SUFFIX = " 条";

// A bad record within this many bytes of the end is trailing padding, not a lost sync.
constexpr std::size_t IGNORED_TAIL_BYTES = 4;

// The UTF-16LE units starting at `units`, as for_each_utf16_char reads them.
auto utf16le_units(const std::uint8_t* units) {
  return [units](std::size_t i) { return load_u16le(units + 2 * i); };
}

// A zero-padded header text of at most `max_units` units; it ends before the first zero unit.
std::string read_header_text(ByteView bytes, std::size_t offset, std::size_t max_units) {
  const std::uint8_t* field = bytes.data() + offset;
  std::size_t count = 0;
  while (count < max_units && load_u16le(field + 2 * count) != 0) {
    ++count;
  }
  std::string text;
  for_each_utf16_char(
      count, utf16le_units(field), [&](char32_t c) { append_utf8(text, c); },
      LoneSurrogate::Replace);
  return text;
}

struct Alphabet {
  std::string text;
  std::array<bool, 256> has_byte{};  // code byte b stands for the character U+00bb
};

// Each of the `length` units is one character, read on past the 44-unit field when the length
// byte says so; surrogates cannot stand alone as a character, and append_utf8 writes them as
// U+FFFD.
Alphabet read_alphabet(ByteView bytes, std::size_t length) {
  Alphabet alphabet;
  for (std::size_t i = 0; i < length; ++i) {
    const char16_t unit = load_u16le(bytes.data() + MB_ALPHABET_OFFSET + 2 * i);
    append_utf8(alphabet.text, unit);
    if (unit < alphabet.has_byte.size()) {
      alphabet.has_byte[unit] = true;
    }
  }
  return alphabet;
}

std::vector<std::string> read_phrase_rules(ByteView bytes) {
  const std::string joined =
      read_header_text(bytes, MB_PHRASE_RULES_OFFSET, MB_PHRASE_RULES_READ_UNITS);
  std::vector<std::string> rules;
  std::size_t start = 0;
  while (start <= joined.size()) {
    const std::size_t slash = std::min(joined.find('/', start), joined.size());
    if (slash > start) {
      rules.emplace_back(joined, start, slash - start);
    }
    start = slash + 1;
  }
  return rules;
}

// The size of the record at `pos`, or 0 when it is bad: lengths zero, odd or running past the
// end, a code byte outside the alphabet, or an unpaired surrogate in the text.
std::size_t good_record_size(ByteView bytes, std::size_t pos, const Alphabet& alphabet) {
  if (!has_bytes(bytes, pos, MB_RECORD_HEAD_BYTES)) {
    return 0;
  }
  const std::size_t code_length = bytes[pos];
  const std::size_t text_length = bytes[pos + 1];
  const std::size_t size = MB_RECORD_HEAD_BYTES + code_length + text_length;
  if (code_length == 0 || text_length == 0 || text_length % 2 != 0 ||
      !has_bytes(bytes, pos, size)) {
    return 0;
  }
  const ByteView code = bytes.subspan(pos + MB_RECORD_HEAD_BYTES, code_length);
  if (!std::ranges::all_of(code, [&](std::uint8_t b) { return alphabet.has_byte[b]; }) ||
      !for_each_utf16_char(text_length / 2, utf16le_units(code.data() + code_length),
                           [](char32_t) {})) {
    return 0;
  }
  return size;
}

// Decodes a record that passed good_record_size into `entry`.
void decode_record(ByteView bytes, std::size_t pos, TableEntry& entry) {
  // A code byte takes at most two UTF-8 bytes and a text unit three (a pair of units four), so
  // either field of a record fits here.
  std::array<char, std::max(2 * MB_MAX_CODE_BYTES, 3 * MB_MAX_TEXT_UNITS)> decoded;
  const std::size_t code_length = bytes[pos];
  const std::uint8_t* code = bytes.data() + pos + MB_RECORD_HEAD_BYTES;
  std::size_t size = 0;
  for (std::size_t i = 0; i < code_length; ++i) {
    size += put_utf8(decoded.data() + size, code[i]);
  }
  entry.code = std::string_view(decoded.data(), size);
  size = 0;
  // good_record_size has checked the text, so the walk cannot fail.
  for_each_utf16_char(bytes[pos + 1] / 2, utf16le_units(code + code_length),
                      [&](char32_t c) { size += put_utf8(decoded.data() + size, c); });
  entry.text = std::string_view(decoded.data(), size);
  entry.priority = bytes[pos + 2];
}

}  // namespace

bool has_mb_magic(ByteView bytes) {
  return bytes.size() >= MB_MAGIC.size() &&
         std::equal(MB_MAGIC.begin(), MB_MAGIC.end(), bytes.begin(),
                    [](char m, std::uint8_t b) { return static_cast<std::uint8_t>(m) == b; });
}

std::string MbReadError::message() const {
  switch (kind) {
    case MbReadErrorKind::TooSmall:
      return std::string(TOO_SMALL_MESSAGE);
    case MbReadErrorKind::MissingMagic:
      return std::string(MISSING_MAGIC_MESSAGE);
    case MbReadErrorKind::EmptyAlphabet:
      return std::string(EMPTY_ALPHABET_MESSAGE);
    case MbReadErrorKind::LostSync:
      break;
  }
  std::string text(LOST_SYNC_PREFIX);
  text += std::to_string(offset);
  text += LOST_SYNC_MIDDLE;
  text += std::to_string(records_read);
  text += LOST_SYNC_SUFFIX;
  return text;
}

std::expected<MbRecordReader, MbReadError> MbRecordReader::open(ByteView bytes) {
  if (bytes.size() < MB_RECORDS_OFFSET) {
    return std::unexpected(MbReadError{.kind = MbReadErrorKind::TooSmall});
  }
  if (!has_mb_magic(bytes)) {
    return std::unexpected(MbReadError{.kind = MbReadErrorKind::MissingMagic});
  }
  const std::size_t alphabet_length = bytes[MB_ALPHABET_LENGTH_OFFSET];
  if (alphabet_length == 0) {
    return std::unexpected(MbReadError{.kind = MbReadErrorKind::EmptyAlphabet});
  }
  // The whole header and index are present, so the header reads need no checks.
  Alphabet alphabet = read_alphabet(bytes, alphabet_length);

  // Check every record before decoding any, so that a file that loses sync costs no entries and
  // a table can be allocated once, at its final size.
  std::size_t good_records = 0;
  std::size_t pos = MB_RECORDS_OFFSET;
  while (pos < bytes.size()) {
    const std::size_t size = good_record_size(bytes, pos, alphabet);
    if (size == 0) {
      if (bytes.size() - pos <= IGNORED_TAIL_BYTES) {
        break;
      }
      return std::unexpected(MbReadError{
          .kind = MbReadErrorKind::LostSync, .offset = pos, .records_read = good_records});
    }
    ++good_records;
    pos += size;
  }
  return MbRecordReader(bytes, std::move(alphabet.text), good_records);
}

bool MbRecordReader::next(TableEntry& entry) {
  if (read_ == records_) {
    return false;
  }
  decode_record(bytes_, position_, entry);
  position_ += MB_RECORD_HEAD_BYTES + bytes_[position_] + bytes_[position_ + 1];
  ++read_;
  return true;
}

void MbRecordReader::skip(std::size_t count) {
  for (; count > 0 && read_ < records_; --count, ++read_) {
    position_ += MB_RECORD_HEAD_BYTES + bytes_[position_] + bytes_[position_ + 1];
  }
}

std::expected<CodeTable, MbReadError> read_mb(ByteView bytes) {
  auto records = MbRecordReader::open(bytes);
  if (!records) {
    return std::unexpected(records.error());
  }
  CodeTable table{
      .description = read_header_text(bytes, MB_DESCRIPTION_OFFSET, MB_DESCRIPTION_UNITS),
      .alphabet = records->alphabet(),
      .phrase_rules = read_phrase_rules(bytes),
      .entries = std::vector<TableEntry>(records->size()),
  };
  for (TableEntry& entry : table.entries) {
    records->next(entry);
  }
  return table;
}

}  // namespace qovira
