// The arguments the program was started with.
#pragma once

#include <string>
#include <vector>

namespace kalo::platform {

// The arguments after the program's name, in UTF-8 on every system. `argc` and `argv`
// are main's; Windows hands them over in the ANSI code page, which cannot hold every
// name, so there they are read again from the command line as the system keeps it.
// Throws when an argument is not text (a lone surrogate in the Windows command line).
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace kalo::platform
