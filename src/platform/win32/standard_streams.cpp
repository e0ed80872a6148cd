#include "platform/standard_streams.h"

#include <windows.h>

#include <io.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "win32/wide_text.h"

namespace kalo::platform {
namespace {

bool Leads(DWORD stream) {
  const HANDLE handle = ::GetStdHandle(stream);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

HANDLE StandardHandle(StandardStream which) {
  return ::GetStdHandle(which == StandardStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

// A window program's C runtime does not pass the streams it reopens on to the system.
void ReopenOnConsole(std::FILE* stream, DWORD which) {
  if (std::freopen("CONOUT$", "w", stream) != nullptr) {
    ::SetStdHandle(which, reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))));
  }
}

// How many bytes at the end of `text` start a character that has not arrived whole.
std::size_t IncompleteTail(std::string_view text) {
  const std::size_t looked = std::min<std::size_t>(3, text.size());
  for (std::size_t back = 1; back <= looked; ++back) {
    const auto byte = static_cast<unsigned char>(text[text.size() - back]);
    if ((byte & 0xC0) != 0x80) {
      const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
      return length > back ? back : 0;
    }
  }
  return 0;
}

// Writes what it is given at once, as UTF-16 characters; only a character cut in two
// waits for its end.
class ConsoleWriter final : public std::streambuf {
 public:
  explicit ConsoleWriter(HANDLE console) : console_(console) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
      return traits_type::not_eof(c);
    }
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
  }

  std::streamsize xsputn(const char* text, std::streamsize count) override {
    pending_.append(text, static_cast<std::size_t>(count));
    const std::size_t whole = pending_.size() - IncompleteTail(pending_);
    const std::wstring wide = win32::Widen(std::string_view(pending_).substr(0, whole));
    pending_.erase(0, whole);
    for (std::size_t written = 0; written < wide.size();) {
      DWORD done = 0;
      const auto left = static_cast<DWORD>(wide.size() - written);
      if (!::WriteConsoleW(console_, wide.data() + written, left, &done, nullptr) || done == 0) {
        return 0;
      }
      written += done;
    }
    return count;
  }

 private:
  HANDLE console_;  // the process's own standard handle, not closed here
  std::string pending_;
};

}  // namespace

void ConnectStandardStreams() {
  const bool output = Leads(STD_OUTPUT_HANDLE);
  const bool error = Leads(STD_ERROR_HANDLE);
  if ((output && error) || !::AttachConsole(ATTACH_PARENT_PROCESS)) {
    return;
  }
  // The C streams were set up at start, without a console; they are opened on it now.
  if (!output) {
    ReopenOnConsole(stdout, STD_OUTPUT_HANDLE);
  }
  if (!error) {
    ReopenOnConsole(stderr, STD_ERROR_HANDLE);
  }
  if (!Leads(STD_INPUT_HANDLE)) {
    std::freopen("CONIN$", "r", stdin);
  }
}

std::unique_ptr<std::streambuf> ConsoleBuffer(StandardStream which) {
  if (!IsTerminal(which)) {
    return nullptr;
  }
  return std::make_unique<ConsoleWriter>(StandardHandle(which));
}

bool IsTerminal(StandardStream which) {
  DWORD mode = 0;
  return ::GetConsoleMode(StandardHandle(which), &mode) != FALSE;
}

}  // namespace kalo::platform
