#pragma once

#include <windows.h>

#include "boundary/host_boundary.h"

// The host's shared library: UTF-8 wrappers of Win32 calls. Destination strings are filled through their tables.
extern "C" {
BOOL __cdecl uExpandEnvironmentStrings(const char* source, kestrune::utf8_string* destination);
BOOL __cdecl uGetDlgItemText(HWND dialog, UINT control_id, kestrune::utf8_string* destination);
BOOL __cdecl uSetDlgItemText(HWND dialog, UINT control_id, const char* text);
BOOL __cdecl uSetWindowText(HWND window, const char* text);
BOOL __cdecl uGetOpenFileName(HWND parent, const char* filter_list, UINT filter_index, const char* default_extension,
                              const char* title, const char* initial_path, kestrune::utf8_string* file_name, BOOL save);
}
