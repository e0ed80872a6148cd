#include "platform/system_error.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace kalo::platform {
namespace {

int ErrorNumberOf(int code) {
  switch (code) {
    case ENOENT:
      return error_number::kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return error_number::kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
      return error_number::kPermissionDenied;
    case EEXIST:
      return error_number::kFileAlreadyExists;
    case ENOSPC:
    case EDQUOT:
      return error_number::kDiskFull;
    case ENOMEM:
      return error_number::kOutOfMemory;
    case EIO:
      return error_number::kIoError;
    case ENODEV:
    case ENXIO:
      return error_number::kDeviceUnavailable;
    case EINVAL:
      return error_number::kInvalidArgument;
    default:
      return error_number::kPathFileAccess;
  }
}

}  // namespace

Error SystemError(int code, std::string_view what, std::string source) {
  std::string description(what);
  description += " (";
  description += std::strerror(code);
  description += ")";
  return Error(ErrorNumberOf(code), std::move(description), std::move(source));
}

}  // namespace kalo::platform
