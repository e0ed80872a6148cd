// The Windows build has no desktop window yet: it runs in the unattended mode only,
// and asking for the window ends with an error instead of a blank screen.
#include "platform/desktop_window.h"

#include "platform/error.h"

namespace kalo::platform {

bool DisplayAvailable() {
  return false;
}

std::unique_ptr<DesktopWindow> MakeDesktopWindow(WindowEvents&) {
  throw Error(error_number::kDeviceUnavailable,
              "A janela do atualizador ainda não existe na versão para Windows; use --unattended",
              "DesktopWindow");
}

}  // namespace kalo::platform
