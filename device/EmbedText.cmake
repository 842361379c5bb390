# cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DHEADER=<include> -DFUNCTION=<name> -P EmbedText.cmake
# Writes a C++ source whose function returns the bytes of INPUT unchanged as a string_view.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT}; do not edit.
#include \"${HEADER}\"

namespace {
const char kBytes[${size}] = {
    ${bytes}
};
} // namespace

std::string_view ${FUNCTION}() { return {kBytes, sizeof kBytes}; }
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
