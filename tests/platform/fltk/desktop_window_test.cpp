// The FLTK window on a virtual display takes every control from the layout table, at
// the display's dots per inch. Skipped when Xvfb is missing.
#include "platform/desktop_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Window.H>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "helpers/environment.h"
#include "helpers/posix/virtual_display.h"
#include "helpers/wait_for.h"
#include "helpers/window_probe.h"
#include "platform/window_layout.h"

namespace {

namespace layout = kalo::platform::layout;
using kalo::platform::layout::PixelRect;

struct DisplayCloser {
  void operator()(::Display* display) const { XCloseDisplay(display); }
};

// A connection of the test's own. Held for the whole test, it also keeps the server
// from resetting, as it does when its last client leaves, while the window connects.
using DisplayConnection = std::unique_ptr<::Display, DisplayCloser>;

// The display's vertical dots per inch, from its size in pixels and in millimetres.
int DisplayDpi(::Display* display) {
  return static_cast<int>(
      std::lround(DisplayHeight(display, 0) * 25.4 / DisplayHeightMM(display, 0)));
}

TEST(FltkDesktopWindow, PlacesEveryControlAsTheTableSaysAtTheDisplaysDpi) {
  kalo::test::VirtualDisplay display;
  if (!kalo::test::VirtualDisplay::ToolsPresent()) {
    GTEST_SKIP() << "Xvfb, xdotool or ImageMagick's import is not installed";
  }
  ASSERT_TRUE(display.Start());
  DisplayConnection connection;
  ASSERT_TRUE(kalo::test::WaitFor(
      [&] {
        connection.reset(XOpenDisplay(display.Name().c_str()));
        return connection != nullptr;
      },
      std::chrono::seconds(5)));
  const int dpi = DisplayDpi(connection.get());
  // Xvfb's own resolution; at 96 the test could not tell a scaled window from one that
  // ignores the display.
  ASSERT_NE(dpi, layout::kDefaultDpi);
  const kalo::test::ScopedEnvironment on_display("DISPLAY", display.Name());
  ASSERT_TRUE(kalo::platform::DisplayAvailable());

  PixelRect area{};
  std::vector<PixelRect> placed;
  std::vector<int> font_sizes;
  kalo::test::LookOnceShown events([&] {
    Fl_Window* window = Fl::first_window();
    area = {0, 0, window->w(), window->h()};
    for (int index = 0; index < window->children(); ++index) {
      const Fl_Widget* widget = window->child(index);
      placed.push_back({widget->x(), widget->y(), widget->w(), widget->h()});
      const auto* input = dynamic_cast<const Fl_Input*>(widget);
      font_sizes.push_back(input != nullptr ? input->textsize() : widget->labelsize());
    }
    window->hide();
  });
  const auto window = kalo::platform::MakeDesktopWindow(events);
  events.Attach(*window);
  EXPECT_EQ(window->Run(), 0);

  EXPECT_EQ(area, layout::Pixels(layout::kClientArea, dpi));
  kalo::test::ExpectPlacedAsTheTableSays(placed, dpi);
  ASSERT_EQ(font_sizes.size(), layout::kControls.size());
  for (std::size_t index = 0; index < font_sizes.size(); ++index) {
    // The button's caption may shrink to fit.
    if (index != layout::kUpdateButton) {
      EXPECT_EQ(font_sizes[index], layout::Pixels(layout::kControls[index].font.size_twips, dpi))
          << index;
    }
  }
}

}  // namespace
