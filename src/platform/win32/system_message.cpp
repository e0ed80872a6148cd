#include "platform/win32/system_message.h"

#include <memory>
#include <string_view>

#include "win32/wide_text.h"

namespace kalo::platform {
namespace {

struct LocalFreer {
  void operator()(wchar_t* text) const { ::LocalFree(text); }
};

}  // namespace

std::string SystemMessage(DWORD code, HMODULE module) {
  wchar_t* buffer = nullptr;
  const DWORD from = module != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : 0;
  const DWORD length =
      ::FormatMessageW(from | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                           FORMAT_MESSAGE_ALLOCATE_BUFFER,
                       module, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const std::unique_ptr<wchar_t, LocalFreer> owned(buffer);
  std::wstring_view text(buffer, length);
  // The system's texts end with a line break, which would split ours.
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.remove_suffix(1);
  }
  return win32::Narrow(text);
}

}  // namespace kalo::platform
