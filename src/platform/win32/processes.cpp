#include "platform/processes.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/last_error.h"
#include "win32/handle.h"
#include "win32/wide_text.h"
// After windows.h, which it needs.
#include <tlhelp32.h>

namespace kalo::platform {
namespace {

constexpr const char* kSource = "ProcessTable::Start";

// The exit status of a process we end, as Task Manager's "End task" gives it.
constexpr UINT kTerminatedExitStatus = 1;

// The three standard streams a started program gets: copies of ours, or NUL for the
// streams that go nowhere. Each is an inheritable copy, closed here once the program
// has started with its own.
class StandardStreams {
 public:
  StandardStreams(WindowStyle style, ProgramOutput output, const std::string& failure) {
    constexpr std::array<DWORD, 3> kOurs = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (std::size_t stream = 0; stream < kOurs.size(); ++stream) {
      const bool silenced =
          style == WindowStyle::kHidden || (stream > 0 && output == ProgramOutput::kDiscarded);
      streams_[stream] =
          silenced ? Nowhere(failure) : InheritableCopy(::GetStdHandle(kOurs[stream]));
    }
  }

  HANDLE Input() const { return streams_[0].get(); }
  HANDLE Output() const { return streams_[1].get(); }
  HANDLE ErrorOutput() const { return streams_[2].get(); }

  // The streams there are: none when this process has none (started from the desktop),
  // and the started program then gets what any program started from the desktop gets.
  std::vector<HANDLE> Present() const {
    std::vector<HANDLE> present;
    for (const win32::Handle& stream : streams_) {
      if (stream.valid()) {
        present.push_back(stream.get());
      }
    }
    return present;
  }

 private:
  static win32::Handle Nowhere(const std::string& failure) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    auto nowhere = win32::Handle(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                               OPEN_EXISTING, 0, nullptr));
    if (!nowhere.valid()) {
      throw LastSystemError(failure, kSource);
    }
    return nowhere;
  }

  // Nothing when this process has no such stream.
  static win32::Handle InheritableCopy(HANDLE ours) {
    HANDLE copy = nullptr;
    if (ours == nullptr || ours == INVALID_HANDLE_VALUE ||
        !::DuplicateHandle(::GetCurrentProcess(), ours, ::GetCurrentProcess(), &copy, 0, TRUE,
                           DUPLICATE_SAME_ACCESS)) {
      return {};
    }
    return win32::Handle(copy);
  }

  std::array<win32::Handle, 3> streams_;
};

// The list of the only handles a started program inherits, whatever other inheritable
// handles this process holds.
class InheritedHandles {
 public:
  InheritedHandles(std::vector<HANDLE> handles, const std::string& failure)
      : handles_(std::move(handles)) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    if (!::InitializeProcThreadAttributeList(List(), 1, 0, &size)) {
      throw LastSystemError(failure, kSource);
    }
    initialized_ = true;
    if (!::UpdateProcThreadAttribute(List(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                     handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
      throw LastSystemError(failure, kSource);
    }
  }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;
  ~InheritedHandles() {
    if (initialized_) {
      ::DeleteProcThreadAttributeList(List());
    }
  }

  LPPROC_THREAD_ATTRIBUTE_LIST List() {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
  }

 private:
  // The attribute list refers to the handles where they are stored.
  std::vector<HANDLE> handles_;
  std::vector<std::byte> storage_;
  bool initialized_ = false;
};

// The full path of the process's executable; empty when we may not ask, or the process
// is gone.
std::string ImagePathOf(DWORD id) {
  const win32::Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  // Long enough for any path, \\?\ prefixed or not.
  std::wstring path(32768, L'\0');
  auto size = static_cast<DWORD>(path.size());
  if (!process.valid() || !::QueryFullProcessImageNameW(process.get(), 0, path.data(), &size)) {
    return {};
  }
  path.resize(size);
  try {
    return win32::Narrow(path);
  } catch (const Error&) {
    return {};  // a name no UTF-8 text can hold names nothing we compare with
  }
}

}  // namespace

std::vector<ProcessEntry> ProcessTable::Snapshot() const {
  std::vector<ProcessEntry> processes;
  const auto snapshot = win32::Handle(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.valid()) {
    return processes;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    processes.push_back(
        {entry.th32ProcessID, win32::Narrow(entry.szExeFile), ImagePathOf(entry.th32ProcessID)});
  }
  std::ranges::sort(processes, {}, &ProcessEntry::id);
  return processes;
}

bool ProcessTable::Terminate(ProcessId id) {
  if (id < 0 || id > ProcessId{MAXDWORD}) {
    return false;
  }
  const win32::Handle process(
      ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(id)));
  // A process that has ended stays open to whoever still holds it; it is gone all the same.
  return process.valid() && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT &&
         ::TerminateProcess(process.get(), kTerminatedExitStatus);
}

ProcessId ProcessTable::Start(const std::string& path, WindowStyle style, ProgramOutput output) {
  const std::string failure = "Não foi possível executar " + path;
  const StandardStreams streams(style, output, failure);
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup.StartupInfo;
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = style == WindowStyle::kHidden ? SW_HIDE : SW_SHOWNORMAL;
  // A console program gets a console of its own, so that it outlives ours; a hidden
  // one gets it without a window, so that none flashes up.
  DWORD flags = style == WindowStyle::kHidden ? CREATE_NO_WINDOW : CREATE_NEW_CONSOLE;
  std::optional<InheritedHandles> inherited;
  if (std::vector<HANDLE> present = streams.Present(); !present.empty()) {
    startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = streams.Input();
    startup.StartupInfo.hStdOutput = streams.Output();
    startup.StartupInfo.hStdError = streams.ErrorOutput();
    inherited.emplace(std::move(present), failure);
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = inherited->List();
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  const std::wstring program = win32::Widen(path);
  // The path as one argument, blanks and all; a file name holds no quote to escape.
  std::wstring command_line = L"\"" + program + L"\"";
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr,
                        inherited.has_value(), flags, nullptr, nullptr, &startup.StartupInfo,
                        &started)) {
    throw LastSystemError(failure, kSource);
  }
  const win32::Handle process(started.hProcess);
  const win32::Handle thread(started.hThread);
  return started.dwProcessId;
}

void EndOwnProcess(int exit_status) {
  std::fflush(nullptr);
  ::ExitProcess(static_cast<UINT>(exit_status));
}

}  // namespace kalo::platform
