#include "platform/local_time.h"

#include <locale.h>
#include <time.h>

#include <array>
#include <memory>

namespace kalo::platform {
namespace {

struct LocaleFree {
  void operator()(locale_t locale) const { ::freelocale(locale); }
};

}  // namespace

std::string GeneralDateTime(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  // The user's own date format, without changing the locale of the whole process.
  const std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleFree> user_locale(
      ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr)));
  std::array<char, 128> text{};
  const std::size_t length =
      user_locale ? ::strftime_l(text.data(), text.size(), "%x %X", &local, user_locale.get())
                  : ::strftime(text.data(), text.size(), "%x %X", &local);
  return {text.data(), length};
}

std::string IsoLocalTime(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  return IsoText({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, static_cast<int>(local.tm_gmtoff / 60)});
}

}  // namespace kalo::platform
