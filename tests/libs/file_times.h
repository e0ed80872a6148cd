// Modification times of test files, in whole seconds, on every system.
#pragma once

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>

#include "helpers/utf8_path.h"

namespace kalo::test {

inline std::time_t Mtime(const std::string& path) {
  const auto when =
      std::chrono::file_clock::to_sys(std::filesystem::last_write_time(FromUtf8(path)));
  return std::chrono::floor<std::chrono::seconds>(when).time_since_epoch().count();
}

inline void SetMtime(const std::string& path, std::time_t mtime) {
  std::filesystem::last_write_time(
      FromUtf8(path),
      std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(mtime))));
}

}  // namespace kalo::test
