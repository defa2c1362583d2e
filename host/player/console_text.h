#pragma once

#include <string>

namespace stand_in {

// The bytes of the output file as one line of UTF-8 for the console, decoded in the encoding they were written in
// (0 "UTF-8", 1 "UTF-8 with header", 2 "Unicode", 3 "ANSI"), so that a text reads the same in all four. Headers
// are left out; line breaks show as \r and \n, other control characters and bytes that do not decode as \xNN, and
// unpaired UTF-16 surrogates as \uXXXX. Nothing is passed on raw.
std::string console_text(const std::string& bytes, int encoding);

} // namespace stand_in
