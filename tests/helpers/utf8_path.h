// Paths travel through the code under test as UTF-8 text, whatever the system's own
// encoding of file names; these turn one into the other.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kalo::test {

inline std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

inline std::filesystem::path FromUtf8(std::string_view text) {
  return std::u8string(text.begin(), text.end());
}

}  // namespace kalo::test
