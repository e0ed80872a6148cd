// The FLTK window on a virtual display takes every control from the layout table, at
// the display's dots per inch. Skipped when Xvfb is missing.
#include "platform/desktop_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Window.H>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "helpers/environment.h"
#include "helpers/virtual_display.h"
#include "helpers/wait_for.h"
#include "helpers/window_probe.h"
#include "platform/window_layout.h"

namespace {

namespace layout = kalo::platform::layout;
using kalo::platform::layout::PixelRect;

// The display's vertical dots per inch, from its size in pixels and in millimetres;
// nothing while its server does not take connections yet.
std::optional<int> DisplayDpi(const std::string& name) {
  ::Display* display = XOpenDisplay(name.c_str());
  if (display == nullptr) {
    return std::nullopt;
  }
  const double dpi = DisplayHeight(display, 0) * 25.4 / DisplayHeightMM(display, 0);
  XCloseDisplay(display);
  return static_cast<int>(std::lround(dpi));
}

TEST(FltkDesktopWindow, PlacesEveryControlAsTheTableSaysAtTheDisplaysDpi) {
  kalo::test::VirtualDisplay display;
  if (!kalo::test::VirtualDisplay::ToolsPresent()) {
    GTEST_SKIP() << "Xvfb, xdotool or ImageMagick's import is not installed";
  }
  ASSERT_TRUE(display.Start());
  std::optional<int> display_dpi;
  ASSERT_TRUE(
      kalo::test::WaitFor([&] { return (display_dpi = DisplayDpi(display.Name())).has_value(); },
                          std::chrono::seconds(5)));
  const int dpi = *display_dpi;
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
