#include <windows.h>

#include "helpers/links.h"

namespace kalo::test {

bool MakeSymbolicLink(const std::filesystem::path& link, const std::filesystem::path& target,
                      bool folder) {
  // Without the developer mode only an administrator may make links.
  const DWORD flags =
      SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE | (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
  if (!::CreateSymbolicLinkW(link.c_str(), target.c_str(), flags)) {
    return false;
  }
  // Some systems answer success and make an ordinary entry.
  const DWORD attributes = ::GetFileAttributesW(link.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace kalo::test
