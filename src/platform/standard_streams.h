// The standard streams of a program that may have been started without them.
#pragma once

namespace kalo::platform {

// Makes standard input, output and error usable from here on. A Windows program with
// a window of its own gets no console: when started from one without redirection, it
// joins the console it was started from, so that its lines are read there. Streams
// that already lead somewhere (a pipe, a file) are kept as they are; elsewhere there
// is nothing to do.
void ConnectStandardStreams();

}  // namespace kalo::platform
