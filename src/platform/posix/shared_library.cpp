#include "platform/shared_library.h"

#include <dlfcn.h>

#include "platform/error.h"

namespace kalo::platform {
namespace {

std::string LastLoaderError() {
  const char* text = ::dlerror();
  return text != nullptr ? text : "";
}

}  // namespace

void SharedLibrary::Closer::operator()(void* handle) const {
  ::dlclose(handle);
}

SharedLibrary::SharedLibrary(const std::string& path) : path_(path) {
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
