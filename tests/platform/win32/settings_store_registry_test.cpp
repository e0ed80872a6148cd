// The settings where the product's own program keeps them: string values in the
// current user's registry, one key per section.
#include <gtest/gtest.h>
#include <windows.h>

#include "helpers/settings_root.h"
#include "helpers/utf8_path.h"
#include "platform/settings_store.h"

namespace {

using kalo::test::FromUtf8;

TEST(SettingsStoreRegistry, ValuesAreStringsInTheKeyOfTheirSection) {
  const kalo::test::SettingsRoot root;
  const std::wstring section_key = FromUtf8(root.Path() + "\\KALO\\config").wstring();
  // As the product's own program stores the client name.
  const std::wstring stored = L"acme";
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, section_key.c_str(), L"cliente", REG_SZ,
                            stored.c_str(), static_cast<DWORD>((stored.size() + 1) * 2)),
            ERROR_SUCCESS);
  kalo::platform::SettingsStore settings(root.Path());
  EXPECT_EQ(settings.Get("KALO", "CONFIG", "Cliente", ""), "acme");

  settings.Save("KALO", "config", "servidor", "http://atualização.example");
  wchar_t read[64] = {};
  DWORD size = sizeof read;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, section_key.c_str(), L"servidor", RRF_RT_REG_SZ,
                         nullptr, read, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(read), L"http://atualiza\u00e7\u00e3o.example");
}

}  // namespace
