#pragma once

#include <cstddef>

#include "text/exact_text_buffer.h"

namespace velmora {

// UTF-8 to UTF-16 ends silently before the first invalid sequence; code points above U+10FFFF become '?'.

// Units needed for the text, the terminator included.
std::size_t utf8_to_wide_units(const char* text) noexcept;

// Writes at most capacity - 1 units and a terminator (nothing when capacity is 0), never half a surrogate pair.
// Gives the number of units written before the terminator.
std::size_t utf8_to_wide(wchar_t* output, std::size_t capacity, const char* text) noexcept;

wide_string utf8_to_wide(const char* text);

// A lone surrogate is encoded by itself, as three bytes.
byte_buffer wide_to_utf8(const wchar_t* text);

// In the system ANSI code page; characters it lacks get the system's replacement character.
byte_buffer utf8_to_ansi(const char* text);

} // namespace velmora
