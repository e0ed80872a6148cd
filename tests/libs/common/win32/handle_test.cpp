// Handles close themselves once, by their own function, and either failure value
// means none.
#include "win32/handle.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

using kalo::win32::Handle;
using kalo::win32::KeyHandle;

TEST(Win32Handle, OwnsOnceAndTakesEitherFailureValueForNone) {
  for (const HANDLE none : {HANDLE{nullptr}, INVALID_HANDLE_VALUE}) {
    Handle empty(none);
    EXPECT_FALSE(empty.valid());
    EXPECT_TRUE(empty.Reset());
  }

  Handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event.valid());
  const HANDLE raw = event.get();
  Handle moved(std::move(event));
  EXPECT_FALSE(event.valid());
  EXPECT_EQ(moved.get(), raw);
  EXPECT_TRUE(moved.Reset());
  EXPECT_FALSE(moved.valid());
  // Closed by Reset, not left to the destructor: the system no longer knows it.
  DWORD flags = 0;
  EXPECT_FALSE(::GetHandleInformation(raw, &flags));
}

TEST(Win32Handle, RegistryKeysCloseByTheirOwnFunction) {
  HKEY opened = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &opened), ERROR_SUCCESS);
  KeyHandle key(opened);
  EXPECT_TRUE(key.valid());
  EXPECT_TRUE(key.Reset());
  EXPECT_NE(::RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
}

}  // namespace
