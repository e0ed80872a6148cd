// The input box built in memory shows, takes an answer typed into it and gives it
// back in UTF-8; cancelled, it answers nothing. Skipped where no window can be shown.
#include "platform/user32/input_box.h"

#include <gtest/gtest.h>

#include "platform/desktop_window.h"

namespace {

constexpr wchar_t kTitle[] = L"Caixa de teste";

// Timer procedures that act as the user once the box is up: type an answer and press
// OK, or press Cancel.
template <WORD kButton>
void CALLBACK Answer(HWND, UINT, UINT_PTR timer, DWORD) {
  const HWND box = ::FindWindowW(nullptr, kTitle);
  if (box == nullptr) {
    return;
  }
  ::KillTimer(nullptr, timer);
  ::SetWindowTextW(::FindWindowExW(box, nullptr, L"Edit", nullptr), L"Construções São José");
  ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(kButton, BN_CLICKED), 0);
}

TEST(InputBox, GivesBackWhatWasTypedOrNothingWhenCancelled) {
  if (!kalo::platform::DisplayAvailable()) {
    GTEST_SKIP() << "no display to show a window on";
  }
  ::SetTimer(nullptr, 0, 10, Answer<IDOK>);
  EXPECT_EQ(kalo::platform::AskInputBox(nullptr, "Nome do cliente:", "Caixa de teste"),
            "Construções São José");
  ::SetTimer(nullptr, 0, 10, Answer<IDCANCEL>);
  EXPECT_EQ(kalo::platform::AskInputBox(nullptr, "Nome do cliente:", "Caixa de teste"), "");
}

}  // namespace
