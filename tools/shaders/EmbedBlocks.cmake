# Writes a C++ source holding the given files as byte arrays.
#   cmake -DOUTPUT=<file.cpp> -DBLOCKS="<symbol>=<file>,..." -P EmbedBlocks.cmake
set(_text "// Generated at build time from the compiled shaders; do not edit.\n#include <stddef.h>\n\n")
string(REPLACE "," ";" _blocks "${BLOCKS}")
foreach(_block IN LISTS _blocks)
  string(REGEX MATCH "^([^=]+)=(.*)$" _ "${_block}")
  set(_symbol "${CMAKE_MATCH_1}")
  file(READ "${CMAKE_MATCH_2}" _hex HEX)
  string(LENGTH "${_hex}" _length)
  math(EXPR _size "${_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n  " _bytes "${_bytes}")
  string(APPEND _text "extern const unsigned char ${_symbol}[${_size}] = {\n  ${_bytes}\n};\n"
    "extern const size_t ${_symbol}Size = ${_size};\n\n")
endforeach()
file(WRITE "${OUTPUT}.new" "${_text}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
