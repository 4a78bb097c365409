// Reads a whole .mb file into a CodeTable. The header texts are decoded leniently; the records are
// checked strictly, and every length taken from the file is checked against the bytes left first.
#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "byte_io.h"
#include "qovira/table/mb.h"
#include "qovira/table/text.h"

namespace qovira {
namespace {

constexpr std::string_view TOO_SMALL_MESSAGE = "文件太小，不足以容纳头部与索引";
constexpr std::string_view MISSING_MAGIC_MESSAGE = "缺少 Freeime Dictionary 魔数";
constexpr std::string_view EMPTY_ALPHABET_MESSAGE = "头部声明的字母表为空";
constexpr std::string_view LOST_SYNC_PREFIX = "解析在偏移 ";
constexpr std::string_view LOST_SYNC_MIDDLE = " 处失步，此前已读出 ";
constexpr std::string_view LOST_SYNC_SUFFIX = " 条";

constexpr std::size_t RECORD_HEAD_BYTES = 3;  // code length, text length, priority
// A bad record within this many bytes of the end is trailing padding, not a lost sync.
constexpr std::size_t IGNORED_TAIL_BYTES = 4;
constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

bool is_surrogate(char32_t unit) {
  return unit >= 0xD800 && unit <= 0xDFFF;
}
bool is_high_surrogate(char32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low_surrogate(char32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// A zero-padded header text of at most `max_units` units; it ends before the first zero unit.
std::string read_header_text(ByteView bytes, std::size_t offset, std::size_t max_units) {
  std::u16string units;
  for (std::size_t i = 0; i < max_units; ++i) {
    const char16_t unit = load_u16le(bytes.data() + offset + 2 * i);
    if (unit == 0) {
      break;
    }
    units.push_back(unit);
  }
  return from_utf16_lenient(units);
}

struct Alphabet {
  std::string text;
  std::array<bool, 256> has_byte{};  // code byte b stands for the character U+00bb
};

// Each of the `length` units is one character, read on past the 44-unit field when the length
// byte says so; surrogates cannot stand alone as a character and become U+FFFD.
Alphabet read_alphabet(ByteView bytes, std::size_t length) {
  Alphabet alphabet;
  for (std::size_t i = 0; i < length; ++i) {
    const char32_t unit = load_u16le(bytes.data() + MB_ALPHABET_OFFSET + 2 * i);
    append_utf8(alphabet.text, is_surrogate(unit) ? REPLACEMENT_CHARACTER : unit);
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

// Appends the UTF-8 form of strict UTF-16LE text; false when a surrogate is unpaired.
bool append_utf16le_strict(const std::uint8_t* units, std::size_t count, std::string& out) {
  for (std::size_t i = 0; i < count; ++i) {
    char32_t c = load_u16le(units + 2 * i);
    if (is_high_surrogate(c)) {
      if (i + 1 == count) {
        return false;
      }
      const char32_t low = load_u16le(units + 2 * (i + 1));
      if (!is_low_surrogate(low)) {
        return false;
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (is_low_surrogate(c)) {
      return false;
    }
    append_utf8(out, c);
  }
  return true;
}

// The size of the record at `pos` as its length bytes give it, or 0 when they are impossible
// (zero or odd lengths, or a record running past the end).
std::size_t frame_size(ByteView bytes, std::size_t pos) {
  if (!has_bytes(bytes, pos, RECORD_HEAD_BYTES)) {
    return 0;
  }
  const std::size_t code_length = bytes[pos];
  const std::size_t text_length = bytes[pos + 1];
  const std::size_t size = RECORD_HEAD_BYTES + code_length + text_length;
  if (code_length == 0 || text_length == 0 || text_length % 2 != 0 ||
      !has_bytes(bytes, pos, size)) {
    return 0;
  }
  return size;
}

// The number of records the length bytes describe before they break off. It bounds the entries
// read, so the entry list is allocated once and never beyond what the bytes can hold.
std::size_t count_record_frames(ByteView bytes) {
  std::size_t frames = 0;
  std::size_t pos = MB_RECORDS_OFFSET;
  while (const std::size_t size = frame_size(bytes, pos)) {
    ++frames;
    pos += size;
  }
  return frames;
}

// Decodes the record at `pos` into a new last entry; on a bad record nothing is appended.
// Returns the record's size, or 0 for a bad record.
std::size_t read_record(ByteView bytes, std::size_t pos, const Alphabet& alphabet,
                        std::vector<TableEntry>& entries) {
  const std::size_t size = frame_size(bytes, pos);
  if (size == 0) {
    return 0;
  }
  const std::size_t code_length = bytes[pos];
  const std::size_t text_length = bytes[pos + 1];
  const ByteView code = bytes.subspan(pos + RECORD_HEAD_BYTES, code_length);
  if (!std::ranges::all_of(code, [&](std::uint8_t b) { return alphabet.has_byte[b]; })) {
    return 0;
  }
  TableEntry& entry = entries.emplace_back();
  for (const std::uint8_t b : code) {
    append_utf8(entry.code, b);
  }
  if (!append_utf16le_strict(code.data() + code_length, text_length / 2, entry.text)) {
    entries.pop_back();
    return 0;
  }
  entry.priority = bytes[pos + 2];
  return size;
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

std::expected<CodeTable, MbReadError> read_mb(ByteView bytes) {
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
  // The whole header and index are present, so the header reads below need no checks.
  Alphabet alphabet = read_alphabet(bytes, alphabet_length);
  CodeTable table{
      .description = read_header_text(bytes, MB_DESCRIPTION_OFFSET, MB_DESCRIPTION_UNITS),
      .alphabet = std::move(alphabet.text),
      .phrase_rules = read_phrase_rules(bytes),
      .entries = {},
  };

  table.entries.reserve(count_record_frames(bytes));
  std::size_t pos = MB_RECORDS_OFFSET;
  while (pos < bytes.size()) {
    const std::size_t size = read_record(bytes, pos, alphabet, table.entries);
    if (size == 0) {
      if (bytes.size() - pos <= IGNORED_TAIL_BYTES) {
        break;
      }
      return std::unexpected(MbReadError{
          .kind = MbReadErrorKind::LostSync, .offset = pos, .records_read = table.entries.size()});
    }
    pos += size;
  }
  return table;
}

}  // namespace qovira
