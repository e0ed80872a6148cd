// The Win32 window takes every control from the layout table, at the window's dots
// per inch. Skipped where no window can be shown.
#include "platform/desktop_window.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <string_view>
#include <vector>

#include "helpers/window_probe.h"
#include "platform/window_layout.h"

namespace {

namespace layout = kalo::platform::layout;
using kalo::platform::layout::PixelRect;

// `rect` on the screen, in the client coordinates of `window`.
PixelRect InClientArea(HWND window, RECT rect) {
  ::MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

// The updater's window among this thread's, not another program's of the same class.
HWND OwnWindow() {
  HWND found = nullptr;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM data) -> BOOL {
        std::array<wchar_t, 32> name{};
        ::GetClassNameW(window, name.data(), static_cast<int>(name.size()));
        if (std::wstring_view(name.data()) != L"kalo_upd") {
          return TRUE;
        }
        *reinterpret_cast<HWND*>(data) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

BOOL CALLBACK CollectPlace(HWND control, LPARAM data) {
  auto* placed = reinterpret_cast<std::vector<PixelRect>*>(data);
  RECT rect{};
  ::GetWindowRect(control, &rect);
  placed->push_back(InClientArea(::GetParent(control), rect));
  return TRUE;
}

TEST(Win32DesktopWindow, PlacesEveryControlAsTheTableSaysAtTheWindowsDpi) {
  if (!kalo::platform::DisplayAvailable()) {
    GTEST_SKIP() << "no display to show a window on";
  }
  int dpi = 0;
  PixelRect area{};
  std::vector<PixelRect> placed;
  kalo::test::LookOnceShown events([&] {
    const HWND window = OwnWindow();
    dpi = static_cast<int>(::GetDpiForWindow(window));
    RECT client{};
    ::GetClientRect(window, &client);
    area = {0, 0, client.right, client.bottom};
    // Children are listed in the order they were made: the table's.
    ::EnumChildWindows(window, CollectPlace, reinterpret_cast<LPARAM>(&placed));
    ::PostQuitMessage(0);
  });
  const auto window = kalo::platform::MakeDesktopWindow(events);
  events.Attach(*window);
  EXPECT_EQ(window->Run(), 0);

  ASSERT_GT(dpi, 0);
  EXPECT_EQ(area, layout::Pixels(layout::kClientArea, dpi));
  kalo::test::ExpectPlacedAsTheTableSays(placed, dpi);
}

}  // namespace
