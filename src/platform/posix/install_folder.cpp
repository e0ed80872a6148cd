#include "platform/install_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace kalo::platform {
namespace {

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return home;
  }
  // A service account may run without HOME; the password database still knows it.
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    return entry->pw_dir;
  }
  return "/";
}

}  // namespace

std::string InstallFolder() {
  if (const char* folder = std::getenv("KALO_DIR"); folder != nullptr && *folder != '\0') {
    return folder;
  }
  return PathInFolder(HomeFolder(), "KALO");
}

}  // namespace kalo::platform
