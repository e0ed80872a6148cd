// SHA-256 on a thread of its own: a download hashed as it streams then runs at the
// speed of the slower of the two, not of both in turn.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "platform/cryptography.h"

namespace cUpdate {

class BackgroundSha256 {
 public:
  BackgroundSha256();
  ~BackgroundSha256();
  BackgroundSha256(const BackgroundSha256&) = delete;
  BackgroundSha256& operator=(const BackgroundSha256&) = delete;

  // Takes a copy of `bytes`. Waits while the hash is several blocks behind, so that
  // memory stays bounded however fast the bytes come.
  void Update(std::span<const std::byte> bytes);

  // The digest of everything given. Throws what the hash threw.
  kalo::platform::Sha256Digest Finish();

 private:
  using Block = std::vector<std::byte>;

  void HashBlocks();
  void Hand(Block block);

  kalo::platform::Sha256 hash_;
  Block filling_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Block> pending_;
  std::vector<Block> spare_;
  bool finishing_ = false;
  std::exception_ptr failure_;
  std::thread worker_;  // last: started once everything it uses exists
};

}  // namespace cUpdate
