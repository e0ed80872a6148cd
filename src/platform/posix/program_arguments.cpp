#include "platform/program_arguments.h"

namespace kalo::platform {

// The arguments arrive as the caller wrote them, in the UTF-8 the system uses.
std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace kalo::platform
