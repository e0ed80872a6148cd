#include "platform/user32/dpi.h"

#include "platform/user32/window_objects.h"

namespace kalo::platform {
namespace {

// A function of user32 looked up at run time, so that the program still starts on
// systems older than the function; null there.
template <typename Function>
Function* UserFunction(const char* name) {
  const FARPROC address = ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name);
  return reinterpret_cast<Function*>(reinterpret_cast<void*>(address));
}

// The per-monitor scaling of Windows 10 (1607 and later).
struct MonitorScaling {
  decltype(::SetProcessDpiAwarenessContext)* set_awareness =
      UserFunction<decltype(::SetProcessDpiAwarenessContext)>("SetProcessDpiAwarenessContext");
  decltype(::GetDpiForWindow)* dpi_of_window =
      UserFunction<decltype(::GetDpiForWindow)>("GetDpiForWindow");
  decltype(::AdjustWindowRectExForDpi)* frame_for_dpi =
      UserFunction<decltype(::AdjustWindowRectExForDpi)>("AdjustWindowRectExForDpi");
};

const MonitorScaling& Scaling() {
  static const MonitorScaling scaling;
  return scaling;
}

}  // namespace

void BecomeDpiAware() {
  // It can be set only once.
  [[maybe_unused]] static const bool aware = [] {
    return (Scaling().set_awareness != nullptr &&
            Scaling().set_awareness(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) ||
           ::SetProcessDPIAware();
  }();
}

UINT DpiOf(HWND window) {
  if (Scaling().dpi_of_window != nullptr) {
    return Scaling().dpi_of_window(window);
  }
  const WindowDc screen(nullptr);
  return static_cast<UINT>(::GetDeviceCaps(screen.get(), LOGPIXELSY));
}

SIZE FrameSize(SIZE client, DWORD style, DWORD ex_style, UINT dpi) {
  RECT frame{0, 0, client.cx, client.cy};
  if (Scaling().frame_for_dpi != nullptr) {
    Scaling().frame_for_dpi(&frame, style, FALSE, ex_style, dpi);
  } else {
    ::AdjustWindowRectEx(&frame, style, FALSE, ex_style);
  }
  return {frame.right - frame.left, frame.bottom - frame.top};
}

}  // namespace kalo::platform
