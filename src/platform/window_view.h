// The updater's one window as its logic sees it: a few widgets to read and write,
// and the events it reports. The toolkit realisation lives beside the other
// platform services; the logic (FrmAtualizar) stays free of any toolkit.
#pragma once

#include <string>

namespace kalo::platform {

// The labels of the window that the logic writes.
enum class WindowLabel { kSupport1, kSupport2, kDisplay1, kDisplay2, kDisplay3 };

// What the window reports, each on the window's thread.
class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  virtual void Form_Load() = 0;
  // The user closes the window (also during a run); the program ends at once after
  // it returns, with the exit status it answers.
  virtual int Form_Unload() = 0;
  virtual void cmdImportar_Click() = 0;
  // A key typed in the name box, by its character code (13 is Enter).
  virtual void txtCliente_KeyPress(int key_code) = 0;
  // Every 100 milliseconds while the timer is enabled.
  virtual void Timer1_Timer() = 0;
};

class WindowView {
 public:
  virtual ~WindowView() = default;
  virtual void SetTitle(const std::string& title) = 0;
  virtual std::string ClientText() const = 0;
  virtual void SetClientText(const std::string& text) = 0;
  virtual void SetLabel(WindowLabel label, const std::string& text) = 0;
  // Redraws the label now, without waiting for the message loop.
  virtual void RepaintLabel(WindowLabel label) = 0;
  // Enables or disables the name box and the update button.
  virtual void SetInputEnabled(bool enabled) = 0;
  virtual void SetTimerEnabled(bool enabled) = 0;
  virtual void FocusClientText() = 0;
};

}  // namespace kalo::platform
