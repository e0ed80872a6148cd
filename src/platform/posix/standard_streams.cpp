#include "platform/standard_streams.h"

#include <unistd.h>

namespace kalo::platform {

// A POSIX program always inherits the standard streams of whoever started it.
void ConnectStandardStreams() {}

// Terminals here take UTF-8 as it is.
std::unique_ptr<std::streambuf> ConsoleBuffer(StandardStream) {
  return nullptr;
}

bool IsTerminal(StandardStream which) {
  return ::isatty(which == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

}  // namespace kalo::platform
