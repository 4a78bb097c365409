// GB18030 decoding (and so GBK, its two-byte part), for tables saved in the legacy Chinese code
// page. The mapping is compiled in; nothing of the platform is used.
#pragma once

#include <expected>
#include <string>

#include "qovira/table/model.h"

namespace qovira {

// Decodes the whole input strictly as GB18030 into UTF-8: bytes 0x00-0x7F stand for themselves,
// two-byte codes are lead 0x81-0xFE with trail 0x40-0x7E or 0x80-0xFE, four-byte codes are
// 0x81-0xFE 0x30-0x39 0x81-0xFE 0x30-0x39 (below U+10000 by table, 0x90308130-0xE3329A35 for
// U+10000-U+10FFFF). A mark (0x84319533) comes out as U+FEFF. Any other byte or code fails with an
// UndecodableText error whose detail is "invalid gb18030 sequence of {n} bytes from index {i}"
// (the n bytes from index i form no character) or "incomplete gb18030 byte sequence from index
// {i}" (the input ends inside a code).
std::expected<std::string, TableError> decode_gb18030(ByteView bytes);

}  // namespace qovira
