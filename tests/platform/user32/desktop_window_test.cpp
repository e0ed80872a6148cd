// The Win32 window takes every control from the layout table, at the window's dots
// per inch. Skipped where no window can be shown.
#include "platform/desktop_window.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <objbase.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "helpers/window_probe.h"
#include "platform/user32/window_objects.h"
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

// The window's title, and each control's text and place.
struct Shown {
  std::vector<std::wstring> texts;
  std::vector<PixelRect> places;
};

Shown ShownOf(HWND window) {
  Shown shown;
  shown.texts.push_back(kalo::platform::WindowText(window));
  ::EnumChildWindows(window, CollectPlace, reinterpret_cast<LPARAM>(&shown.places));
  for (HWND control = ::GetWindow(window, GW_CHILD); control != nullptr;
       control = ::GetWindow(control, GW_HWNDNEXT)) {
    shown.texts.push_back(kalo::platform::WindowText(control));
  }
  return shown;
}

// Whether this thread was in a COM apartment, leaving it as it was.
HRESULT ComApartmentProbe() {
  const HRESULT result = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(result)) {
    ::CoUninitialize();
  }
  return result;
}

kalo::platform::TransferProgress Progress(kalo::platform::TransferPhase phase, std::uint64_t bytes,
                                          std::optional<std::uint64_t> total) {
  kalo::platform::TransferProgress progress;
  progress.phase = phase;
  progress.bytes = bytes;
  progress.total = total;
  return progress;
}

// A transfer's every phase goes to the taskbar button (wine has no taskbar to show it:
// its taskbar list takes the calls and shows nothing), never into the window's own
// texts and layout; the thread's COM apartment is left as it was found.
TEST(Win32DesktopWindow, ShowsATransfersProgressOutsideItsLayoutAndTexts) {
  if (!kalo::platform::DisplayAvailable()) {
    GTEST_SKIP() << "no display to show a window on";
  }
  using kalo::platform::TransferPhase;
  const HRESULT apartment_before = ComApartmentProbe();
  kalo::platform::DesktopWindow* shown_window = nullptr;
  Shown before;
  Shown after;
  kalo::test::LookOnceShown events([&] {
    const HWND window = OwnWindow();
    before = ShownOf(window);
    for (const auto& progress : {Progress(TransferPhase::kReceiving, 0, std::nullopt),
                                 Progress(TransferPhase::kReceiving, 10, 100),
                                 Progress(TransferPhase::kReceiving, 10, 100),
                                 Progress(TransferPhase::kWaitingToRetry, 50, 100),
                                 Progress(TransferPhase::kFailed, 50, 100),
                                 Progress(TransferPhase::kFinished, 100, 100)}) {
      shown_window->ShowTransferProgress(progress);
      shown_window->ProcessPendingMessages();
    }
    after = ShownOf(window);
    ::PostQuitMessage(0);
  });
  {
    const auto window = kalo::platform::MakeDesktopWindow(events);
    events.Attach(*window);
    shown_window = window.get();
    EXPECT_EQ(window->Run(), 0);
  }
  ASSERT_EQ(before.texts.size(), layout::kControls.size() + 1);
  EXPECT_EQ(after.texts, before.texts);
  EXPECT_EQ(after.places, before.places);
  EXPECT_EQ(ComApartmentProbe(), apartment_before);
}

}  // namespace
