#pragma once

#include "text/utf8_string.h"

namespace velmora {

// Delivers a finished text to the outputs the settings choose: the file (replaced in one step where it can be, or
// appended in log mode) in the chosen encoding, then the clipboard as Unicode text. A file that cannot be opened or
// written becomes one error line for the host; one that cannot be opened also skips the clipboard. Only bad_alloc
// leaves it.
void write_output(const utf8_string& text);

} // namespace velmora
