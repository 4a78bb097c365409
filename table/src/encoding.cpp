#include "qovira/table/encoding.h"

#include "qovira/table/ascii.h"
#include "qovira/table/decoding.h"
#include "qovira/table/gb18030.h"
#include "qovira/table/lines.h"
#include "qovira/table/table_text.h"
#include "qovira/table/utf8.h"
#include "qovira/table/white_space.h"

namespace qovira {
namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";
constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;
constexpr double MOSTLY_CHINESE = 0.5;
constexpr std::string_view HIDDEN_MARKERS[] = {RIME_HEADER_START, BINGLING_HEADER_SECTION};

bool has_utf16_mark(ByteView bytes) {
  return bytes.size() >= 2 &&
         ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF));
}

// The damaged pieces of bytes read as UTF-8, and whether they are mostly UTF-8: false when too many
// non-ASCII bytes are damaged to call them UTF-8 before another reading has been tried.
struct DamagedPieces {
  std::vector<DamagedBytes> pieces;
  bool mostly_utf8 = false;
};

DamagedPieces damaged_pieces(ByteView bytes) {
  std::vector<DamagedBytes> damaged;
  std::size_t non_ascii = 0;
  std::size_t damaged_bytes = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    if (bytes[at] < 0x80) {
      ++at;
      continue;
    }
    std::size_t bad = 0;
    const std::size_t length = utf8_sequence_length(bytes, at, bad);
    const std::size_t taken = length == 0 ? bad : length;
    if (length == 0) {
      damaged.push_back({at, bad});
      damaged_bytes += bad;
    }
    non_ascii += taken;
    at += taken;
  }
  return {std::move(damaged), damaged_bytes * DAMAGED_UTF8_SHARE <= non_ascii};
}

// CJK ideographs, radicals, punctuation and full-width forms.
bool is_chinese(char32_t c) {
  return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFFEF && c != 0xFFFD) ||
         (c >= 0x20000 && c <= 0x3FFFF);
}

// The share of the characters beyond ASCII that are Chinese.
double chinese_share(std::string_view text) {
  std::size_t beyond_ascii = 0;
  std::size_t chinese = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const char32_t c = next_char(text, pos);
    if (c == REPLACEMENT_CHARACTER) {
      continue;  // a damaged piece, no character of either reading
    }
    ++beyond_ascii;
    chinese += is_chinese(c) ? 1 : 0;
  }
  return beyond_ascii == 0 ? 0.0 : static_cast<double>(chinese) / static_cast<double>(beyond_ascii);
}

}  // namespace

EncodingVerdict judge_encoding(ByteView bytes) {
  std::string storage;
  if (decode_text_in_place(bytes, storage)) {
    return {has_utf16_mark(bytes) ? TextEncoding::Utf16 : TextEncoding::Utf8, {}};
  }
  if (has_utf16_mark(bytes)) {
    return {};
  }
  DamagedPieces damaged = damaged_pieces(bytes);
  const auto gb18030 = decode_gb18030(bytes);
  // Both readings may hold: a few GBK characters also form two-byte UTF-8 sequences (of Syriac or
  // Armenian letters), and UTF-8 often decodes as GB18030 (into Chinese-looking nonsense). A code
  // table is Chinese: UTF-8, which converts nothing, gives way only when most of what it reads is
  // not Chinese and GB18030 reads more of it as Chinese.
  if (damaged.mostly_utf8) {
    const double as_utf8 =
        gb18030 ? chinese_share(recover_damaged_utf8(bytes, damaged.pieces).text) : 1.0;
    if (!gb18030 || as_utf8 >= MOSTLY_CHINESE || as_utf8 >= chinese_share(*gb18030)) {
      return {TextEncoding::DamagedUtf8, std::move(damaged.pieces)};
    }
  }
  if (gb18030) {
    return {TextEncoding::Gb18030, {}};
  }
  // Neither reading holds: as UTF-8 no byte is converted, so the lines that hold no damaged byte
  // stay exactly as written and only the damaged ones are taken out.
  return {TextEncoding::DamagedUtf8, std::move(damaged.pieces)};
}

RecoveredUtf8 recover_damaged_utf8(ByteView bytes, std::span<const DamagedBytes> damaged) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  RecoveredUtf8 recovered;
  recovered.text.reserve(text.size() + damaged.size() * REPLACEMENT.size());
  std::size_t copied = 0;
  for (const DamagedBytes& piece : damaged) {
    recovered.text.append(text.substr(copied, piece.offset - copied));
    recovered.replaced_at.push_back(recovered.text.size());
    recovered.text.append(REPLACEMENT);
    copied = piece.offset + piece.size;
  }
  recovered.text.append(text.substr(copied));
  return recovered;
}

std::optional<std::string_view> marker_behind_byte_order_mark(std::string_view text) {
  if (!text.starts_with(UTF8_BYTE_ORDER_MARK)) {
    return std::nullopt;
  }
  std::string_view first_line;
  LineCursor(text.substr(UTF8_BYTE_ORDER_MARK.size())).next(first_line);
  for (const std::string_view marker : HIDDEN_MARKERS) {
    if (equals_ignoring_ascii_case(trim(first_line), marker)) {
      return marker;
    }
  }
  return std::nullopt;
}

}  // namespace qovira
