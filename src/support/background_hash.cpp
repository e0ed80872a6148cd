#include "support/background_hash.h"

namespace cUpdate {
namespace {

// Large enough that handing a block over costs little next to hashing it, small enough
// that it is still in the shared cache when hashed; a download holds 2 MiB at most.
constexpr std::size_t kBlockBytes = 128 << 10;
constexpr std::size_t kMostPending = 16;

}  // namespace

BackgroundSha256::BackgroundSha256() : worker_([this] { HashBlocks(); }) {
  filling_.reserve(kBlockBytes);
}

BackgroundSha256::~BackgroundSha256() {
  {
    const std::lock_guard lock(mutex_);
    finishing_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) {
    worker_.join();
  }
}

void BackgroundSha256::Update(std::span<const std::byte> bytes) {
  while (!bytes.empty()) {
    const std::size_t room = kBlockBytes - filling_.size();
    const auto piece = bytes.first(std::min(room, bytes.size()));
    filling_.insert(filling_.end(), piece.begin(), piece.end());
    bytes = bytes.subspan(piece.size());
    if (filling_.size() == kBlockBytes) {
      Hand(std::move(filling_));
      const std::lock_guard lock(mutex_);
      if (spare_.empty()) {
        filling_ = Block();
        filling_.reserve(kBlockBytes);
      } else {
        filling_ = std::move(spare_.back());
        spare_.pop_back();
      }
    }
  }
}

void BackgroundSha256::Hand(Block block) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return pending_.size() < kMostPending || failure_; });
  if (failure_) {
    std::rethrow_exception(failure_);
  }
  pending_.push_back(std::move(block));
  changed_.notify_all();
}

kalo::platform::Sha256Digest BackgroundSha256::Finish() {
  if (!filling_.empty()) {
    Hand(std::move(filling_));
    filling_ = Block();
  }
  {
    std::unique_lock lock(mutex_);
    finishing_ = true;
    changed_.notify_all();
  }
  worker_.join();
  if (failure_) {
    std::rethrow_exception(failure_);
  }
  return hash_.Finish();
}

void BackgroundSha256::HashBlocks() {
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return !pending_.empty() || finishing_; });
    if (pending_.empty()) {
      return;
    }
    Block block = std::move(pending_.front());
    pending_.pop_front();
    lock.unlock();
    try {
      hash_.Update(block);
    } catch (...) {
      lock.lock();
      failure_ = std::current_exception();
      changed_.notify_all();
      return;
    }
    block.clear();
    lock.lock();
    spare_.push_back(std::move(block));
    changed_.notify_all();
  }
}

}  // namespace cUpdate
