// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>

#include "helpers/utf8_path.h"

namespace kalo::test {

class TempFolder {
 public:
  TempFolder() {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device random;
    std::uniform_int_distribution<unsigned long long> suffix;
    // Another test may have taken a name; a fresh one is tried then.
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::filesystem::path candidate =
          base / ("kalo-test-" + std::to_string(suffix(random)));
      if (std::filesystem::create_directory(candidate)) {
        path_ = candidate;
      }
    }
    if (path_.empty()) {
      throw std::filesystem::filesystem_error("no free name for a test folder", base,
                                              std::make_error_code(std::errc::file_exists));
    }
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    // Tests take permissions away; they are given back so that everything can go.
    const auto writable = [](const std::filesystem::path& path) {
      std::error_code ignored;
      std::filesystem::permissions(
          path, std::filesystem::perms::owner_all,
          std::filesystem::perm_options::add | std::filesystem::perm_options::nofollow, ignored);
    };
    writable(path_);
    std::error_code ignored;
    for (std::filesystem::recursive_directory_iterator entry(path_, ignored), end;
         !ignored && entry != end; entry.increment(ignored)) {
      writable(entry->path());
    }
    std::filesystem::remove_all(path_, ignored);
  }

  const std::filesystem::path& Path() const { return path_; }

  // The path of `name` inside the folder, in the system's own syntax, as the routines
  // under test take it; `name` may hold further folders separated by '/'.
  std::string operator/(std::string_view name) const {
    return Utf8((path_ / FromUtf8(name)).make_preferred());
  }

  std::string Write(std::string_view name, std::string_view content) const {
    const std::string path = *this / name;
    std::ofstream(FromUtf8(path), std::ios::binary) << content;
    return path;
  }

 private:
  std::filesystem::path path_;
};

inline std::string ReadWholeFile(const std::string& path) {
  // Through the stream's buffer whole: a byte at a time is slow in a debug build.
  std::ifstream file(FromUtf8(path), std::ios::binary);
  std::ostringstream bytes;
  if (file) {
    bytes << file.rdbuf();
  }
  return std::move(bytes).str();
}

}  // namespace kalo::test
