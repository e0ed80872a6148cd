// A look at the desktop window as it is shown: window events that let a test inspect
// the real window once, and the check that it placed every control where the layout
// table says.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "platform/desktop_window.h"
#include "platform/window_layout.h"

namespace kalo::test {

// On the first timer tick after the window shows, calls `look`, which inspects the
// window and makes Run return.
class LookOnceShown : public platform::WindowEvents {
 public:
  explicit LookOnceShown(std::function<void()> look) : look_(std::move(look)) {}

  void Attach(platform::DesktopWindow& window) { window_ = &window; }

  void Form_Load() override { window_->SetTimerEnabled(true); }
  int Form_Unload() override { return 0; }
  void cmdImportar_Click() override {}
  void txtCliente_KeyPress(int) override {}
  void Timer1_Timer() override {
    window_->SetTimerEnabled(false);
    look_();
  }

 private:
  std::function<void()> look_;
  platform::DesktopWindow* window_ = nullptr;
};

// `placed` holds each control's place in the window, in the table's order. A
// self-sizing label takes its size from its text, so only its corner is the table's.
inline void ExpectPlacedAsTheTableSays(const std::vector<platform::layout::PixelRect>& placed,
                                       int dpi) {
  namespace layout = platform::layout;
  ASSERT_EQ(placed.size(), layout::kControls.size());
  for (std::size_t index = 0; index < placed.size(); ++index) {
    SCOPED_TRACE(index);
    const layout::PixelRect expected = layout::Pixels(layout::kControls[index].place, dpi);
    EXPECT_EQ(placed[index].left, expected.left);
    EXPECT_EQ(placed[index].top, expected.top);
    if (!layout::kControls[index].sizes_itself) {
      EXPECT_EQ(placed[index].width, expected.width);
      EXPECT_EQ(placed[index].height, expected.height);
    }
  }
}

}  // namespace kalo::test
