// Texts cross the Win32 boundary exactly, both ways, or not at all; in the updater a
// refusal is its runtime error.
#include "win32/wide_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/error.h"

namespace {

using kalo::win32::Narrow;
using kalo::win32::Widen;

// `convert()`'s answer, or nothing when it was refused as the updater refuses.
template <typename Convert>
auto ExactOrRefused(Convert convert, UINT code_page) -> std::optional<decltype(convert())> {
  try {
    return convert();
  } catch (const kalo::Error& error) {
    EXPECT_EQ(error.Number(), kalo::error_number::kInvalidArgument);
    EXPECT_EQ(error.Source(), "WideText");
    EXPECT_EQ(error.Description(),
              "O texto não tem forma exata na página de código " + std::to_string(code_page));
    return std::nullopt;
  }
}

TEST(WideText, NarrowsExactlyOrRefuses) {
  const struct {
    const wchar_t* text;
    UINT code_page;
    std::optional<std::string> narrow;
  } cases[] = {
      {L"Construções São José", CP_UTF8, "Construções São José"},
      {L"Construções São José", 1252,
       "Constru\xe7\xf5"
       "es S\xe3o Jos\xe9"},
      // Windows would write the look-alikes "../" and "/".
      {L"\uff0e\uff0e\uff0fkalo.exe", 1252, std::nullopt},
      {L"\u2215etc", 1252, std::nullopt},
      {L"\u65e5\u672c", 1252, std::nullopt},
      // A lone surrogate, as a broken name on disk or a command line may hold.
      {L"s\xd800o", CP_UTF8, std::nullopt},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.code_page);
    EXPECT_EQ(ExactOrRefused([&] { return Narrow(row.text, row.code_page); }, row.code_page),
              row.narrow);
  }
}

TEST(WideText, WidensExactlyOrRefuses) {
  const struct {
    const char* text;
    std::optional<std::wstring> wide;
  } cases[] = {
      {"Construções São José", L"Construções São José"},
      {"", L""},
      // Not UTF-8: a stray continuation byte, a cut sequence, an encoded surrogate.
      {"s\x80o", std::nullopt},
      {"s\xc3", std::nullopt},
      {"s\xed\xa0\x80o", std::nullopt},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(ExactOrRefused([&] { return Widen(row.text); }, CP_UTF8), row.wide);
  }
}

}  // namespace
