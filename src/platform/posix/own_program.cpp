#include "platform/own_program.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/system_error.h"

namespace kalo::platform {

std::string OwnFilePath() {
  std::string path(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  if (length < 0 || static_cast<std::size_t>(length) >= path.size()) {
    throw SystemError(length < 0 ? errno : ENAMETOOLONG, "Não foi possível saber o próprio arquivo",
                      "OwnFilePath");
  }
  path.resize(static_cast<std::size_t>(length));
  return path;
}

std::string PlatformName() {
  struct utsname system {};
  if (::uname(&system) != 0) {
    return "posix";
  }
  std::string name = system.sysname;
  for (char& c : name) {
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return name + "-" + system.machine;
}

}  // namespace kalo::platform
