#include "platform/program_arguments.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <memory>

#include "platform/win32/last_error.h"
#include "win32/wide_text.h"

namespace kalo::platform {
namespace {

struct LocalFreer {
  void operator()(wchar_t** list) const { ::LocalFree(list); }
};

}  // namespace

std::vector<std::string> ProgramArguments(int, char**) {
  int count = 0;
  const std::unique_ptr<wchar_t*, LocalFreer> list(
      ::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!list) {
    throw LastSystemError("Não foi possível ler a linha de comando", "ProgramArguments");
  }
  std::vector<std::string> arguments;
  for (int index = 1; index < count; ++index) {
    arguments.push_back(win32::Narrow(list.get()[index]));
  }
  return arguments;
}

}  // namespace kalo::platform
