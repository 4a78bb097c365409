// The mends of a table's whole text, made before its lines are repaired one by one: the encoding,
// line ends, a byte-order mark that hides the header, 冰凌 markers in a Rime dictionary, 冰凌
// section lines and the Rime header. Each is a recorded change with its basis.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/app/repair/repair.h"
#include "qovira/table/encoding.h"
#include "qovira/table/model.h"
#include "qovira/table/table_text.h"

namespace qovira {

// The text the line rules read, and what the mends made of the source.
struct MendedText {
  std::string_view source;            // the text as given: the text read while no mend rewrote it
  std::optional<std::string> mended;  // the text as the mends rewrote it
  TableFormat format = TableFormat::Unknown;  // the format to repair the text as
  RepairItems changes;                        // line 0 for the whole file, else the line concerned
  RepairItems kept;                           // what the mends found and did not dare to change
  // Lines of the text the line rules must take out, in order of line, each with its item.
  std::vector<RepairItem> taken_out;
  // The lines of a header put in front of the text: no line of the source.
  std::uint64_t added_header_lines = 0;

  std::string_view text() const { return mended ? std::string_view(*mended) : source; }
};

// The mends of a decoded text detected as `format`; the result may view `text`. `base_name` names
// a Rime header added to a text without one.
MendedText mend_text(std::string_view text, TableFormat format, std::string_view base_name);

// The same for a file's bytes, read as the encoding judged from the whole file: the lines of
// damaged UTF-8 that hold damaged bytes are to be taken out, a GB18030 table is converted. Fails
// only for bytes that are no text; the result may view `bytes`.
std::expected<MendedText, TableError> mend_source(ByteView bytes, std::string_view base_name);
// The same for bytes already decoded or judged, as `encoding` says: read that way, not probed
// again.
std::expected<MendedText, TableError> mend_source(ByteView bytes, const EncodingVerdict& encoding,
                                                  std::string_view base_name);

}  // namespace qovira
