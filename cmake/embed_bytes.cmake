# Turns the binary file INPUT into a C++ source OUTPUT that defines the default .mb container bytes.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){32})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT}
  "// Generated from default_container.bin; do not edit.\n"
  "#include <array>\n#include <cstdint>\n\n"
  "namespace qovira::detail {\n"
  "extern const std::array<std::uint8_t, ${size}> DEFAULT_MB_CONTAINER_BYTES;\n"
  "const std::array<std::uint8_t, ${size}> DEFAULT_MB_CONTAINER_BYTES = {\n${bytes}\n};\n"
  "}  // namespace qovira::detail\n")
