// A shared library loaded at run time from a given path, unloaded with its owner.
#pragma once

#include <memory>
#include <string>

namespace kalo::platform {

class SharedLibrary {
 public:
  // Throws an error numbered kFileNotFound when the library cannot be loaded.
  explicit SharedLibrary(const std::string& path);

  // The address of an exported function. Throws an error numbered kEntryPointNotFound
  // when the library does not export it.
  void* Function(const std::string& name) const;

  const std::string& Path() const { return path_; }

 private:
  struct Closer {
    void operator()(void* handle) const;
  };

  std::string path_;
  std::unique_ptr<void, Closer> handle_;
};

}  // namespace kalo::platform
