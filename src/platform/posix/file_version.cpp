#include "platform/file_version.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include "platform/executable_version.h"
#include "platform/posix/unique_fd.h"

namespace kalo::platform {
namespace {

class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
      return;
    }
    void* address = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE,
                           file.get(), 0);
    if (address != MAP_FAILED) {
      bytes_ = {static_cast<const std::byte*>(address), static_cast<std::size_t>(info.st_size)};
    }
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile() {
    if (!bytes_.empty()) {
      ::munmap(const_cast<std::byte*>(bytes_.data()), bytes_.size());
    }
  }

  std::span<const std::byte> Bytes() const { return bytes_; }

 private:
  std::span<const std::byte> bytes_;
};

}  // namespace

std::optional<FileVersion> ReadFileVersion(const std::string& path) {
  // Mapping instead of reading keeps a large file cheap: only the pages the
  // reader touches are loaded.
  const MappedFile file(path);
  return ParseExecutableVersion(file.Bytes());
}

}  // namespace kalo::platform
