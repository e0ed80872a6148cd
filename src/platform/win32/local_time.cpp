#include "platform/local_time.h"

#include "win32/file_time.h"
#include "win32/wide_text.h"

namespace kalo::platform {
namespace {

// The text a GetDateFormatEx-like call writes: asked first for its size, then for itself.
template <typename Format>
std::string FormattedText(Format format) {
  const int size = format(nullptr, 0);
  if (size <= 0) {
    return {};
  }
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  const int written = format(text.data(), size);
  // The size counts the terminating null.
  text.resize(written > 0 ? static_cast<std::size_t>(written) - 1 : 0);
  return win32::Narrow(text);
}

// `when` to the second in local time, by the time zone's rules for that date (summer
// time included, not today's offset); false when the system cannot convert it.
bool ToLocal(std::chrono::system_clock::time_point when, SYSTEMTIME& local,
             FILETIME& universal_time) {
  const LARGE_INTEGER ticks = win32::ToFileTime(std::chrono::system_clock::to_time_t(when));
  universal_time = {ticks.LowPart, static_cast<DWORD>(ticks.HighPart)};
  SYSTEMTIME universal{};
  return ::FileTimeToSystemTime(&universal_time, &universal) &&
         ::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local);
}

}  // namespace

std::string GeneralDateTime(std::chrono::system_clock::time_point when) {
  SYSTEMTIME local{};
  FILETIME universal_time{};
  if (!ToLocal(when, local, universal_time)) {
    return {};
  }
  const std::string date = FormattedText([&local](wchar_t* text, int size) {
    return ::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, text, size,
                             nullptr);
  });
  const std::string time = FormattedText([&local](wchar_t* text, int size) {
    return ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &local, nullptr, text, size);
  });
  return date + " " + time;
}

std::string IsoLocalTime(std::chrono::system_clock::time_point when) {
  SYSTEMTIME local{};
  FILETIME universal_time{};
  FILETIME local_time{};
  if (!ToLocal(when, local, universal_time) || !::SystemTimeToFileTime(&local, &local_time)) {
    return {};
  }
  // The offset is how far the local reading of the moment stands from the universal one.
  const auto offset = (win32::ToTime(local_time) - win32::ToTime(universal_time)) / 60;
  return IsoText({local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                  static_cast<int>(offset)});
}

}  // namespace kalo::platform
