// The standard streams of a program that may have been started without them.
#pragma once

#include <memory>
#include <ostream>
#include <streambuf>

namespace kalo::platform {

// Makes standard input, output and error usable from here on. A Windows program with
// a window of its own gets no console: when started from one without redirection, it
// joins the console it was started from, so that its lines are read there. Streams
// that already lead somewhere (a pipe, a file) are kept as they are; elsewhere there
// is nothing to do.
void ConnectStandardStreams();

enum class StandardStream { kOutput, kError };

// A buffer that writes UTF-8 text to the standard stream `which` as characters, when
// that is a Windows console, which would show bytes in its own code page ("VersÃµes");
// nothing where the bytes are right as they are: a pipe or a file (scripts and tests
// read UTF-8 there), and every stream elsewhere.
std::unique_ptr<std::streambuf> ConsoleBuffer(StandardStream which);

// True when the standard stream `which` leads to a terminal (a Windows console), where a
// person reads it as it comes; false for a pipe, a file or nothing.
bool IsTerminal(StandardStream which);

// While it lives, `stream` writes through the console buffer of `which`, if it has one.
class ConsoleText {
 public:
  ConsoleText(std::ostream& stream, StandardStream which);
  ~ConsoleText();
  ConsoleText(const ConsoleText&) = delete;
  ConsoleText& operator=(const ConsoleText&) = delete;

 private:
  std::ostream& stream_;
  std::unique_ptr<std::streambuf> console_;
  std::streambuf* replaced_ = nullptr;
};

}  // namespace kalo::platform
