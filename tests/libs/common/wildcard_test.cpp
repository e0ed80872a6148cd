// The one wildcard matcher, under the rules of each of its users: unzip32's name lists
// (sets, backslashes as slashes, case as the caller asks), zip32's file list (no sets,
// case as the file system has it) and the Windows file search (no sets, both texts
// folded by the caller).
#include "wildcard.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using kalo::wildcard::Matches;
using kalo::wildcard::Rules;

constexpr Rules kPlain{};
constexpr Rules kAnyCase{.ignore_ascii_case = true};
constexpr Rules kNameList{.sets = true, .backslash_is_slash = true};
constexpr Rules kNameListAnyCase{
    .sets = true, .ignore_ascii_case = true, .backslash_is_slash = true};

TEST(Wildcard, MatchesUnderEachUsersRules) {
  const struct {
    const char* pattern;
    const char* name;
    Rules rules;
    bool matches;
  } cases[] = {
      // Stars and question marks, under every rule.
      {"*.txt", "a.txt", kPlain, true},
      {"*.txt", "c.bin", kPlain, false},
      {"?.log", "a.log", kPlain, true},
      {"?.log", "ab.log", kPlain, false},
      {"*", "", kPlain, true},
      {"", "", kPlain, true},
      {"", "a", kPlain, false},
      {"a**", "a", kPlain, true},
      {"*a*b", "xaybzb", kPlain, true},  // the first star gives back what it took
      {"*ab", "aab", kPlain, true},
      {"*.*", "noextension", kPlain, false},  // not the system's "any name"
      {"*.htm", "a-long-file-name.html", kPlain, false},
      {"noext*.*", "noextension", kPlain, false},
      {"docs/*", "docs/sub/a.txt", kPlain, true},  // a star takes slashes too
      {"*", "*y", kPlain, true},                   // a star in the name is a character
      // Case: exact unless asked; only ASCII letters fold.
      {"*.txt", "B.TXT", kPlain, false},
      {"A.TXT", "a.txt", kPlain, false},
      {"*.TXT", "b.txt", kAnyCase, true},
      {"REPORT.*", "Report.TXT", kAnyCase, true},
      {"\xc3\x89.txt", "\xc3\xa9.txt", kAnyCase, false},
      // Sets only where the contract has them; elsewhere brackets are characters.
      {"[ab].*", "a.txt", kNameList, true},
      {"[ab].*", "c.bin", kNameList, false},
      {"[ab].*", "[ab].txt", kPlain, true},
      {"[ab].*", "a.txt", kPlain, false},
      {"[a-c]x", "bx", kNameList, true},
      {"[a-c]x", "dx", kNameList, false},
      {"[!a-c]x", "dx", kNameList, true},
      {"[^a-c]x", "ax", kNameList, false},
      {"[]]", "]", kNameList, true},    // a bracket first in the set is a member
      {"[a-]", "-", kNameList, true},   // so is a dash last
      {"[ab", "[ab", kNameList, true},  // an open set is an ordinary bracket
      {"[A-C]x", "bx", kNameListAnyCase, true},
      {"[A-C]x", "bx", kNameList, false},
      // Backslashes count as slashes on both sides in name lists only.
      {"docs\\*", "docs/a.txt", kNameList, true},
      {"docs/*", "docs\\a.txt", kNameList, true},
      {"docs\\*", "docs/a.txt", kPlain, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Matches(c.pattern, c.name, c.rules), c.matches) << c.pattern << " ~ " << c.name;
  }
}

TEST(Wildcard, WideNamesMatchAsNarrowOnes) {
  EXPECT_TRUE(Matches(L"REPORT.*", L"REPORT.TXT", kPlain));
  EXPECT_TRUE(Matches(L"?.TXT", L"\u00c9.TXT", kPlain));  // one UTF-16 unit, one character
  EXPECT_FALSE(Matches(L"S*.TXT", L"REPORT.TXT", kPlain));
  EXPECT_TRUE(Matches(L"[A-C]X", L"BX", kNameList));
}

TEST(Wildcard, NamesFullOfStarsTakeQuadraticTimeAtWorst) {
  // A recursive matcher tries every split of the name among the stars and never ends.
  const std::string pattern = std::string(40, '*') + "b";
  const std::string name(4000, 'a');
  EXPECT_FALSE(Matches(pattern, name, kNameListAnyCase));
}

}  // namespace
