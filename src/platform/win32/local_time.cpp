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

}  // namespace

std::string GeneralDateTime(std::chrono::system_clock::time_point when) {
  // Shown to the second.
  const LARGE_INTEGER ticks = win32::ToFileTime(std::chrono::system_clock::to_time_t(when));
  const FILETIME universal_time{ticks.LowPart, static_cast<DWORD>(ticks.HighPart)};
  SYSTEMTIME universal{};
  SYSTEMTIME local{};
  // The time zone's rules for that date, summer time included, not today's offset.
  if (!::FileTimeToSystemTime(&universal_time, &universal) ||
      !::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
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

}  // namespace kalo::platform
