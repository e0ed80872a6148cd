#include "platform/standard_streams.h"

namespace kalo::platform {

ConsoleText::ConsoleText(std::ostream& stream, StandardStream which)
    : stream_(stream), console_(ConsoleBuffer(which)) {
  if (console_) {
    // What the stream holds still goes out the old way, before anything new.
    stream_.flush();
    replaced_ = stream_.rdbuf(console_.get());
  }
}

ConsoleText::~ConsoleText() {
  if (console_) {
    stream_.rdbuf(replaced_);
  }
}

}  // namespace kalo::platform
