#include "platform/shared_library.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>

#include <vector>

#include "platform/error.h"
#include "platform/posix/unique_fd.h"

namespace kalo::platform {
namespace {

std::string LastLoaderError() {
  const char* text = ::dlerror();
  return text != nullptr ? text : "";
}

constexpr unsigned char kNativeClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;

bool ReadAt(int fd, void* into, std::size_t size, off_t offset) {
  return ::pread(fd, into, size, offset) == static_cast<ssize_t>(size);
}

// True unless `path` is a library of this system whose headers declare bytes past its
// end. The loader maps every segment as declared, and touching a page beyond the end
// of the file kills the process (SIGBUS) where a broken library should only fail to
// load. Anything that is no such library is left for the loader to refuse.
bool HoldsItsSegments(const std::string& path) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  ElfW(Ehdr) header{};
  if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      !ReadAt(fd.get(), &header, sizeof header, 0) ||
      std::string_view(reinterpret_cast<const char*>(header.e_ident), SELFMAG) != ELFMAG ||
      header.e_ident[EI_CLASS] != kNativeClass || header.e_phentsize != sizeof(ElfW(Phdr))) {
    return true;
  }
  const auto size = static_cast<std::uint64_t>(status.st_size);
  const std::uint64_t table_size = std::uint64_t{header.e_phnum} * sizeof(ElfW(Phdr));
  if (header.e_phoff > size || table_size > size - header.e_phoff) {
    return false;
  }
  std::vector<ElfW(Phdr)> segments(header.e_phnum);
  if (!ReadAt(fd.get(), segments.data(), table_size, static_cast<off_t>(header.e_phoff))) {
    return false;
  }
  for (const ElfW(Phdr) & segment : segments) {
    if (segment.p_offset > size || segment.p_filesz > size - segment.p_offset) {
      return false;
    }
  }
  return true;
}

}  // namespace

void SharedLibrary::Closer::operator()(void* handle) const {
  ::dlclose(handle);
}

SharedLibrary::SharedLibrary(const std::string& path) : path_(path) {
  if (!HoldsItsSegments(path)) {
    throw Error(error_number::kFileNotFound,
                "Não foi possível carregar a biblioteca " + path +
                    " (o arquivo é mais curto do que seus cabeçalhos declaram)",
                "SharedLibrary");
  }
  // Bound at once, so that a library missing a dependency fails here rather than
  // in the middle of an extraction.
  handle_.reset(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!handle_) {
    throw Error(error_number::kFileNotFound,
                "Não foi possível carregar a biblioteca " + path + " (" + LastLoaderError() + ")",
                "SharedLibrary");
  }
}

void* SharedLibrary::Function(const std::string& name) const {
  ::dlerror();
  void* address = ::dlsym(handle_.get(), name.c_str());
  if (address == nullptr) {
    throw Error(error_number::kEntryPointNotFound,
                "A biblioteca " + path_ + " não exporta a função " + name, "SharedLibrary");
  }
  return address;
}

}  // namespace kalo::platform
