// The one runtime error type of the system: a number, a description and a source
// ("Module::Routine"). Platform calls turn their failures into it at the boundary.
#pragma once

#include <stdexcept>
#include <string>
#include <system_error>

namespace kalo {

// Error numbers, kept in the classic numbering that the product's users and support
// staff already know from the Windows build.
namespace error_number {
inline constexpr int kDeviceUnavailable = 68;
inline constexpr int kDiskFull = 61;
inline constexpr int kEntryPointNotFound = 453;
inline constexpr int kFileAlreadyExists = 58;
inline constexpr int kFileNotFound = 53;
inline constexpr int kInternalError = 51;
inline constexpr int kInvalidArgument = 5;
inline constexpr int kIoError = 57;
inline constexpr int kOutOfMemory = 7;
inline constexpr int kOverflow = 6;
inline constexpr int kPathFileAccess = 75;
inline constexpr int kPathNotFound = 76;
inline constexpr int kPermissionDenied = 70;
inline constexpr int kResourceNotFound = 326;
inline constexpr int kSubscriptOutOfRange = 9;
// The transfer component's own range.
inline constexpr int kTransferFailed = 35750;
inline constexpr int kTransferTimedOut = 35761;
}  // namespace error_number

class Error : public std::runtime_error {
 public:
  Error(int number, std::string description, std::string source);

  int Number() const { return number_; }
  const std::string& Description() const { return description_; }
  const std::string& Source() const { return source_; }

  // The same error raised again by a routine that trapped it, under its own name.
  Error WithSource(std::string source) const;

 private:
  int number_;
  std::string description_;
  std::string source_;
};

namespace platform {

// The error number of a portable condition, the errno values that the C++ library
// reports on every system.
int ErrorNumberOf(std::errc condition);

}  // namespace platform

}  // namespace kalo
