#include "platform/taskbar_progress.h"

#include <algorithm>

namespace kalo::platform {

TaskbarProgress TaskbarProgressOf(const TransferProgress& progress) {
  // Without a total, a pause or a failure fills the bar, so that its colour is seen; a
  // body of no length is whole at once.
  const std::uint64_t done =
      !progress.total || *progress.total == 0
          ? kTaskbarSteps
          : std::min(progress.bytes, *progress.total) * kTaskbarSteps / *progress.total;
  switch (progress.phase) {
    case TransferPhase::kReceiving:
      return progress.total ? TaskbarProgress{TaskbarState::kNormal, done}
                            : TaskbarProgress{TaskbarState::kIndeterminate, 0};
    case TransferPhase::kWaitingToRetry:
      return {TaskbarState::kPaused, done};
    case TransferPhase::kFailed:
      return {TaskbarState::kError, done};
    case TransferPhase::kFinished:
      break;
  }
  return {};
}

}  // namespace kalo::platform
