// The window's taskbar button as a progress bar, through the shell's ITaskbarList3.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shobjidl.h>

#include <memory>
#include <optional>

#include "platform/taskbar_progress.h"

namespace kalo::platform {

// Joins this thread to a single-threaded COM apartment for as long as it lives; a thread
// already in one of either kind is left as it is.
class ComApartment {
 public:
  ComApartment() : joined_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComApartment() {
    if (joined_) {
      ::CoUninitialize();
    }
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool joined_;
};

struct ComReleaser {
  void operator()(IUnknown* object) const { object->Release(); }
};

// Reaches the taskbar at the first progress shown. A shell without a taskbar, or one
// that refuses a call, shows nothing: a progress display is never worth a failed run.
class TaskbarButton {
 public:
  TaskbarButton() = default;
  TaskbarButton(const TaskbarButton&) = delete;
  TaskbarButton& operator=(const TaskbarButton&) = delete;

  void Show(HWND window, const TaskbarProgress& progress);

 private:
  ITaskbarList3* Taskbar();

  std::optional<TaskbarProgress> shown_;
  bool reached_ = false;  // the taskbar was asked for, whether it answered or not
  std::optional<ComApartment> apartment_;
  // Released before the apartment is left.
  std::unique_ptr<ITaskbarList3, ComReleaser> taskbar_;
};

}  // namespace kalo::platform
