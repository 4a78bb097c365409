// The .mb binary table format: layout constants, the reader and the writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qovira/table/model.h"

namespace qovira {

inline constexpr std::string_view MB_MAGIC = "Freeime Dictionary";
inline constexpr std::size_t MB_HEADER_SIZE = 442;
inline constexpr std::size_t MB_INDEX_SLOTS = 27'930;
inline constexpr std::size_t MB_INDEX_FANOUT = 30;
inline constexpr std::size_t MB_RECORDS_OFFSET = 112'162;  // header + index

// Header field offsets and sizes in bytes.
inline constexpr std::size_t MB_VERSION_OFFSET = 18;
inline constexpr std::size_t MB_DESCRIPTION_OFFSET = 23;
inline constexpr std::size_t MB_DESCRIPTION_UNITS = 132;
inline constexpr std::size_t MB_ALPHABET_LENGTH_OFFSET = 287;
inline constexpr std::size_t MB_ALPHABET_OFFSET = 288;
inline constexpr std::size_t MB_ALPHABET_UNITS = 44;
inline constexpr std::size_t MB_PHRASE_RULES_OFFSET = 376;
inline constexpr std::size_t MB_PHRASE_RULES_UNITS = 33;       // room in the header field
inline constexpr std::size_t MB_PHRASE_RULES_READ_UNITS = 32;  // the reader reads at most this

// A record: code length, text length in bytes and priority, then the code and the UTF-16LE text.
inline constexpr std::size_t MB_RECORD_HEAD_BYTES = 3;
// What a record can hold: a code of 1 to 255 bytes and a text of 1 to 127 UTF-16 units, as each
// length is one byte and the text's counts the bytes of whole units.
inline constexpr std::size_t MB_MAX_CODE_BYTES = 255;
inline constexpr std::size_t MB_MAX_TEXT_UNITS = 127;
// The index has no slots for alphabet positions from the fan-out on.
inline constexpr std::size_t MB_MAX_ALPHABET_CHARS = MB_INDEX_FANOUT;

// Why an entry does not fit a record, as the writer says it and the 冰凌 importer, which takes
// the same limits, says it too.
inline constexpr std::string_view MB_CODE_LENGTH_REASON = "编码长度必须为 1–255";
inline constexpr std::string_view MB_TEXT_LENGTH_REASON = "词条 UTF-16 长度必须为 1–255 字节";

// The header-and-index image every written .mb starts from (112,162 bytes).
extern const ByteView DEFAULT_MB_CONTAINER;

// True when the bytes start with the 18-byte magic.
bool has_mb_magic(ByteView bytes);

enum class MbReadErrorKind : std::uint8_t { TooSmall, MissingMagic, EmptyAlphabet, LostSync };

struct MbReadError {
  MbReadErrorKind kind = MbReadErrorKind::TooSmall;
  std::uint64_t offset = 0;        // LostSync: offset of the bad record
  std::uint64_t records_read = 0;  // LostSync: records read before it

  std::string message() const;

  friend bool operator==(const MbReadError&, const MbReadError&) = default;
};

// Reads a whole .mb file. Entries keep file order; nothing is merged or sorted.
std::expected<CodeTable, MbReadError> read_mb(ByteView bytes);

// Reads a .mb file one record at a time, so that it can be checked against a table without a second
// table in memory. Opening checks the header and every record exactly as read_mb does, so a file
// that opens always decodes in full. The bytes must outlive the reader.
class MbRecordReader {
 public:
  static std::expected<MbRecordReader, MbReadError> open(ByteView bytes);

  const std::string& alphabet() const { return alphabet_; }
  std::size_t size() const { return records_; }

  // Decodes the next record, in file order, into `entry`; false after the last one.
  bool next(TableEntry& entry);
  // Passes over up to `count` records without decoding them.
  void skip(std::size_t count);

 private:
  MbRecordReader(ByteView bytes, std::string alphabet, std::size_t records)
      : bytes_(bytes), alphabet_(std::move(alphabet)), records_(records) {}

  ByteView bytes_;
  std::string alphabet_;
  std::size_t records_ = 0;
  std::size_t read_ = 0;
  std::size_t position_ = MB_RECORDS_OFFSET;
};

// Builds a whole .mb file on the given container (magic and version text come from it).
std::expected<Bytes, TableError> build_mb(const CodeTable& table, ByteView container);

namespace detail {
// Record offsets are 32 bits and 0xFFFFFFFF marks an empty index slot, so no record may start
// beyond this offset.
inline constexpr std::uint64_t MB_MAX_RECORD_OFFSET = 0xFFFF'FFFEu;

// build_mb with a lower limit for the record offsets, so that the limit can be tested without
// gigabytes of entries.
std::expected<Bytes, TableError> build_mb_with_offset_limit(const CodeTable& table,
                                                            ByteView container,
                                                            std::uint64_t max_record_offset);
}  // namespace detail

}  // namespace qovira
