// What the window's taskbar button shows of a transfer: a state and how far along it is.
// The mapping is the system's concern only in its last step, so it lives here, apart
// from the calls that show it.
#pragma once

#include <cstdint>

#include "platform/internet_transfer_interface.h"

namespace kalo::platform {

// The taskbar button's progress states, as the Windows taskbar names them.
enum class TaskbarState { kNoProgress, kIndeterminate, kNormal, kError, kPaused };

// How far along, in steps of a thousand: finer than any taskbar button draws, coarse
// enough that a transfer's many pieces do not each call the taskbar.
inline constexpr std::uint64_t kTaskbarSteps = 1000;

struct TaskbarProgress {
  TaskbarState state = TaskbarState::kNoProgress;
  std::uint64_t done = 0;  // of kTaskbarSteps; meaningful for kNormal, kError and kPaused

  bool operator==(const TaskbarProgress&) const = default;
};

// Normal while bytes arrive (indeterminate without a total), paused while a retry
// waits, error on a failure, nothing once finished.
TaskbarProgress TaskbarProgressOf(const TransferProgress& progress);

}  // namespace kalo::platform
