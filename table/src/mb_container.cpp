// The default container: the header-and-index image every written .mb starts from. Its bytes are
// generated at build time from data/default_container.bin (see tools/make_default_container.cpp).
#include <array>
#include <cstdint>

#include "qovira/table/mb.h"

namespace qovira {

namespace detail {
extern const std::array<std::uint8_t, MB_RECORDS_OFFSET> DEFAULT_MB_CONTAINER_BYTES;
}  // namespace detail

constinit const ByteView DEFAULT_MB_CONTAINER{detail::DEFAULT_MB_CONTAINER_BYTES};

}  // namespace qovira
