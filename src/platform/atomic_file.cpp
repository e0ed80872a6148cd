// The parts of atomic files that every system shares: the temporary names, and the
// file-system service that writes through them.
#include "platform/atomic_file.h"

#include <algorithm>
#include <cctype>

namespace kalo::platform {
namespace {

constexpr std::string_view kTemporarySuffix = ".part-XXXXXX";

}  // namespace

std::string AtomicFile::TemporaryTemplate(const std::string& target) {
  return target + std::string(kTemporarySuffix);
}

bool IsAtomicFileTemporary(std::string_view name) {
  if (name.size() <= kTemporarySuffix.size()) {
    return false;
  }
  const std::string_view suffix = name.substr(name.size() - kTemporarySuffix.size());
  const std::string_view fixed = kTemporarySuffix.substr(0, kTemporarySuffix.find('X'));
  return suffix.starts_with(fixed) &&
         std::all_of(suffix.begin() + static_cast<std::ptrdiff_t>(fixed.size()), suffix.end(),
                     [](unsigned char c) { return std::isalnum(c) != 0; });
}

void AtomicFile::Commit(FilePermissions permissions) {
  Install(permissions, true);
}

void AtomicFile::CommitNew(FilePermissions permissions) {
  Install(permissions, false);
}

void FileSystem::WriteFileAtomically(const std::string& path, std::span<const std::byte> bytes,
                                     FilePermissions permissions) {
  AtomicFile file(path);
  file.Write(bytes);
  file.Commit(permissions);
}

void FileSystem::CopyFileAtomically(const std::string& from, const std::string& to,
                                    FilePermissions permissions) {
  AtomicFile file(to);
  ReadFileInPieces(from, [&file](std::span<const std::byte> piece) { file.Write(piece); });
  file.Flush();
  file.Commit(permissions);
}

}  // namespace kalo::platform
