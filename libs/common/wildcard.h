// Names matched against wildcard patterns: the archive libraries' name lists and the
// updater's file search on Windows. One matcher; each user sets the rules its own
// contract gives:
// - '*' stands for any run of characters (slashes included), '?' for one character;
// - [set] (ranges, a leading ! or ^ to negate) only where the contract has sets:
//   unzip32's name lists do, while zip32's file list and the file search take names a
//   Windows folder holds, where brackets are ordinary characters;
// - ASCII letters without regard to case when asked; a user that folds case more widely
//   (the Windows search) folds both texts first and matches them as they are;
// - a backslash counts as a slash on both sides when asked (names written on Windows).
#pragma once

#include <string_view>

namespace kalo::wildcard {

struct Rules {
  bool sets = false;
  bool ignore_ascii_case = false;
  bool backslash_is_slash = false;
};

// Whether `pattern` holds a '*' or a '?': without one it names one name, looked up as it
// stands.
bool HasWildcards(std::string_view pattern);

bool Matches(std::string_view pattern, std::string_view name, Rules rules);
bool Matches(std::wstring_view pattern, std::wstring_view name, Rules rules);

}  // namespace kalo::wildcard
