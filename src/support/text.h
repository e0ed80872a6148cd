// Text helpers shared by the update modules. Case rules are ASCII only, like the
// names they serve (file names, client names, manifest text).
#pragma once

#include <string>

namespace cUpdate {

std::string LowerCase(std::string text);
std::string UpperCase(std::string text);

// Without the blanks (spaces) at both ends.
std::string TrimBlanks(const std::string& text);

}  // namespace cUpdate
