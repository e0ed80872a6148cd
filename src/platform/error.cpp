#include "platform/error.h"

#include <system_error>
#include <utility>

namespace kalo {

Error::Error(int number, std::string description, std::string source)
    : std::runtime_error(source + ": " + description + " (" + std::to_string(number) + ")"),
      number_(number),
      description_(std::move(description)),
      source_(std::move(source)) {}

Error Error::WithSource(std::string source) const {
  return Error(number_, description_, std::move(source));
}

namespace platform {

int ErrorNumberOf(std::errc condition) {
  switch (condition) {
    case std::errc::no_such_file_or_directory:
      return error_number::kFileNotFound;
    case std::errc::not_a_directory:
    case std::errc::filename_too_long:
    case std::errc::too_many_symbolic_link_levels:
      return error_number::kPathNotFound;
    case std::errc::permission_denied:
    case std::errc::operation_not_permitted:
    case std::errc::read_only_file_system:
    case std::errc::text_file_busy:
      return error_number::kPermissionDenied;
    case std::errc::file_exists:
      return error_number::kFileAlreadyExists;
    case std::errc::no_space_on_device:
      return error_number::kDiskFull;
    case std::errc::not_enough_memory:
      return error_number::kOutOfMemory;
    case std::errc::io_error:
      return error_number::kIoError;
    case std::errc::no_such_device:
    case std::errc::no_such_device_or_address:
      return error_number::kDeviceUnavailable;
    case std::errc::invalid_argument:
      return error_number::kInvalidArgument;
    default:
      return error_number::kPathFileAccess;
  }
}

}  // namespace platform
}  // namespace kalo
