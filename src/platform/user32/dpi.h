// The window's scale: the dots per inch of the monitor it is on, on every Windows
// version the program starts on.
#pragma once

#include <windows.h>

namespace kalo::platform {

// Drawn at each monitor's own scale, the text stays sharp. Where that is not known,
// the whole desktop's scale; the system then stretches the window on other monitors.
// Call it before the process's first window; later calls change nothing.
void BecomeDpiAware();

UINT DpiOf(HWND window);

// The size of the whole window with `style` and `ex_style` whose client area is
// `client` at `dpi`.
SIZE FrameSize(SIZE client, DWORD style, DWORD ex_style, UINT dpi);

}  // namespace kalo::platform
