#include "helpers/system_proxy.h"

#include <windows.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "helpers/environment.h"
#include "win32/handle.h"
#include "win32/wide_text.h"

namespace kalo::test {
namespace {

constexpr const wchar_t* kInternetSettings =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
// Windows reaches this computer's own addresses past any proxy unless the exceptions
// take them back with this entry.
constexpr const char* kNoExceptions = "<-loopback>";

win32::KeyHandle OpenInternetSettings() {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    throw std::runtime_error("cannot open the Internet settings");
  }
  return win32::KeyHandle(key);
}

// One value of a registry key, put back as it was when the object goes.
class ScopedRegistryValue {
 public:
  ScopedRegistryValue(HKEY key, const wchar_t* name) : key_(key), name_(name) {
    DWORD size = 0;
    if (::RegQueryValueExW(key_, name_, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
      old_.emplace(size);
      ::RegQueryValueExW(key_, name_, nullptr, &type_, old_->data(), &size);
    }
  }
  ScopedRegistryValue(const ScopedRegistryValue&) = delete;
  ScopedRegistryValue& operator=(const ScopedRegistryValue&) = delete;
  ~ScopedRegistryValue() {
    if (old_) {
      ::RegSetValueExW(key_, name_, 0, type_, old_->data(), static_cast<DWORD>(old_->size()));
    } else {
      ::RegDeleteValueW(key_, name_);
    }
  }

  void Set(DWORD number) const { Set(REG_DWORD, &number, sizeof(number)); }
  void Set(const std::string& text) const {
    const std::wstring wide = win32::Widen(text);
    Set(REG_SZ, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
  }

 private:
  void Set(DWORD type, const void* data, std::size_t size) const {
    if (::RegSetValueExW(key_, name_, 0, type, static_cast<const BYTE*>(data),
                         static_cast<DWORD>(size)) != ERROR_SUCCESS) {
      throw std::runtime_error("cannot change the Internet settings");
    }
  }

  HKEY key_;
  const wchar_t* name_;
  DWORD type_ = REG_NONE;
  std::optional<std::vector<BYTE>> old_;
};

}  // namespace

struct ScopedSystemProxy::Saved {
  Saved(const std::optional<std::string>& address, const std::optional<std::string>& bypass)
      : key(OpenInternetSettings()),
        enabled(key.get(), L"ProxyEnable"),
        server(key.get(), L"ProxyServer"),
        exceptions(key.get(), L"ProxyOverride"),
        // Wine's WinINet also reads curl's variables where the settings name no proxy or
        // no exceptions.
        http_proxy("http_proxy", std::nullopt),
        no_proxy("no_proxy", std::nullopt) {
    enabled.Set(address ? DWORD{1} : DWORD{0});
    if (address) {
      server.Set(*address);
    }
    exceptions.Set(bypass.value_or(kNoExceptions));
  }

  win32::KeyHandle key;
  ScopedRegistryValue enabled;
  ScopedRegistryValue server;
  ScopedRegistryValue exceptions;
  ScopedEnvironment http_proxy;
  ScopedEnvironment no_proxy;
};

ScopedSystemProxy::ScopedSystemProxy(const std::optional<std::string>& address,
                                     const std::optional<std::string>& bypass)
    : saved_(std::make_unique<Saved>(address, bypass)) {}

ScopedSystemProxy::~ScopedSystemProxy() = default;

}  // namespace kalo::test
