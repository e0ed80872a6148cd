// Symbolic links for the tests that check they are never followed.
#pragma once

#include <filesystem>

namespace kalo::test {

// Makes `link` a symbolic link to `target`, a folder link when `folder`; false where
// the system (or the user's rights) makes none.
bool MakeSymbolicLink(const std::filesystem::path& link, const std::filesystem::path& target,
                      bool folder);

}  // namespace kalo::test
