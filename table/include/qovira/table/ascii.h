// Settings, weights and keys are ASCII: numbers and letter case are read byte by byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qovira {

// An unsigned decimal integer with an optional leading "+", digits only and no overflow.
std::optional<std::uint64_t> parse_unsigned(std::string_view text);

// True when every byte is ASCII and `ascii_lower` of the texts are equal.
bool equals_ignoring_ascii_case(std::string_view a, std::string_view b);

std::string ascii_lower(std::string_view text);

}  // namespace qovira
