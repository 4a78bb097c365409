// What the bytes of a text table are, judged on the whole file: the one decision behind the
// decoding, the diagnosis's advice and the repair's conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/table/model.h"

namespace qovira {

inline constexpr std::string_view UTF8_BYTE_ORDER_MARK = "\xEF\xBB\xBF";

enum class TextEncoding : std::uint8_t {
  Utf8,         // valid UTF-8, with or without a mark
  Utf16,        // UTF-16 behind its byte-order mark, either order, decoded cleanly
  DamagedUtf8,  // UTF-8 but for a few damaged pieces, or bytes that no other reading takes
  Gb18030,      // no UTF-8, but decodes strictly as GB18030 (and so GBK)
  Undecodable,  // UTF-16 behind its mark that does not decode
};

// Bytes that begin no UTF-8 character: a maximal invalid piece.
struct DamagedBytes {
  std::size_t offset = 0;
  std::size_t size = 0;

  friend bool operator==(const DamagedBytes&, const DamagedBytes&) = default;
};

struct EncodingVerdict {
  TextEncoding encoding = TextEncoding::Undecodable;
  std::vector<DamagedBytes> damaged;  // DamagedUtf8: every damaged piece, in order
};

// Bytes that are no valid UTF-8 are still UTF-8 when at most one non-ASCII byte in
// DAMAGED_UTF8_SHARE lies outside a valid sequence: GBK text almost never forms valid UTF-8
// sequences (most of its characters break the rules of UTF-8), while UTF-8 text often decodes as
// GB18030, so a conversion would turn a slightly damaged table into nonsense.
inline constexpr std::size_t DAMAGED_UTF8_SHARE = 8;

EncodingVerdict judge_encoding(ByteView bytes);

struct RecoveredUtf8 {
  std::string text;
  std::vector<std::size_t> replaced_at;  // where each damaged piece's U+FFFD stands in `text`
};

// The text of damaged UTF-8, each damaged piece replaced by U+FFFD.
RecoveredUtf8 recover_damaged_utf8(ByteView bytes, std::span<const DamagedBytes> damaged);

// The header marker ("---" or "[CODETABLEHEADER]", in any case) that a UTF-8 byte-order mark
// hides from the importers: the first line is the mark, then the marker; nothing otherwise.
std::optional<std::string_view> marker_behind_byte_order_mark(std::string_view text);

}  // namespace qovira
