#pragma once

#include "boundary/host_boundary.h"

namespace velmora {

// Writes every setting, newest first, as a record: the GUID's 16 bytes, the payload length (32-bit little-endian),
// the payload. Stream failures and aborts pass to the caller; records already written stay written.
void write_settings(kestrune::write_stream& stream, kestrune::abort_signal& abort);

// Reads records until the data ends. A foreign record is skipped whole; a setting whose payload is damaged keeps
// its value. Throws only for a broken record header, data that ends inside a payload, stream failures and aborts;
// the settings read before keep their new values.
void read_settings(kestrune::read_stream& stream, kestrune::abort_signal& abort);

// The preferences page's reset: script, exit text and encoding return to their defaults; nothing else changes.
void restore_page_defaults();

} // namespace velmora
