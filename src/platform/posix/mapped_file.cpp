#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include "platform/posix/unique_fd.h"

namespace kalo::platform {

MappedFile::MappedFile(const std::string& path) {
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

MappedFile::~MappedFile() {
  if (!bytes_.empty()) {
    ::munmap(const_cast<std::byte*>(bytes_.data()), bytes_.size());
  }
}

}  // namespace kalo::platform
