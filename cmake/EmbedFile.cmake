# cmake -DIN=file -DOUT=file.cpp -DID=name -P EmbedFile.cmake: writes the bytes of IN as a C++
# array named kEmbedded_<ID>, with kEmbedded_<ID>_size.
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT} "// Generated from ${IN}; do not edit.\n#include <cstddef>\n"
  "extern const unsigned char kEmbedded_${ID}[] = {\n${bytes}\n};\n"
  "extern const std::size_t kEmbedded_${ID}_size = ${size};\n")
