#include "platform/library_text.h"

#include <gtest/gtest.h>

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

TEST(LibraryText, TextFromALibraryStopsNowhereButAtItsEnd) {
  const std::string with_nul("a\0b", 3);
  EXPECT_EQ(FromLibraryText(with_nul), with_nul);
}

}  // namespace
