#include "platform/user32/taskbar_button.h"

namespace kalo::platform {
namespace {

TBPFLAG FlagOf(TaskbarState state) {
  switch (state) {
    case TaskbarState::kIndeterminate:
      return TBPF_INDETERMINATE;
    case TaskbarState::kNormal:
      return TBPF_NORMAL;
    case TaskbarState::kError:
      return TBPF_ERROR;
    case TaskbarState::kPaused:
      return TBPF_PAUSED;
    case TaskbarState::kNoProgress:
      break;
  }
  return TBPF_NOPROGRESS;
}

}  // namespace

void TaskbarButton::Show(HWND window, const TaskbarProgress& progress) {
  // Each piece of a transfer reports; the taskbar hears only what changes.
  if (shown_ == progress) {
    return;
  }
  shown_ = progress;
  ITaskbarList3* taskbar = Taskbar();
  if (taskbar == nullptr) {
    return;
  }
  // A value set while the bar shows nothing or moves without end turns it normal, so the
  // value goes first and the state after it.
  if (progress.state != TaskbarState::kNoProgress &&
      progress.state != TaskbarState::kIndeterminate) {
    taskbar->SetProgressValue(window, progress.done, kTaskbarSteps);
  }
  taskbar->SetProgressState(window, FlagOf(progress.state));
}

ITaskbarList3* TaskbarButton::Taskbar() {
  if (!reached_) {
    reached_ = true;
    apartment_.emplace();
    ITaskbarList3* taskbar = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(&taskbar)))) {
      taskbar_.reset(taskbar);
      if (FAILED(taskbar_->HrInit())) {
        taskbar_.reset();
      }
    }
  }
  return taskbar_.get();
}

}  // namespace kalo::platform
