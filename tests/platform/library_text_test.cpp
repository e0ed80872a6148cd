#include "platform/library_text.h"

#include <gtest/gtest.h>

#include "platform/error.h"

namespace {

using kalo::platform::FromLibraryText;
using kalo::platform::ToLibraryText;

// Names of the product's users' files: plain ASCII and Portuguese letters, which both
// the UTF-8 of Linux and the ANSI code pages of Western Windows hold.
TEST(LibraryText, NamesComeBackFromTheLibrariesAsTheyWent) {
  for (const std::string name :
       {"", "C:\\KALO\\kalo.exe", "relatório de ação.txt", "AÇÃO/É ç ã õ.zip"}) {
    const std::string library_form = ToLibraryText(name);
    EXPECT_EQ(library_form.empty(), name.empty()) << name;
    EXPECT_EQ(FromLibraryText(library_form), name);
  }
}

// Windows puts the nearest character of its code page in the place of one it lacks
// (fullwidth "．．／" and the division slash become "../" and "/"): a name reaches the
// libraries as it is, or not at all.
TEST(LibraryText, NamesReachTheLibrariesExactlyOrNotAtAll) {
  for (const std::string name : {"\uff0e\uff0e\uff0fkalo.exe", "\u2215etc", "\u65e5\u672c.txt"}) {
    try {
      EXPECT_EQ(FromLibraryText(ToLibraryText(name)), name);
    } catch (const kalo::Error& error) {
      EXPECT_EQ(error.Number(), kalo::error_number::kPathFileAccess) << name;
      EXPECT_EQ(error.Source(), "LibraryText") << name;
    }
  }
}

TEST(LibraryText, TextFromALibraryStopsNowhereButAtItsEnd) {
  const std::string with_nul("a\0b", 3);
  EXPECT_EQ(FromLibraryText(with_nul), with_nul);
}

}  // namespace
