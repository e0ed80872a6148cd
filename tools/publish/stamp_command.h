// kalo-publish stamp: the 12-digit build stamp that the updater compares for each file.
#pragma once

#include <iosfwd>
#include <span>
#include <string>

namespace kalo::publish {

// Prints "path<TAB>stamp" for each file (an empty stamp when it carries no version)
// and answers the exit status: 0, or 1 when any file was missing.
int RunStamp(std::span<const std::string> files, std::ostream& out, std::ostream& err);

}  // namespace kalo::publish
