// What the library makes of entry names: paths that stay inside the destination folder.
// Matching them against name lists is the shared wildcard matcher's (wildcard.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kalo::unzip32 {

// A relative path below the destination, split into plain components.
struct SafePath {
  std::vector<std::string> folders;  // Outermost first.
  std::string file;                  // Empty for a folder entry.
};

// Backslashes become slashes; a leading drive ("C:") and leading slashes go; "." and empty
// components go. A ".." component refuses the whole name (nullopt), whatever `keep_folders`
// says. Without `keep_folders` only the last component of a file entry is kept.
std::optional<SafePath> MakeSafePath(std::string_view name, bool is_folder, bool keep_folders,
                                     bool blanks_to_underscores);

}  // namespace kalo::unzip32
