#include "entry_names.h"

#include <algorithm>

namespace kalo::unzip32 {
namespace {

char Fold(char c, bool case_sensitive) {
  if (c == '\\') {
    return '/';
  }
  if (!case_sensitive && c >= 'A' && c <= 'Z') {
    return static_cast<char>(c - 'A' + 'a');
  }
  return c;
}

// Matches one [set] at the start of `pattern` against `c`; returns the set's length, or 0
// when the set is not closed and the bracket is an ordinary character.
std::size_t MatchSet(std::string_view pattern, char c, bool case_sensitive, bool& matched) {
  std::size_t at = 1;
  const bool negate = at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^');
  if (negate) {
    ++at;
  }
  bool hit = false;
  for (bool first = true; at < pattern.size() && (first || pattern[at] != ']'); first = false) {
    const char low = Fold(pattern[at], case_sensitive);
    char high = low;
    if (at + 2 < pattern.size() && pattern[at + 1] == '-' && pattern[at + 2] != ']') {
      high = Fold(pattern[at + 2], case_sensitive);
      at += 2;
    }
    hit = hit || (c >= low && c <= high);
    ++at;
  }
  if (at >= pattern.size()) {
    return 0;
  }
  matched = hit != negate;
  return at + 1;
}

}  // namespace

bool MatchesPattern(std::string_view pattern, std::string_view name, bool case_sensitive) {
  // Backtracking only to the last star keeps the work quadratic at worst, where a
  // recursive matcher can take exponential time on names full of stars.
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::string_view::npos;
  std::size_t star_name = 0;
  while (n < name.size()) {
    const char c = Fold(name[n], case_sensitive);
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_name = n;
      continue;
    }
    if (p < pattern.size()) {
      bool matched = false;
      std::size_t length = 0;
      if (pattern[p] == '[') {
        length = MatchSet(pattern.substr(p), c, case_sensitive, matched);
      }
      if (length == 0) {
        matched = pattern[p] == '?' || Fold(pattern[p], case_sensitive) == c;
        length = 1;
      }
      if (matched) {
        p += length;
        ++n;
        continue;
      }
    }
    if (star == std::string_view::npos) {
      return false;
    }
    p = star + 1;
    n = ++star_name;
  }
  while (p < pattern.size() && pattern[p] == '*') {
    ++p;
  }
  return p == pattern.size();
}

std::optional<SafePath> MakeSafePath(std::string_view name, bool is_folder, bool keep_folders,
                                     bool blanks_to_underscores) {
  std::string text(name);
  std::replace(text.begin(), text.end(), '\\', '/');
  if (text.size() >= 2 && text[1] == ':' &&
      ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'))) {
    text.erase(0, 2);
  }
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('/', start), text.size());
    std::string part = text.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") {
      continue;
    }
    if (part == "..") {
      return std::nullopt;
    }
    if (blanks_to_underscores) {
      std::replace(part.begin(), part.end(), ' ', '_');
    }
    parts.push_back(std::move(part));
  }
  SafePath path;
  if (!is_folder && !parts.empty()) {
    path.file = std::move(parts.back());
    parts.pop_back();
  }
  if (keep_folders) {
    path.folders = std::move(parts);
  }
  return path;
}

}  // namespace kalo::unzip32
