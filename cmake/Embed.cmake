# cmake -DINPUT=file -DOUTPUT=file.cpp -DNAME=symbol -P Embed.cmake
# Writes a C++ source holding the input's bytes as qlpr::NAME and its size.
file(READ ${INPUT} content HEX)
string(LENGTH "${content}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${content}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT} "// Generated from ${INPUT}; do not edit.\nnamespace qlpr {\nextern const unsigned char ${NAME}[] = {\n${bytes}0};\nextern const unsigned long ${NAME}Size = ${size};\n}\n")
