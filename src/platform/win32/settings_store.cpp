#include "platform/settings_store.h"

#include "platform/system_error.h"
#include "win32/handle.h"
#include "win32/wide_text.h"

namespace kalo::platform {
namespace {

constexpr const char* kSource = "SettingsStore";

// Registry keys are named below HKEY_CURRENT_USER; messages name them in full.
std::string FullName(const std::string& key) {
  return "HKEY_CURRENT_USER\\" + key;
}

}  // namespace

std::string SettingsStore::PlaceOf(const std::string& app) const {
  return root_ + "\\" + app;
}

std::string SettingsStore::Get(const std::string& app, const std::string& section,
                               const std::string& key, const std::string& fallback) const {
  const std::wstring section_key = win32::Widen(PlaceOf(app) + "\\" + section);
  const std::wstring name = win32::Widen(key);
  // Asked for its size first, then for itself; a value that grew in between is asked again.
  std::wstring value;
  for (;;) {
    auto size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    const LSTATUS status =
        ::RegGetValueW(HKEY_CURRENT_USER, section_key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr,
                       value.empty() ? nullptr : value.data(), &size);
    if (status == ERROR_SUCCESS && !value.empty()) {
      // The value ends at its terminating null; the buffer may run on past it.
      value.resize(value.find(L'\0'));
      return win32::Narrow(value);
    }
    // A missing or unreadable value reads as none, as a missing settings file does.
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
      return fallback;
    }
    value.resize(size / sizeof(wchar_t) + 1);
  }
}

void SettingsStore::Save(const std::string& app, const std::string& section, const std::string& key,
                         const std::string& value) {
  const std::string section_key = PlaceOf(app) + "\\" + section;
  HKEY opened = nullptr;
  LSTATUS status =
      ::RegCreateKeyExW(HKEY_CURRENT_USER, win32::Widen(section_key).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &opened, nullptr);
  if (status != ERROR_SUCCESS) {
    throw SystemError(static_cast<int>(status),
                      "Não foi possível criar a chave " + FullName(section_key), kSource);
  }
  const win32::KeyHandle owned(opened);
  // The registry writes one value whole, so no crash leaves it half written.
  const std::wstring data = win32::Widen(value);
  status = ::RegSetValueExW(owned.get(), win32::Widen(key).c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  if (status != ERROR_SUCCESS) {
    throw SystemError(static_cast<int>(status),
                      "Não foi possível gravar " + FullName(section_key) + "\\" + key, kSource);
  }
}

std::string DefaultSettingsRoot() {
  return "Software\\VB and VBA Program Settings";
}

}  // namespace kalo::platform
