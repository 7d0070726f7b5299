# Writes the bytes of IN into OUT as a C++ array NAME and its size NAME_SIZE:
#   cmake -DIN=file -DOUT=file.cpp -DNAME=NAME -P embed_file.cmake
file(READ ${IN} bytes HEX)
string(LENGTH "${bytes}" digits)
math(EXPR size "${digits} / 2")
set(rows "")
foreach(at RANGE 0 ${digits} 32)
  string(SUBSTRING "${bytes}" ${at} 32 row)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," row "${row}")
  string(APPEND rows "  ${row}\n")
endforeach()
get_filename_component(name ${IN} NAME)
file(WRITE ${OUT} "// Made from ${name} by embed_file.cmake.\n#include <cstddef>\n\n"
     "extern const char ${NAME}[] = {\n${rows}  '\\0'};\n"
     "extern const size_t ${NAME}_SIZE = ${size};\n")
