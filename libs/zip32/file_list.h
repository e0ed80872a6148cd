// Turns the caller's list of names into the files and folders to store, each with the
// name it gets in the archive.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_system.h"

namespace kalo::zip32 {

// One file or folder to store.
struct Item {
  std::string path;         // Where to read it: the caller's name, extended by the search.
  std::string stored_name;  // Its name in the archive; folders end in a slash.
  bool is_folder = false;
  FileFacts facts;
};

struct CollectOptions {
  bool recurse = false;
  std::string root;  // With slashes as separators; empty, "/" or "\" mean no root.
  // The archive being written, so that it never swallows itself.
  std::optional<FileIdentity> archive;
};

using WarningSink = std::function<void(std::string_view)>;

// Expands the names (wildcards, folders) in the order given. Names reached twice are
// kept once. Throws ReadFailure.
std::vector<Item> CollectItems(const std::vector<std::string>& names, const CollectOptions& options,
                               const WarningSink& warn);

// The caller's habits are Windows ones, so a backslash counts as a separator.
std::string WithSlashes(std::string_view text);

}  // namespace kalo::zip32
