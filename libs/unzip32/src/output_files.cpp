// The parts of extraction's file-system side that every system shares; the system calls
// are in posix/ and win32/.
#include "output_files.h"

#include <chrono>
#include <random>

namespace kalo::unzip32 {
namespace {

// Different in every process and call, so that two writers in one folder rarely pick the
// same temporary name.
std::uint64_t TemporaryNameSeed() {
  static const std::uint64_t process_part = std::random_device{}();
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return (process_part << 20) ^ static_cast<std::uint64_t>(now);
}

}  // namespace

const Folder* FolderCache::Open(const Folder& root, const std::vector<std::string>& folders,
                                bool create, int& error, int& created) {
  error = 0;
  if (const auto found = open_.find(folders); found != open_.end()) {
    return &found->second;
  }
  Folder folder = OpenFolders(root, folders, create, error, created);
  if (!folder.valid()) {
    return nullptr;
  }
  if (open_.size() >= kMaxOpen) {
    open_.clear();
  }
  return &open_.emplace(folders, std::move(folder)).first->second;
}

int PendingFile::Create(FileMode mode) {
  constexpr int kAttempts = 100;
  std::uint64_t seed = TemporaryNameSeed();
  int error = 0;
  // A name taken by another writer is harmless: the next one is tried.
  for (int attempt = 0; attempt < kAttempts; ++attempt, seed = seed * 6364136223846793005ULL + 1) {
    bool taken = false;
    error = CreateNamed(".unzip32-" + std::to_string(seed % 1000000000ULL) + ".tmp", mode, taken);
    if (!taken) {
      break;
    }
  }
  return error;
}

}  // namespace kalo::unzip32
