#include "platform/local_time.h"

#include <cstdint>

#include "win32/wide_text.h"

namespace kalo::platform {
namespace {

// 100-nanosecond ticks from 1601-01-01, where FILETIME counts from, to 1970-01-01.
constexpr std::int64_t kTicksTo1970 = 116444736000000000;

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
  using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
  const auto ticks = static_cast<std::uint64_t>(
      std::chrono::duration_cast<Ticks>(when.time_since_epoch()).count() + kTicksTo1970);
  const FILETIME universal_time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
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
