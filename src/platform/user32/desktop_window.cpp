// The updater's window as a native Win32 window: the form's layout scaled to the dots
// per inch of the monitor it is on, and the thread's message pump. The scale, the
// message box and the input box live beside it.
#include "platform/desktop_window.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string>

#include "platform/processes.h"
#include "platform/shortened_text.h"
#include "platform/user32/dpi.h"
#include "platform/user32/exception_carrier.h"
#include "platform/user32/input_box.h"
#include "platform/user32/message_box.h"
#include "platform/user32/taskbar_button.h"
#include "platform/user32/window_objects.h"
#include "platform/win32/last_error.h"
#include "platform/window_layout.h"
#include "win32/wide_text.h"
// After windows.h, which it needs.
#include <commctrl.h>

namespace kalo::platform {
namespace {

constexpr const char* kSource = "DesktopWindow";

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kWindowExStyle = WS_EX_DLGMODALFRAME;

constexpr int kUpdateButtonId = 1001;
constexpr UINT_PTR kTimerId = 1;
constexpr WPARAM kEnter = 13;

using layout::kClientBox;
using layout::kControls;
using layout::kUpdateButton;

COLORREF ColourRef(layout::Colour colour) {
  return RGB(colour.red, colour.green, colour.blue);
}

int Scaled(int twips, UINT dpi) {
  return layout::Pixels(twips, static_cast<int>(dpi));
}

// The size of the whole window whose client area is the form's at `dpi`.
SIZE FormFrameSize(UINT dpi) {
  const layout::PixelRect client = layout::Pixels(layout::kClientArea, static_cast<int>(dpi));
  return FrameSize({client.width, client.height}, kWindowStyle, kWindowExStyle, dpi);
}

// GDI gives no reason when it fails: it has run out of room for its objects.
[[noreturn]] void ThrowDrawingFailure(const std::string& what) {
  throw Error(error_number::kOutOfMemory, what, kSource);
}

UniqueFont MakeFont(const layout::FontLook& look, int pixel_height) {
  UniqueFont font(::CreateFontW(-pixel_height, 0, 0, 0, look.bold ? FW_BOLD : FW_NORMAL, FALSE,
                                look.underlined, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                win32::Widen(look.face).c_str()));
  if (!font) {
    ThrowDrawingFailure("Não foi possível criar a fonte " + std::string(look.face));
  }
  return font;
}

// The form's background is the system's own white brush, which never fails.
static_assert(layout::kFormBackground == layout::kWhite);

HBRUSH FormBrush() {
  return static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
}

// Only the name box has a background of its own.
UniqueBrush MakeBrush(layout::Colour colour) {
  UniqueBrush brush(::CreateSolidBrush(ColourRef(colour)));
  if (!brush) {
    ThrowDrawingFailure("Não foi possível criar o pincel da caixa do nome");
  }
  return brush;
}

// The size `text` takes on one or more lines in `font`, at least one line high.
SIZE TextExtent(HWND control, HFONT font, const std::wstring& text) {
  const WindowDc dc(control);
  const HGDIOBJ previous = ::SelectObject(dc.get(), font);
  RECT bounds{};
  ::DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &bounds,
              DT_CALCRECT | DT_EXPANDTABS | DT_NOPREFIX);
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc.get(), &metrics);
  ::SelectObject(dc.get(), previous);
  return {bounds.right - bounds.left, std::max(bounds.bottom - bounds.top, metrics.tmHeight)};
}

// The window's class, registered for as long as the window may exist.
class WindowClassRegistration {
 public:
  WindowClassRegistration(WNDPROC procedure, HBRUSH background) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = background;
    window_class.lpszClassName = name_.c_str();
    if (::RegisterClassExW(&window_class) == 0) {
      throw LastSystemError("Não foi possível registrar a classe da janela", kSource);
    }
  }
  ~WindowClassRegistration() { ::UnregisterClassW(name_.c_str(), ::GetModuleHandleW(nullptr)); }
  WindowClassRegistration(const WindowClassRegistration&) = delete;
  WindowClassRegistration& operator=(const WindowClassRegistration&) = delete;

  const wchar_t* Name() const { return name_.c_str(); }

 private:
  const std::wstring name_ = win32::Widen(layout::kWindowClass);
};

