// Paths in the system's own syntax: a name joined to its folder, and a path split
// into its folder and its file name.
#pragma once

#include <string>

namespace kalo::platform {

// The path of `name` directly inside `folder`.
std::string PathInFolder(const std::string& folder, const std::string& name);

// The folder part of `path`: "." when it has none, the root when the path is
// directly inside it.
std::string FolderOf(const std::string& path);

// The part of `path` after its last separator, or the whole path when it has none.
std::string FileNameOf(const std::string& path);

}  // namespace kalo::platform
