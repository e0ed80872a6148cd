#include "platform/plain_text.h"

#include <gtest/gtest.h>

#include <string_view>
#include <tuple>

namespace {

using kalo::platform::kLineBlanks;

TEST(PlainText, TrimmedTakesOnlyTheGivenBlanksAtTheEnds) {
  // The text, the blanks to take away, what is left.
  const std::tuple<std::string_view, std::string_view, std::string_view> cases[] = {
      // A name typed or read from settings: spaces only, as the product always trimmed.
      {"  Acme Corp  ", " ", "Acme Corp"},
      {"\tacme\t", " ", "\tacme\t"},
      {"   ", " ", ""},
      {"", " ", ""},
      // A line of a settings or signature file, written on Windows or by hand.
      {" \tcliente = acme \r", kLineBlanks, "cliente = acme"},
      {"[config]\r", kLineBlanks, "[config]"},
      {" \t\r", kLineBlanks, ""},
      {"a\r\nb", kLineBlanks, "a\r\nb"},  // blanks inside stay
  };
  for (const auto& [text, blanks, trimmed] : cases) {
    EXPECT_EQ(kalo::platform::Trimmed(text, blanks), trimmed) << '"' << text << '"';
  }
}

TEST(PlainText, WithLineFeedsTurnsEachCrLfIntoLf) {
  const struct {
    const char* text;
    const char* lines;
  } cases[] = {
      {"Pergunta\r\nfim?", "Pergunta\nfim?"},
      {" Erro: x\r\n\r\nMotivo: y\r\n", " Erro: x\n\nMotivo: y\n"},
      {"one\ntwo", "one\ntwo"},
      {"cr\ralone\r", "cr\ralone\r"},  // only a CR before a LF is a Windows break
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kalo::platform::WithLineFeeds(c.text), c.lines) << c.text;
  }
}

}  // namespace
