#include "platform/atomic_file.h"

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "platform/win32/last_error.h"
#include "platform/win32/link_refusal.h"
#include "win32/handle.h"
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

// Moves the file's position to `at`, throwing with `what` when it cannot.
void MoveTo(HANDLE file, std::uint64_t at, const std::string& what) {
  LARGE_INTEGER position{};
  position.QuadPart = static_cast<LONGLONG>(at);
  if (!::SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) {
    throw LastSystemError(what, kSource);
  }
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

AtomicFile::AtomicFile(std::string target, std::string kept, std::uint64_t held)
    : target_(std::move(target)), temporary_(std::move(kept)), kept_(true) {
  auto file = win32::Handle(::CreateFileW(
      win32::Widen(temporary_).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid()) {
    throw LastSystemError("Não foi possível gravar " + temporary_, kSource);
  }
  length_ = RefuseAllButOwnFile(file.get(), temporary_, kSource) >= held ? held : 0;
  MoveTo(file.get(), length_, "Não foi possível gravar " + temporary_);
  if (!::SetEndOfFile(file.get())) {
    throw LastSystemError("Não foi possível gravar " + temporary_, kSource);
  }
  handle_ = reinterpret_cast<std::intptr_t>(file.release());
}

AtomicFile::~AtomicFile() {
  if (handle_ != -1) {
    ::CloseHandle(HandleOf(handle_));
  }
  if (!temporary_.empty() && !kept_) {
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
    length_ += written;
  }
}

void AtomicFile::Discard() {
  MoveTo(HandleOf(handle_), 0, "Não foi possível gravar " + target_);
  if (!::SetEndOfFile(HandleOf(handle_))) {
    throw LastSystemError("Não foi possível gravar " + target_, kSource);
  }
  length_ = 0;
}

// Reads from the first byte, then goes back to the end for the writes that follow.
void AtomicFile::ReadBack(const std::function<void(std::span<const std::byte>)>& take) {
  const std::string what = "Não foi possível ler " + temporary_;
  MoveTo(HandleOf(handle_), 0, what);
  std::vector<std::byte> piece(256 * 1024);
  for (std::uint64_t at = 0; at < length_;) {
    const auto wanted = static_cast<DWORD>(std::min<std::uint64_t>(piece.size(), length_ - at));
    DWORD got = 0;
    if (!::ReadFile(HandleOf(handle_), piece.data(), wanted, &got, nullptr) || got == 0) {
      throw LastSystemError(what, kSource);
    }
    take(std::span(piece).first(got));
    at += got;
  }
  MoveTo(HandleOf(handle_), length_, what);
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
