// Letter case of ASCII text, for names the platform compares (resource names,
// settings sections and keys). Only the platform layer includes it.
#pragma once

#include <algorithm>
#include <string_view>

namespace kalo::platform {

inline bool EqualIgnoringAsciiCase(std::string_view left, std::string_view right) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return std::ranges::equal(left, right, [&lower](char a, char b) { return lower(a) == lower(b); });
}

}  // namespace kalo::platform
