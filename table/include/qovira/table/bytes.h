// Bytes as the table library takes and gives them: the one byte type shared with file access.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qovira {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

}  // namespace qovira
