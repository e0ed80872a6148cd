#include "platform/desktop_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "platform/plain_text.h"
#include "platform/processes.h"
#include "platform/shortened_text.h"
#include "platform/window_layout.h"

namespace kalo::platform {
namespace {

using layout::kControls;

// The message boxes keep the sizes of 96 dots per inch.
constexpr int kDefaultFontSize =
    layout::Pixels(layout::kDefaultFont.size_twips, layout::kDefaultDpi);
constexpr int kMessageFontSize = 12;
constexpr int kMaxMessageWidth = 480;
constexpr double kTimerSeconds = layout::kTimerMilliseconds / 1000.0;

Fl_Color ColourOf(layout::Colour colour) {
  return fl_rgb_color(colour.red, colour.green, colour.blue);
}

const Fl_Color kWhite = ColourOf(layout::kWhite);
const Fl_Color kDarkGrey = ColourOf(layout::kDarkGrey);

// The toolkit's own faces stand in for the form's.
Fl_Font FontOf(const layout::FontLook& look) {
  return (look.fixed_pitch ? FL_COURIER : FL_HELVETICA) + (look.bold ? FL_BOLD : 0);
}

// The screen's dots per inch, as the toolkit reads them from the display.
int ScreenDpi() {
  float horizontal = 0;
  float vertical = 0;
  Fl::screen_dpi(horizontal, vertical, 0);
  return vertical > 0 ? static_cast<int>(std::lround(vertical)) : layout::kDefaultDpi;
}

// The logic's texts break lines the Windows way; the toolkit wants bare line feeds.
std::string ForDisplay(const std::string& text) {
  return ShortenedLines(WithLineFeeds(text));
}

// The toolkit reads '@' in labels as a symbol; doubling it shows it as typed.
std::string WithoutSymbols(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    escaped += (c == '@') ? "@@" : std::string(1, c);
  }
  return escaped;
}

bool IsEnter(int key) {
  return key == FL_Enter || key == FL_KP_Enter;
}

// A caption drawn flush with its box, as the form placed it, and without the
// toolkit's symbol syntax, so addresses with '@' show unchanged.
class Label : public Fl_Box {
 public:
  Label(int x, int y, int w, int h, bool auto_size = false, bool underlined = false)
      : Fl_Box(x, y, w, h), auto_size_(auto_size), underlined_(underlined) {
    align(FL_ALIGN_TOP_LEFT | FL_ALIGN_INSIDE);
    labelsize(kDefaultFontSize);
    labelcolor(kDarkGrey);
  }

  void SetText(const std::string& text) {
    copy_label(text.c_str());
    if (auto_size_) {
      // The old extent may be larger than the new one; the window repaints it.
      if (window() != nullptr) {
        window()->damage(FL_DAMAGE_ALL, x(), y(), w(), h());
      }
      fl_font(labelfont(), labelsize());
      int text_w = 0;
      int text_h = 0;
      fl_measure(label(), text_w, text_h, 0);
      size(text_w, std::max(text_h, fl_height()));
    }
    redraw();
  }

 protected:
  void draw() override {
    draw_box();
    fl_push_clip(x(), y(), w(), h());
    fl_font(labelfont(), labelsize());
    fl_color(active_r() ? labelcolor() : fl_inactive(labelcolor()));
    fl_draw(label(), x(), y(), w(), h(), align(), nullptr, 0);
    // Only self-sizing labels are underlined, so the line spans the whole box.
    if (underlined_ && w() > 0) {
      fl_xyline(x(), y() + fl_height() - fl_descent() + 1, x() + w() - 1);
    }
    fl_pop_clip();
  }

 private:
  bool auto_size_;
  bool underlined_;
};

// A push button that also answers Enter while it has the focus, as desktop users
// expect, not only the space bar.
class PushButton : public Fl_Button {
 public:
  PushButton(int x, int y, int w, int h, const char* caption) : Fl_Button(x, y, w, h, caption) {
    labelsize(kDefaultFontSize);
  }

  int handle(int event) override {
    if (event == FL_KEYBOARD && Fl::focus() == this && IsEnter(Fl::event_key())) {
      do_callback();
      return 1;
    }
    return Fl_Button::handle(event);
  }

