#include "platform/standard_streams.h"

namespace kalo::platform {

// A POSIX program always inherits the standard streams of whoever started it.
void ConnectStandardStreams() {}

}  // namespace kalo::platform
