#include "helpers/settings_root.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "helpers/utf8_path.h"

namespace kalo::test {
namespace {

constexpr const wchar_t* kTestsKey = L"Software\\kalo_tests";

// Key names convert between UTF-16 and UTF-8 exactly as paths do.
std::string Narrow(const std::wstring& key) {
  return Utf8(std::filesystem::path(key));
}

void CreateKey(const std::wstring& key, DWORD options) {
  HKEY created = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, options, KEY_READ, nullptr,
                      &created, nullptr) != ERROR_SUCCESS) {
    throw std::runtime_error("cannot create the registry key " + Narrow(key));
  }
  const std::unique_ptr<std::remove_pointer_t<HKEY>, decltype(&RegCloseKey)> owned(created,
                                                                                   &RegCloseKey);
}

}  // namespace

struct SettingsRoot::Place {
  std::wstring key;

  Place() {
    // Unique among the tests of this run and those of runs alongside it.
    static std::atomic<int> next{0};
    key = std::wstring(kTestsKey) + L"\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(next++);
    CreateKey(key, REG_OPTION_NON_VOLATILE);
  }
  Place(const Place&) = delete;
  Place& operator=(const Place&) = delete;
  ~Place() {
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    // Goes only once no other test holds a key below it.
    RegDeleteKeyW(HKEY_CURRENT_USER, kTestsKey);
  }
};

SettingsRoot::SettingsRoot() : place_(std::make_unique<Place>()), path_(Narrow(place_->key)) {}

SettingsRoot::~SettingsRoot() = default;

// A key that lives in memory only, and so can hold no key that is kept on disk.
std::string SettingsRoot::Unwritable() const {
  const std::wstring key = place_->key + L"\\volatile";
  CreateKey(key, REG_OPTION_VOLATILE);
  return Narrow(key);
}

}  // namespace kalo::test
