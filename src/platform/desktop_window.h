// The updater's window on the desktop: the widgets of the fixed layout, the modal
// boxes and the message pump of the toolkit.
#pragma once

#include <memory>

#include "platform/internet_transfer_interface.h"
#include "platform/ui.h"
#include "platform/window_view.h"

namespace kalo::platform {

class DesktopWindow : public WindowView, public Ui {
 public:
  // Reports Form_Load, shows the window centred and runs the toolkit's message loop
  // until the window is closed; answers the exit status.
  virtual int Run() = 0;
  // Shows how a transfer is going beside the window's own texts, where the desktop has
  // a place for it; the window's layout and texts stay as they are.
  virtual void ShowTransferProgress(const TransferProgress& progress) = 0;
};

// True when a display to open the window on is there.
bool DisplayAvailable();

// The window, not yet shown; `events` must outlive it.
std::unique_ptr<DesktopWindow> MakeDesktopWindow(WindowEvents& events);

}  // namespace kalo::platform