  // Sans fonts on Linux run wider than MS Sans Serif; a caption that would spill out
  // of the button gets a smaller size instead.
  void FitCaption(int dpi) {
    const int padding = layout::Pixels(layout::kButtonPaddingTwips, dpi);
    const int smallest = layout::Pixels(layout::kSmallestCaptionTwips, dpi);
    fl_font(labelfont(), labelsize());
    while (labelsize() > smallest && fl_width(label()) > w() - padding) {
      labelsize(labelsize() - 1);
      fl_font(labelfont(), labelsize());
    }
  }
};

// The name box reports Enter to the logic instead of selecting its text.
class ClientInput : public Fl_Input {
 public:
  ClientInput(int x, int y, int w, int h, WindowEvents& events)
      : Fl_Input(x, y, w, h), events_(events) {}

  int handle(int event) override {
    if (event == FL_KEYBOARD && IsEnter(Fl::event_key())) {
      events_.txtCliente_KeyPress(13);
      return 1;
    }
    return Fl_Input::handle(event);
  }

 private:
  WindowEvents& events_;
};

// What a message box looks like and answers, by style; the first button has the focus.
struct DialogChoice {
  const char* caption;
  MessageAnswer answer;
};

struct DialogLook {
  const char* glyph;
  Fl_Color disc;
  Fl_Color glyph_color;
  std::vector<DialogChoice> choices;
  MessageAnswer on_close;
};

DialogLook LookOf(MessageStyle style) {
  const DialogChoice ok{layout::kOkCaption, MessageAnswer::kOk};
  const DialogChoice yes{"Sim", MessageAnswer::kYes};
  const DialogChoice no{"Não", MessageAnswer::kNo};
  const Fl_Color blue = fl_rgb_color(0, 84, 180);
  switch (style) {
    case MessageStyle::kError:
      return {"X", fl_rgb_color(200, 30, 30), kWhite, {ok}, MessageAnswer::kOk};
    case MessageStyle::kQuestionYesNo:
      return {"?", blue, kWhite, {yes, no}, MessageAnswer::kNo};
    case MessageStyle::kExclamationYesNoCancel:
      return {"!",
              fl_rgb_color(250, 200, 0),
              FL_BLACK,
              {yes, no, {layout::kCancelCaption, MessageAnswer::kCancel}},
              MessageAnswer::kCancel};
    case MessageStyle::kInformation:
      break;
  }
  return {"i", blue, kWhite, {ok}, MessageAnswer::kOk};
}

// What one button of a box, or its closing, answers.
struct ChoiceBinding {
  Fl_Window* dialog;
  MessageAnswer* result;
  MessageAnswer answer;
};

void OnChoice(Fl_Widget*, void* data) {
  const auto* binding = static_cast<ChoiceBinding*>(data);
  *binding->result = binding->answer;
  binding->dialog->hide();
}

// Centres `window` over `owner` when that is on the screen, else on the screen.
void Centre(Fl_Window& window, Fl_Window* owner) {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
  Fl::screen_work_area(x, y, w, h, 0);
  if (owner != nullptr && owner->shown()) {
    x = owner->x();
    y = owner->y();
    w = owner->w();
    h = owner->h();
  }
  window.position(x + (w - window.w()) / 2, y + (h - window.h()) / 2);
}

// A modal box of our own rather than fl_choice: it keeps the Windows order of the
// buttons, lets closing pick the right answer and may open while another box is up.
MessageAnswer RunMessageBox(const std::string& text, MessageStyle style, const std::string& title,
                            Fl_Window* owner) {
  constexpr int kMargin = 12;
  constexpr int kIcon = 36;
  constexpr int kButtonH = 25;
  constexpr int kGap = 8;
  const DialogLook look = LookOf(style);
  const std::string shown = ForDisplay(text);

  fl_font(FL_HELVETICA, kMessageFontSize);
  int text_w = 0;
  int text_h = 0;
  fl_measure(shown.c_str(), text_w, text_h, 0);
  if (text_w > kMaxMessageWidth) {
    text_w = kMaxMessageWidth;  // wraps the text at this width
    fl_measure(shown.c_str(), text_w, text_h, 0);
  }
  fl_font(FL_HELVETICA, kDefaultFontSize);
  int button_w = 80;
  for (const DialogChoice& choice : look.choices) {
    button_w = std::max(button_w, static_cast<int>(fl_width(choice.caption)) + 24);
  }
  const int count = static_cast<int>(look.choices.size());
  const int buttons_w = count * button_w + (count - 1) * kGap;
  const int body_h = std::max(kIcon, text_h);
  const int width = std::max(3 * kMargin + kIcon + text_w, buttons_w + 2 * kMargin);
  const int height = 4 * kMargin + body_h + kButtonH;

  // A box opened while a group is being built must not become its child.
  Fl_Group* const building = Fl_Group::current();
  Fl_Group::current(nullptr);
  Fl_Window dialog(width, height);
  dialog.copy_label(title.c_str());
  MessageAnswer result = look.on_close;
  auto* icon = new Fl_Box(FL_OVAL_BOX, kMargin, kMargin, kIcon, kIcon, look.glyph);
  icon->color(look.disc);
  icon->labelcolor(look.glyph_color);
  icon->labelfont(FL_TIMES_BOLD);
  icon->labelsize(26);
  auto* message = new Label(2 * kMargin + kIcon, kMargin + (body_h - text_h) / 2, text_w, text_h);
  message->align(FL_ALIGN_TOP_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
  message->labelsize(kMessageFontSize);
  message->labelcolor(FL_FOREGROUND_COLOR);
  message->SetText(shown);
  std::vector<ChoiceBinding> bindings;
  bindings.reserve(look.choices.size());  // the buttons point into it
  std::vector<PushButton*> buttons;
  for (const DialogChoice& choice : look.choices) {
    const int left = (width - buttons_w) / 2 + static_cast<int>(buttons.size()) * (button_w + kGap);
    buttons.push_back(
        new PushButton(left, height - kMargin - kButtonH, button_w, kButtonH, choice.caption));
    bindings.push_back({&dialog, &result, choice.answer});
    buttons.back()->callback(OnChoice, &bindings.back());
  }
  dialog.end();
  Fl_Group::current(building);

  // Escape and the close box both end the box with the answer its style gives them.
  ChoiceBinding closing{&dialog, &result, look.on_close};
  dialog.callback(OnChoice, &closing);
  dialog.set_modal();
  Centre(dialog, owner);
  // The system's boxes give the focus back where it was, so typing goes on there.
  Fl_Widget* const had_focus = Fl::focus();
  buttons.front()->take_focus();
  dialog.show();
  while (dialog.shown()) {
    Fl::wait();
  }
  if (had_focus != nullptr) {
    had_focus->take_focus();
  }
  return result;
}

class FltkDesktopWindow final : public DesktopWindow {
 public:
  explicit FltkDesktopWindow(WindowEvents& events) : events_(events) {
    // Measuring the self-sizing labels needs the display's fonts.
    fl_open_display();
    fl_ok = layout::kOkCaption;
    fl_cancel = layout::kCancelCaption;
    const int dpi = ScreenDpi();
    Fl_Group::current(nullptr);
    const layout::PixelRect area = layout::Pixels(layout::kClientArea, dpi);
    window_ = std::make_unique<Fl_Double_Window>(area.width, area.height);
    window_->color(ColourOf(layout::kFormBackground));
    window_->xclass(layout::kWindowClass);
    window_->callback(OnClose, this);
    for (std::size_t index = 0; index < kControls.size(); ++index) {
      AddControl(index, dpi);
    }
    window_->end();
    window_->size_range(window_->w(), window_->h(), window_->w(), window_->h());
  }

  ~FltkDesktopWindow() override { Fl::remove_timeout(OnTick, this); }

  FltkDesktopWindow(const FltkDesktopWindow&) = delete;
  FltkDesktopWindow& operator=(const FltkDesktopWindow&) = delete;

  int Run() override {
    events_.Form_Load();
    Centre(*window_, nullptr);
    window_->show();
    while (window_->shown()) {
      Fl::wait();
    }
    return 0;
  }

  void SetTitle(const std::string& title) override { window_->copy_label(title.c_str()); }

  std::string ClientText() const override { return client_->value(); }

  void SetClientText(const std::string& text) override { client_->value(text.c_str()); }

  void SetLabel(WindowLabel label, const std::string& text) override {
    LabelOf(label).SetText(ForDisplay(text));
  }

  void RepaintLabel(WindowLabel label) override {
    LabelOf(label).redraw();
    Fl::flush();
  }

  void SetInputEnabled(bool enabled) override {
    for (Fl_Widget* widget : std::array<Fl_Widget*, 2>{client_, update_}) {
      if (enabled) {
        widget->activate();
      } else {
        widget->deactivate();
      }
    }
  }

  void SetTimerEnabled(bool enabled) override {
    timer_enabled_ = enabled;
    if (!enabled) {
      Fl::remove_timeout(OnTick, this);
    } else if (!Fl::has_timeout(OnTick, this)) {
      Fl::add_timeout(kTimerSeconds, OnTick, this);
    }
  }

  void FocusClientText() override { client_->take_focus(); }

  // Linux desktops share no taskbar progress that FLTK reaches; the status lines say
  // how a transfer goes.
  void ShowTransferProgress(const TransferProgress&) override {}

  MessageAnswer ShowMessage(const std::string& text, MessageStyle style,
                            const std::string& title) override {
    return RunMessageBox(text, style, TitleOr(title), window_.get());
  }

  std::string AskText(const std::string& prompt, const std::string& title) override {
    fl_message_title(TitleOr(title).c_str());
    Fl_Widget* const had_focus = Fl::focus();
    const char* answer = fl_input("%s", "", WithoutSymbols(ForDisplay(prompt)).c_str());
    std::string text = answer == nullptr ? std::string() : std::string(answer);
    if (had_focus != nullptr) {
      had_focus->take_focus();
    }
    return text;
  }

  void ProcessPendingMessages() override { Fl::check(); }

  void WaitForMessages(std::chrono::milliseconds timeout) override {
    Fl::wait(std::chrono::duration<double>(timeout).count());
  }

 private:
  void End(int exit_status) override { EndOwnProcess(exit_status); }

  // The widget of the table's control `index`, in the window being built.
  void AddControl(std::size_t index, int dpi) {
    const layout::ControlLayout& control = kControls[index];
    const layout::PixelRect place = layout::Pixels(control.place, dpi);
    const int font_size = layout::Pixels(control.font.size_twips, dpi);
    switch (control.kind) {
      case layout::ControlKind::kTextBox:
        client_ = new ClientInput(place.left, place.top, place.width, place.height, events_);
        client_->color(ColourOf(*control.background));
        client_->textcolor(ColourOf(*control.text_colour));
        client_->textfont(FontOf(control.font));
        client_->textsize(font_size);
        client_->when(FL_WHEN_NEVER);
        client_->value(control.caption);
        return;
      case layout::ControlKind::kButton:
        update_ = new PushButton(place.left, place.top, place.width, place.height, control.caption);
        update_->labelfont(FontOf(control.font));
        update_->labelsize(font_size);
        update_->callback(OnUpdate, this);
        update_->FitCaption(dpi);
        return;
      case layout::ControlKind::kLabel:
        break;
    }
    auto* label = new Label(place.left, place.top, place.width, place.height, control.sizes_itself,
                            control.font.underlined);
    // An opaque box, so that a shorter text repaints over the longer one.
    label->box(FL_FLAT_BOX);
    label->color(ColourOf(*control.background));
    label->labelcolor(ColourOf(*control.text_colour));
    label->labelfont(FontOf(control.font));
    label->labelsize(font_size);
    if (*control.caption != '\0') {
      label->SetText(control.caption);
    }
    if (index >= layout::kFirstLabel) {
      labels_.at(index - layout::kFirstLabel) = label;
    }
  }

  Label& LabelOf(WindowLabel label) { return *labels_.at(static_cast<std::size_t>(label)); }

  std::string TitleOr(const std::string& title) const {
    if (!title.empty() || window_->label() == nullptr) {
      return title;
    }
    return window_->label();
  }

  static void OnClose(Fl_Widget*, void* data) {
    // Escape reaches a window as a request to close; this window ignores it.
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) {
      return;
    }
    auto* self = static_cast<FltkDesktopWindow*>(data);
    self->EndProgram(self->events_.Form_Unload());
  }

  static void OnUpdate(Fl_Widget*, void* data) {
    static_cast<FltkDesktopWindow*>(data)->events_.cmdImportar_Click();
  }

  static void OnTick(void* data) {
    auto* self = static_cast<FltkDesktopWindow*>(data);
    self->events_.Timer1_Timer();
    // The handler may have turned the timer off, or off and on again.
    if (self->timer_enabled_ && !Fl::has_timeout(OnTick, data)) {
      Fl::repeat_timeout(kTimerSeconds, OnTick, data);
    }
  }

  WindowEvents& events_;
  std::unique_ptr<Fl_Double_Window> window_;  // owns every widget below
  ClientInput* client_ = nullptr;
  PushButton* update_ = nullptr;
  std::array<Label*, 5> labels_{};
  bool timer_enabled_ = false;
};

}  // namespace

bool DisplayAvailable() {
  if (fl_display != nullptr) {
    return true;
  }
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') {
    return false;
  }
  // The toolkit's own opening ends the program when it fails; ours just answers.
  Display* display = XOpenDisplay(nullptr);
  if (display != nullptr) {
    fl_open_display(display);
  }
  return display != nullptr;
}

std::unique_ptr<DesktopWindow> MakeDesktopWindow(WindowEvents& events) {
  return std::make_unique<FltkDesktopWindow>(events);
}

}  // namespace kalo::platform
