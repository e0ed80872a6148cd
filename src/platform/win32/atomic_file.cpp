#include "platform/atomic_file.h"

#include <algorithm>
#include <random>
#include <utility>

#include "platform/win32/last_error.h"
#include "win32/wide_text.h"

namespace kalo::platform {
namespace {

constexpr const char* kSource = "AtomicFile";
// As many names as mkstemp tries before it gives up.
constexpr int kNameAttempts = 100;
// Lower case only: names that differ in case alone are one name on Windows.
constexpr std::string_view kLettersAndDigits = "abcdefghijklmnopqrstuvwxyz0123456789";

HANDLE HandleOf(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// The template with its trailing X replaced by letters and digits drawn at random.
std::string UniqueName(std::string name, std::mt19937& random) {
  std::uniform_int_distribution<std::size_t> pick(0, kLettersAndDigits.size() - 1);
  for (std::size_t at = name.find_last_not_of('X') + 1; at < name.size(); ++at) {
    name[at] = kLettersAndDigits[pick(random)];
  }
  return name;
}

}  // namespace

AtomicFile::AtomicFile(std::string target) : target_(std::move(target)) {
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 1;; ++attempt) {
    std::string name = UniqueName(TemporaryTemplate(target_), random);
    // CREATE_NEW, so that two writers of the same target never share a temporary file.
    // Delete sharing lets a recovery remove it while it is still open, as when the
    // program ends at once in the middle of a download and skips this object's end.
    const HANDLE handle =
        ::CreateFileW(win32::Widen(name).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<std::intptr_t>(handle);
      temporary_ = std::move(name);
      return;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS || attempt == kNameAttempts) {
      throw LastSystemError("Não foi possível criar " + target_, kSource);
    }
  }
}

AtomicFile::~AtomicFile() {
  if (handle_ != -1) {
    ::CloseHandle(HandleOf(handle_));
  }
  if (!temporary_.empty()) {
    ::DeleteFileW(win32::Widen(temporary_).c_str());
  }
}

void AtomicFile::Write(std::span<const std::byte> bytes) {
  // One call takes a 32-bit length; a gibibyte at a time stays well inside it.
  constexpr std::size_t kLargestWrite = std::size_t{1} << 30;
  while (!bytes.empty()) {
    const auto length = static_cast<DWORD>(std::min(bytes.size(), kLargestWrite));
    DWORD written = 0;
    if (!::WriteFile(HandleOf(handle_), bytes.data(), length, &written, nullptr)) {
      throw LastSystemError("Não foi possível gravar " + target_, kSource);
    }
    bytes = bytes.subspan(written);
  }
}

void AtomicFile::Discard() {
  if (!::SetFilePointerEx(HandleOf(handle_), LARGE_INTEGER{}, nullptr, FILE_BEGIN) ||
      !::SetEndOfFile(HandleOf(handle_))) {
    throw LastSystemError("Não foi possível gravar " + target_, kSource);
  }
}

void AtomicFile::Flush() {
  if (!::FlushFileBuffers(HandleOf(handle_))) {
    throw LastSystemError("Não foi possível gravar " + target_, kSource);
  }
}

// Windows has no modes: the file keeps the access its folder hands down.
void AtomicFile::Install(FilePermissions /*permissions*/, bool replace) {
  if (!::CloseHandle(HandleOf(std::exchange(handle_, -1)))) {
    throw LastSystemError("Não foi possível gravar " + target_, kSource);
  }
  // Without MOVEFILE_REPLACE_EXISTING the move fails where a file already stands.
  if (!::MoveFileExW(win32::Widen(temporary_).c_str(), win32::Widen(target_).c_str(),
                     replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
    throw LastSystemError("Não foi possível gravar " + target_, kSource);
  }
  temporary_.clear();
}

}  // namespace kalo::platform
