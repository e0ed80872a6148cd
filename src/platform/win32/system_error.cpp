#include "platform/system_error.h"

#include <string>

#include "platform/win32/system_message.h"
#include "win32/wide_text.h"

namespace kalo {

// In the updater a refused conversion is a runtime error like any other.
void win32::RefuseInexactText(UINT code_page) {
  throw Error(error_number::kInvalidArgument,
              "O texto não tem forma exata na página de código " + std::to_string(code_page),
              "WideText");
}

namespace platform {
namespace {

// The numbers the POSIX build gives for the same failures, so that users and
// support staff meet the same number on both systems.
int ErrorNumberOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return error_number::kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
    case ERROR_FILENAME_EXCED_RANGE:
      return error_number::kPathNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD:
      return error_number::kPermissionDenied;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return error_number::kFileAlreadyExists;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return error_number::kDiskFull;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return error_number::kOutOfMemory;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
      return error_number::kIoError;
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_UNIT:
    case ERROR_INVALID_DRIVE:
      return error_number::kDeviceUnavailable;
    case ERROR_INVALID_PARAMETER:
      return error_number::kInvalidArgument;
    default:
      return error_number::kPathFileAccess;
  }
}

}  // namespace

Error SystemError(int code, std::string_view what, std::string source) {
  const auto system_code = static_cast<DWORD>(code);
  const std::string message = SystemMessage(system_code);
  std::string description(what);
  description += " (";
  description += message.empty() ? "erro " + std::to_string(system_code) : message;
  description += ")";
  return Error(ErrorNumberOf(system_code), std::move(description), std::move(source));
}

}  // namespace platform
}  // namespace kalo
