#pragma once

#include "text/utf8_string.h"

namespace velmora {

// Delivers a finished text to the outputs the settings choose: the file (replaced, or appended in log mode) in the
// chosen encoding, then the clipboard as Unicode text. A file that cannot be opened becomes one error line for the
// host and skips the clipboard; other output failures are silent. Only bad_alloc leaves it.
void write_output(const utf8_string& text);

} // namespace velmora
