// Texts leave UTF-16 exactly, or not at all.
#include "platform/win32/wide_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

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
    try {
      EXPECT_EQ(kalo::platform::Narrow(row.text, row.code_page), row.narrow);
    } catch (const kalo::Error& error) {
      EXPECT_FALSE(row.narrow) << error.what();
      EXPECT_EQ(error.Number(), kalo::error_number::kInvalidArgument);
      EXPECT_EQ(error.Source(), "WideText");
    }
  }
}

}  // namespace