// One control of the form: its window, its font for the scale, and its background
// where it is not the form's.
struct Control {
  HWND handle = nullptr;
  UniqueFont font;
  UniqueBrush background;
};

class Win32DesktopWindow final : public DesktopWindow {
 public:
  explicit Win32DesktopWindow(WindowEvents& events) : events_(events) {
    BecomeDpiAware();
    const INITCOMMONCONTROLSEX common_controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&common_controls);
    // Made on the primary monitor, where it is centred, so that it scales to that one.
    POINT primary_origin{0, 0};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromPoint(primary_origin, MONITOR_DEFAULTTOPRIMARY), &monitor);
    window_.reset(::CreateWindowExW(kWindowExStyle, registration_.Name(), L"", kWindowStyle,
                                    monitor.rcWork.left, monitor.rcWork.top, 0, 0, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), this));
    if (!window_) {
      throw LastSystemError("Não foi possível criar a janela do atualizador", kSource);
    }
    for (std::size_t index = 0; index < kControls.size(); ++index) {
      const layout::ControlLayout& control = kControls[index];
      controls_[index].handle = AddControl(control, index == kUpdateButton ? kUpdateButtonId : 0);
      if (control.background && *control.background != layout::kFormBackground) {
        controls_[index].background = MakeBrush(*control.background);
      }
    }
    if (!::SetWindowSubclass(ClientBox(), ClientBoxProcedure, 0,
                             reinterpret_cast<DWORD_PTR>(this))) {
      throw LastSystemError("Não foi possível acompanhar as teclas da caixa do nome", kSource);
    }
    focus_ = ClientBox();

    const UINT dpi = DpiOf(Window());
    ApplyScale(dpi);
    const SIZE frame = FormFrameSize(dpi);
    ::SetWindowPos(Window(), nullptr, 0, 0, frame.cx, frame.cy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  Win32DesktopWindow(const Win32DesktopWindow&) = delete;
  Win32DesktopWindow& operator=(const Win32DesktopWindow&) = delete;

  int Run() override {
    events_.Form_Load();
    CentreOnScreen();
    ::ShowWindow(Window(), SW_SHOW);
    ::UpdateWindow(Window());
    ::SetFocus(focus_);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
      Dispatch(message);
    }
    return 0;
  }

  void SetTitle(const std::string& title) override {
    ::SetWindowTextW(Window(), win32::Widen(title).c_str());
  }

  std::string ClientText() const override { return win32::Narrow(WindowText(ClientBox())); }

  void SetClientText(const std::string& text) override {
    ::SetWindowTextW(ClientBox(), win32::Widen(text).c_str());
    // Typing goes on after the name, not before it.
    const LPARAM end = ::GetWindowTextLengthW(ClientBox());
    ::SendMessageW(ClientBox(), EM_SETSEL, static_cast<WPARAM>(end), end);
  }

  void SetLabel(WindowLabel label, const std::string& text) override {
    const std::size_t index = layout::IndexOf(label);
    ::SetWindowTextW(controls_[index].handle, win32::Widen(ShortenedLines(text)).c_str());
    if (kControls[index].sizes_itself) {
      Place(index);
    }
  }

  void RepaintLabel(WindowLabel label) override {
    ::RedrawWindow(controls_[layout::IndexOf(label)].handle, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  }

  void SetInputEnabled(bool enabled) override {
    for (const std::size_t input : {kClientBox, kUpdateButton}) {
      ::EnableWindow(controls_[input].handle, enabled ? TRUE : FALSE);
    }
  }

  void SetTimerEnabled(bool enabled) override {
    if (enabled == timer_enabled_) {
      return;
    }
    if (!enabled) {
      ::KillTimer(Window(), kTimerId);
    } else if (::SetTimer(Window(), kTimerId, layout::kTimerMilliseconds, nullptr) == 0) {
      throw LastSystemError("Não foi possível ligar o relógio da janela", kSource);
    }
    timer_enabled_ = enabled;
  }

  void FocusClientText() override {
    focus_ = ClientBox();
    ::SetFocus(focus_);
  }

  // On the window's taskbar button.
  void ShowTransferProgress(const TransferProgress& progress) override {
    taskbar_.Show(Window(), TaskbarProgressOf(progress));
  }

  MessageAnswer ShowMessage(const std::string& text, MessageStyle style,
                            const std::string& title) override {
    return ShowMessageBox(Window(), text, style, TitleOr(title));
  }

  std::string AskText(const std::string& prompt, const std::string& title) override {
    return AskInputBox(Window(), prompt, TitleOr(title));
  }

  void ProcessPendingMessages() override {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      Dispatch(message);
    }
  }

  void WaitForMessages(std::chrono::milliseconds timeout) override {
    const auto milliseconds =
        std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, INFINITE - 1);
    if (::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(milliseconds), QS_ALLINPUT,
                                      MWMO_INPUTAVAILABLE) == WAIT_FAILED) {
      throw LastSystemError("Não foi possível esperar por mensagens da janela", kSource);
    }
    ProcessPendingMessages();
  }

 private:
  void End(int exit_status) override { EndOwnProcess(exit_status); }

  HWND Window() const { return window_.get(); }
  HWND ClientBox() const { return controls_[kClientBox].handle; }

  // Labels draw their caption as typed ('&' included) and cut at its right edge, not
  // wrapped.
  HWND AddControl(const layout::ControlLayout& control, int id) {
    const wchar_t* control_class = L"STATIC";
    DWORD style = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
    DWORD ex_style = 0;
    switch (control.kind) {
      case layout::ControlKind::kTextBox:
        control_class = L"EDIT";
        style = WS_TABSTOP | ES_AUTOHSCROLL;
        ex_style = WS_EX_CLIENTEDGE;
        break;
      case layout::ControlKind::kButton:
        control_class = L"BUTTON";
        style = WS_TABSTOP | BS_PUSHBUTTON;
        break;
      case layout::ControlKind::kLabel:
        break;
    }
    const HWND handle = ::CreateWindowExW(
        ex_style, control_class, win32::Widen(control.caption).c_str(),
        WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, Window(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
    if (handle == nullptr) {
      throw LastSystemError("Não foi possível criar os controles da janela", kSource);
    }
    return handle;
  }

  std::string TitleOr(const std::string& title) const {
    return title.empty() ? win32::Narrow(WindowText(Window())) : title;
  }

  // Fonts and places for the monitor's scale; the old fonts go once no control uses them.
  void ApplyScale(UINT dpi) {
    dpi_ = dpi;
    std::array<UniqueFont, kControls.size()> fonts;
    for (std::size_t index = 0; index < fonts.size(); ++index) {
      const layout::FontLook& look = kControls[index].font;
      fonts[index] = MakeFont(look, Scaled(look.size_twips, dpi));
    }
    FitButtonCaption(fonts[kUpdateButton]);
    for (std::size_t index = 0; index < fonts.size(); ++index) {
      ::SendMessageW(controls_[index].handle, WM_SETFONT,
                     reinterpret_cast<WPARAM>(fonts[index].get()), FALSE);
      controls_[index].font.swap(fonts[index]);
    }
    for (std::size_t index = 0; index < kControls.size(); ++index) {
      Place(index);
    }
    ::InvalidateRect(Window(), nullptr, TRUE);
  }

  // Where the system lacks MS Sans Serif, its stand-in may run wider (wine without
  // Microsoft's fonts); a caption that would spill out of its button gets a smaller
  // size instead.
  void FitButtonCaption(UniqueFont& font) const {
    const layout::ControlLayout& button = kControls[kUpdateButton];
    const HWND handle = controls_[kUpdateButton].handle;
    const std::wstring caption = WindowText(handle);
    const int room = Scaled(button.place.width - layout::kButtonPaddingTwips, dpi_);
    const int smallest = Scaled(layout::kSmallestCaptionTwips, dpi_);
    for (int height = Scaled(button.font.size_twips, dpi_);
         height > smallest && TextExtent(handle, font.get(), caption).cx > room;) {
      font = MakeFont(button.font, --height);
    }
  }

  void Place(std::size_t index) {
    const Control& control = controls_[index];
    const layout::PixelRect place = layout::Pixels(kControls[index].place, static_cast<int>(dpi_));
    SIZE size{place.width, place.height};
    if (kControls[index].sizes_itself) {
      size = TextExtent(control.handle, control.font.get(), WindowText(control.handle));
    }
    ::SetWindowPos(control.handle, nullptr, place.left, place.top, size.cx, size.cy,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void CentreOnScreen() {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(Window(), MONITOR_DEFAULTTOPRIMARY), &monitor);
    RECT frame{};
    ::GetWindowRect(Window(), &frame);
    const RECT& work = monitor.rcWork;
    ::SetWindowPos(Window(), nullptr,
                   work.left + (work.right - work.left - (frame.right - frame.left)) / 2,
                   work.top + (work.bottom - work.top - (frame.bottom - frame.top)) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  // What the main loop does with a message, and every pump with it: the keys that
  // move between controls, then the window procedures.
  void Dispatch(MSG& message) {
    if (!::IsDialogMessageW(Window(), &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    errors_.RethrowPending();
  }

  void OnTick() {
    // The handler pumps messages itself; a tick that arrives meanwhile is dropped, as
    // the timer does not fire again before its handler returns.
    if (!timer_enabled_ || ticking_) {
      return;
    }
    ticking_ = true;
    errors_.Run([&] { events_.Timer1_Timer(); });
    ticking_ = false;
  }

  // Closing, by the close box or the end of the session, stores the name and ends the
  // program at once, with the clean-up of a run in progress.
  void OnClose() {
    errors_.Run([&] { EndProgram(events_.Form_Unload()); });
  }

  // Each control in its colours; a disabled edit box asks for the colours of a label,
  // and keeps its own.
  LRESULT ControlColours(HDC dc, HWND handle) {
    COLORREF text = ColourRef(layout::kDarkGrey);
    COLORREF background = ColourRef(layout::kFormBackground);
    HBRUSH brush = FormBrush();
    for (std::size_t index = 0; index < controls_.size(); ++index) {
      if (controls_[index].handle == handle && kControls[index].text_colour) {
        text = ColourRef(*kControls[index].text_colour);
        if (controls_[index].background) {
          background = ColourRef(*kControls[index].background);
          brush = controls_[index].background.get();
        }
      }
    }
    ::SetTextColor(dc, text);
    ::SetBkColor(dc, background);
    return reinterpret_cast<LRESULT>(brush);
  }

  LRESULT Handle(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
    switch (message) {
      case WM_COMMAND:
        if (LOWORD(w_param) == kUpdateButtonId && HIWORD(w_param) == BN_CLICKED) {
          errors_.Run([&] { events_.cmdImportar_Click(); });
          return 0;
        }
        break;
      case DM_GETDEFID:
        // The button is the default while it has the focus, so that Enter presses
        // it, as the space bar does.
        if (::GetFocus() == controls_[kUpdateButton].handle) {
          return MAKELRESULT(kUpdateButtonId, DC_HASDEFID);
        }
        return 0;
      case WM_TIMER:
        if (w_param == kTimerId) {
          OnTick();
          return 0;
        }
        break;
      case WM_CTLCOLOREDIT:
      case WM_CTLCOLORSTATIC:
        return ControlColours(reinterpret_cast<HDC>(w_param), reinterpret_cast<HWND>(l_param));
      case WM_ACTIVATE:
        // A plain window takes the focus itself when activated; give it back to the
        // control that had it, as dialogs do.
        if (LOWORD(w_param) == WA_INACTIVE) {
          const HWND focus = ::GetFocus();
          focus_ = ::IsChild(window, focus) ? focus : nullptr;
          return 0;
        }
        if (focus_ != nullptr && ::IsWindowEnabled(focus_)) {
          ::SetFocus(focus_);
          return 0;
        }
        break;
      case WM_CLOSE:
        OnClose();
        return 0;
      case WM_ENDSESSION:
        if (w_param != FALSE) {
          OnClose();
        }
        return 0;
      case WM_GETDPISCALEDSIZE:
        *reinterpret_cast<SIZE*>(l_param) = FormFrameSize(static_cast<UINT>(w_param));
        return TRUE;
      case WM_DPICHANGED: {
        const RECT& suggested = *reinterpret_cast<const RECT*>(l_param);
        errors_.Run([&] { ApplyScale(HIWORD(w_param)); });
        ::SetWindowPos(window, nullptr, suggested.left, suggested.top,
                       suggested.right - suggested.left, suggested.bottom - suggested.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
      }
      default:
        break;
    }
    return ::DefWindowProcW(window, message, w_param, l_param);
  }

  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM w_param,
                                          LPARAM l_param) {
    if (message == WM_NCCREATE) {
      const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(l_param);
      ::SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32DesktopWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
      return ::DefWindowProcW(window, message, w_param, l_param);
    }
    return self->Handle(window, message, w_param, l_param);
  }

  // Every character typed in the name box reaches the logic first; Enter reaches it
  // instead of a default button.
  static LRESULT CALLBACK ClientBoxProcedure(HWND box, UINT message, WPARAM w_param, LPARAM l_param,
                                             UINT_PTR subclass_id, DWORD_PTR data) {
    auto* self = reinterpret_cast<Win32DesktopWindow*>(data);
    switch (message) {
      case WM_GETDLGCODE: {
        const auto* key = reinterpret_cast<const MSG*>(l_param);
        if (key != nullptr && key->message == WM_KEYDOWN && key->wParam == VK_RETURN) {
          return ::DefSubclassProc(box, message, w_param, l_param) | DLGC_WANTALLKEYS;
        }
        break;
      }
      case WM_CHAR:
        self->errors_.Run([&] { self->events_.txtCliente_KeyPress(static_cast<int>(w_param)); });
        // A one-line box would only beep at Enter.
        if (w_param == kEnter) {
          return 0;
        }
        break;
      case WM_NCDESTROY:
        ::RemoveWindowSubclass(box, ClientBoxProcedure, subclass_id);
        break;
      default:
        break;
    }
    return ::DefSubclassProc(box, message, w_param, l_param);
  }

  WindowEvents& events_;
  const WindowClassRegistration registration_{WindowProcedure, FormBrush()};
  std::array<Control, kControls.size()> controls_{};
  UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
  HWND focus_ = nullptr;  // the control to give the focus back to on activation
  bool timer_enabled_ = false;
  bool ticking_ = false;
  ExceptionCarrier errors_;
  TaskbarButton taskbar_;
  // Last, so that it goes first: the controls use the fonts and the brushes until then.
  UniqueWindow window_;
};

}  // namespace

bool DisplayAvailable() {
  // Services and scheduled tasks run in a window station of their own that no one sees.
  const HWINSTA station = ::GetProcessWindowStation();  // not ours to close
  USEROBJECTFLAGS flags{};
  if (station == nullptr ||
      !::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) ||
      (flags.dwFlags & WSF_VISIBLE) == 0) {
    return false;
  }
  // A desktop may still have no screen behind it (wine without an X display), and
  // then no window can be made on it.
  BecomeDpiAware();
  const UniqueWindow probe(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                             nullptr, ::GetModuleHandleW(nullptr), nullptr));
  return probe != nullptr;
}

std::unique_ptr<DesktopWindow> MakeDesktopWindow(WindowEvents& events) {
  return std::make_unique<Win32DesktopWindow>(events);
}

}  // namespace kalo::platform
