// What the archive bindings share for the whole process. The libraries call back
// through plain C functions that carry no context, so the text printed during a run,
// the password refusal and the window to ask through live here, one per process;
// only one extraction or zip run is under way at a time.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui.h"

namespace cImpZipDeclares {

struct BindingState {
  std::string last_message;           // what GetLastMessage answers
  std::string print_text;             // everything printed during the current extraction
  std::int16_t password_refused = 0;  // 1 once the password was refused in this extraction
  std::uint64_t listed_size = 0;      // the sizes the list callback saw in this run, added up
  kalo::platform::Ui* ui = nullptr;   // set while a library call runs
};

BindingState& TheBindingState();

// Makes `ui` the one the callbacks ask through, for the length of one library call.
class ActiveUi {
 public:
  explicit ActiveUi(kalo::platform::Ui& ui) { TheBindingState().ui = &ui; }
  ActiveUi(const ActiveUi&) = delete;
  ActiveUi& operator=(const ActiveUi&) = delete;
  ~ActiveUi() { TheBindingState().ui = nullptr; }
};

// Text from a library buffer, in UTF-8: up to the first NUL, at most `length` bytes.
std::string TextFromBuffer(const char* buffer, std::size_t length);

}  // namespace cImpZipDeclares
