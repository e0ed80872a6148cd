#include "platform/taskbar_progress.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

namespace {

using kalo::platform::TaskbarState;
using kalo::platform::TransferPhase;

// Normal while bytes arrive, paused while a retry waits, error on a failure, nothing
// once finished; without a total the bar moves without end, and a pause or a failure
// fills it so that its colour shows.
TEST(TaskbarProgress, FollowsTheTransfersPhaseAndShare) {
  struct Case {
    TransferPhase phase;
    std::uint64_t bytes;
    std::optional<std::uint64_t> total;
    TaskbarState state;
    std::uint64_t done;
  };
  const Case cases[] = {
      {TransferPhase::kReceiving, 0, 2000, TaskbarState::kNormal, 0},
      {TransferPhase::kReceiving, 1999, 2000, TaskbarState::kNormal, 999},
      {TransferPhase::kReceiving, 5'000'000'000, 10'000'000'000, TaskbarState::kNormal, 500},
      {TransferPhase::kReceiving, 300, 200, TaskbarState::kNormal, 1000},
      {TransferPhase::kReceiving, 0, 0, TaskbarState::kNormal, 1000},
      {TransferPhase::kReceiving, 4096, std::nullopt, TaskbarState::kIndeterminate, 0},
      {TransferPhase::kWaitingToRetry, 500, 2000, TaskbarState::kPaused, 250},
      {TransferPhase::kWaitingToRetry, 500, std::nullopt, TaskbarState::kPaused, 1000},
      {TransferPhase::kFailed, 1500, 2000, TaskbarState::kError, 750},
      {TransferPhase::kFailed, 0, std::nullopt, TaskbarState::kError, 1000},
      {TransferPhase::kFinished, 2000, 2000, TaskbarState::kNoProgress, 0},
      {TransferPhase::kFinished, 10, std::nullopt, TaskbarState::kNoProgress, 0},
  };
  for (const Case& c : cases) {
    kalo::platform::TransferProgress progress;
    progress.phase = c.phase;
    progress.bytes = c.bytes;
    progress.total = c.total;
    const kalo::platform::TaskbarProgress shown = kalo::platform::TaskbarProgressOf(progress);
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(shown.state, c.state);
    EXPECT_EQ(shown.done, c.done);
  }
}

}  // namespace
