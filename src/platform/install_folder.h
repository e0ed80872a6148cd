// Where the product is installed, and how a file name inside it becomes a path.
#pragma once

#include <string>

namespace kalo::platform {

// $KALO_DIR when it is set and not empty, else the folder KALO in the user's home.
std::string InstallFolder();

// The path of `name` directly inside `folder`.
std::string PathInFolder(const std::string& folder, const std::string& name);

}  // namespace kalo::platform
