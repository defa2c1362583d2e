#include "ui/preferences_window.h"

namespace velmora {

HWND preferences_window = nullptr;

} // namespace velmora
