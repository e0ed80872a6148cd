#include "support/kept_checkpoints.h"

namespace cUpdate {

KeptCheckpoints::KeptCheckpoints(const KeptDownload* kept, kalo::platform::AtomicFile& file)
    : kept_(kept), file_(file) {
  if (kept_) {
    worker_ = std::thread([this] { Work(); });
  }
}

KeptCheckpoints::~KeptCheckpoints() {
  if (worker_.joinable()) {
    {
      std::unique_lock lock(mutex_);
      WaitUntilIdle(lock);
      stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
  }
}

void KeptCheckpoints::Identified(const kalo::platform::ResumePoint& point) {
  point_ = point;
}

void KeptCheckpoints::Wrote() {
  // Looked at without the lock: only the writing thread touches `point_`.
  const std::uint64_t length = file_.Length();
  if (!kept_ || !Continuable() || length < point_.offset + kEveryBytes) {
    return;
  }
  {
    const std::scoped_lock lock(mutex_);
    if (pending_) {
      return;
    }
    point_.offset = length;
    pending_ = point_;
  }
  changed_.notify_all();
}

void KeptCheckpoints::Restarting() {
  std::unique_lock lock(mutex_);
  WaitUntilIdle(lock);
  point_ = {};
}

void KeptCheckpoints::Settle() {
  std::unique_lock lock(mutex_);
  WaitUntilIdle(lock);
}

void KeptCheckpoints::Keep() noexcept {
  if (!kept_) {
    return;
  }
  try {
    std::unique_lock lock(mutex_);
    WaitUntilIdle(lock);
    // A body that cannot be continued needs no flush, only a record that says so.
    if (!Continuable()) {
      kept_->note({});
      return;
    }
    point_.offset = file_.Length();
    Checkpoint(point_);
  } catch (...) {
    // Nothing kept: the next run fetches the file from its first byte.
  }
}

void KeptCheckpoints::WaitUntilIdle(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [this] { return !pending_; });
}

void KeptCheckpoints::Checkpoint(const kalo::platform::ResumePoint& point) {
  file_.Flush();
  kept_->note(point);
}

void KeptCheckpoints::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return pending_ || stopping_; });
    if (!pending_) {
      return;
    }
    const kalo::platform::ResumePoint point = *pending_;
    lock.unlock();
    try {
      Checkpoint(point);
    } catch (...) {
      // A checkpoint missed costs only the bytes since the one before.
    }
    lock.lock();
    pending_.reset();
    changed_.notify_all();
  }
}

}  // namespace cUpdate
