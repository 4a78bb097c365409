// Text from a table or a path, made safe to show: on a terminal or in a window it can neither
// send control sequences, move the cursor, forge a line nor reorder what follows it.
#pragma once

#include <string>
#include <string_view>

namespace qovira {

// True when `displayable` would change `text`.
bool needs_display_escape(std::string_view text);

// `text` with these written as escapes, the way codes are quoted in the issues: the C0 controls
// other than the tab, DEL and the C1 controls ("\n", "\r", "\0", otherwise "\u{1b}": hexadecimal,
// lower case, no leading zeros), the bidirectional embedding, override and isolate controls
// U+202A–U+202E and U+2066–U+2069 ("\u{202e}"), and each byte that is not part of well-formed
// UTF-8 ("\x{ff}", always two digits; file names need not be UTF-8). Everything else, the tab
// included, is kept byte for byte.
std::string displayable(std::string_view text);

}  // namespace qovira
