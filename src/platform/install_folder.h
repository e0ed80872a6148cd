// Where the product is installed. Paths inside it are made with PathInFolder,
// which comes with this header.
#pragma once

#include <string>

#include "platform/paths.h"

namespace kalo::platform {

// $KALO_DIR when it is set and not empty, else the folder KALO in the user's home.
std::string InstallFolder();

}  // namespace kalo::platform
