#include "support/timestamps.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>

#include "platform/file_version.h"
#include "platform/own_program.h"

namespace cUpdate {
namespace {

char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// Decimal with at least `digits` digits, zero-padded after the sign.
std::string ZeroPadded(std::int64_t value, std::size_t digits) {
  std::string text = std::to_string(value < 0 ? -value : value);
  if (text.size() < digits) {
    text.insert(0, digits - text.size(), '0');
  }
  return value < 0 ? "-" + text : text;
}

// Replaces every occurrence of `token`, compared without regard to case, scanning
// left to right; replaced text is not searched again.
std::string ReplaceIgnoringCase(const std::string& text, const std::string& token,
                                const std::string& replacement) {
  std::string result;
  std::size_t position = 0;
  while (position < text.size()) {
    bool found = position + token.size() <= text.size();
    for (std::size_t i = 0; found && i < token.size(); ++i) {
      found = Lower(text[position + i]) == token[i];
    }
    if (found) {
      result += replacement;
      position += token.size();
    } else {
      result += text[position++];
    }
  }
  return result;
}

// The two-character number at the start or end of a field written with at least
// four digits; "-3" and "-0" are numbers too, since negative fields keep their sign.
struct SplitField {
  std::int32_t high;
  std::int32_t low;
};

SplitField SplitFourDigits(std::int32_t value) {
  const std::string text = ZeroPadded(value, 4);
  return {std::atoi(text.substr(0, 2).c_str()), std::atoi(text.substr(text.size() - 2).c_str())};
}

}  // namespace

std::string FormatStamp(std::string_view pattern, std::int32_t year, std::int32_t month,
                        std::int32_t day, std::int32_t hour, std::int32_t minute,
                        std::int32_t second) {
  struct Field {
    char letter;
    std::int32_t value;
  };
  const std::array<Field, 6> fields{
      {{'y', year}, {'m', month}, {'d', day}, {'h', hour}, {'n', minute}, {'s', second}}};

  std::string result(pattern);
  for (const Field& field : fields) {
    // Every occurrence of the letter counts, even in separate runs: a letter that
    // appears twice then names a token the pattern does not hold, and stays as it is.
    const auto count = static_cast<std::size_t>(
        std::ranges::count_if(pattern, [&field](char c) { return Lower(c) == field.letter; }));
    if (count == 0) {
      continue;
    }
    result = ReplaceIgnoringCase(result, std::string(count, field.letter),
                                 ZeroPadded(field.value, count));
  }
  return result;
}

std::string FormatVersionDate(std::string_view pattern, std::int32_t day_month, std::int32_t year,
                              std::int32_t hour_minute) {
  const SplitField date = SplitFourDigits(day_month);
  const SplitField time = SplitFourDigits(hour_minute);
  return FormatStamp(pattern, year, date.low, date.high, time.high, time.low, 0);
}

std::string AppVersionDate(std::string_view pattern) {
  const kalo::platform::FileVersion version = kalo::platform::OwnVersion();
  return FormatVersionDate(pattern, version.major, version.minor, version.revision);
}

std::string FileVersionStamp(const std::string& path, std::string_view pattern) {
  const auto version = kalo::platform::ReadFileVersion(path);
  if (!version) {
    return {};
  }
  // The fields are read as signed 16-bit numbers, so 32768 and above come out negative.
  return FormatVersionDate(pattern, static_cast<std::int16_t>(version->major),
                           static_cast<std::int16_t>(version->minor),
                           static_cast<std::int16_t>(version->revision));
}

}  // namespace cUpdate
