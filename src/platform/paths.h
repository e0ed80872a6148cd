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

// Whether `one` and `other` name the same existing folder, compared as the system
// compares paths: on POSIX byte for byte once links are resolved; on Windows regardless
// of letter case once both are full long paths. False when either cannot be resolved.
bool IsSameFolder(const std::string& one, const std::string& other);

}  // namespace kalo::platform
