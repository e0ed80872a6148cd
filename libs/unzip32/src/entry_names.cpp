#include "entry_names.h"

#include <algorithm>

namespace kalo::unzip32 {

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
