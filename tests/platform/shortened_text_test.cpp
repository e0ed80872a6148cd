#include "platform/shortened_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ShortenedLines, CutsLongLinesBetweenWholeCharacters) {
  using kalo::platform::ShortenedLines;
  EXPECT_EQ(ShortenedLines("short\r\nlines stay", 20), "short\r\nlines stay");
  EXPECT_EQ(ShortenedLines("0123456789abcdefghij", 10), "0123…hij");
  const std::string name = "ação-" + std::string(10'000'000, 'x') + "-201811211540.exe";
  const std::string shown = ShortenedLines(" Erro: Baixar: " + name + "\r\nMotivo: disco cheio");
  const auto line_end = shown.find('\n');
  EXPECT_LE(line_end, kalo::platform::kShownLineLimit);
  EXPECT_TRUE(shown.starts_with(" Erro: Baixar: ação-x"));
  EXPECT_NE(shown.find("…"), std::string::npos);
  EXPECT_NE(shown.find("-201811211540.exe\r\nMotivo: disco cheio"), std::string::npos);
  // A cut never splits a character: "ã" and "ç" are two bytes each.
  for (std::size_t limit = 4; limit < 12; ++limit) {
    const std::string cut = ShortenedLines("çççççççççççç", limit);
    EXPECT_LE(cut.size(), limit) << limit;
    EXPECT_EQ(cut.size() % 2, 1u) << "the ellipsis has three bytes, each ç two: " << cut;
  }
}

}  // namespace
