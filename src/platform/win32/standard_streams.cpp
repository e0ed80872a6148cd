#include "platform/standard_streams.h"

#include <windows.h>

#include <cstdio>

namespace kalo::platform {
namespace {

bool Leads(DWORD stream) {
  const HANDLE handle = ::GetStdHandle(stream);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

}  // namespace

void ConnectStandardStreams() {
  const bool output = Leads(STD_OUTPUT_HANDLE);
  const bool error = Leads(STD_ERROR_HANDLE);
  if ((output && error) || !::AttachConsole(ATTACH_PARENT_PROCESS)) {
    return;
  }
  // The C streams were set up at start, without a console; they are opened on it now.
  if (!output) {
    std::freopen("CONOUT$", "w", stdout);
  }
  if (!error) {
    std::freopen("CONOUT$", "w", stderr);
  }
  if (!Leads(STD_INPUT_HANDLE)) {
    std::freopen("CONIN$", "r", stdin);
  }
}

}  // namespace kalo::platform
