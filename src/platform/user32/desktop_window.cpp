// The updater's window as a native Win32 window: the form's fixed layout in twips,
// scaled to the dots per inch of the monitor it is on, the system's message boxes, a
// small input box built in memory and the thread's message pump.
#include "platform/desktop_window.h"

#include <algorithm>
#include <array>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/processes.h"
#include "platform/shortened_text.h"
#include "platform/win32/last_error.h"
#include "platform/win32/wide_text.h"
// After windows.h, which it needs.
#include <commctrl.h>

namespace kalo::platform {
namespace {

constexpr const char* kSource = "DesktopWindow";
constexpr wchar_t kClassName[] = L"kalo_upd";

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kWindowExStyle = WS_EX_DLGMODALFRAME;

constexpr int kUpdateButtonId = 1001;
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTimerMilliseconds = 100;
constexpr WPARAM kEnter = 13;

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kDarkGrey = RGB(64, 64, 64);
const COLORREF kBlue = RGB(0, 0, 255);
const COLORREF kPaleYellow = RGB(255, 255, 192);

// The form was laid out in twips: 1440 to the inch, so 15 to a pixel at 96 dpi.
struct TwipsRect {
  int left;
  int top;
  int width;
  int height;
};

constexpr int kTwipsPerInch = 1440;
constexpr int kButtonPaddingTwips = 120;
constexpr int kSmallestCaptionTwips = 120;
constexpr TwipsRect kClientArea{0, 0, 7470, 2655};

int Scaled(int twips, UINT dpi) {
  return ::MulDiv(twips, static_cast<int>(dpi), kTwipsPerInch);
}

// The form's fonts. MS Sans Serif is a bitmap font that does not scale; Microsoft
// Sans Serif is its outline twin with the same metrics.
enum class FontRole : std::size_t { kDefault, kCaption, kLink, kClientBox, kButton };

struct FontLook {
  const wchar_t* face;
  int hundredths_of_point;
  int weight;
  bool underlined;
};

// In the order of FontRole. The button has a copy of its own, which may shrink to fit
// the caption.
constexpr std::array<FontLook, 5> kFontLooks = {{
    {L"Microsoft Sans Serif", 800, FW_NORMAL, false},
    {L"Microsoft Sans Serif", 1200, FW_BOLD, false},
    {L"Microsoft Sans Serif", 825, FW_NORMAL, true},
    {L"Courier New", 900, FW_NORMAL, false},
    {L"Microsoft Sans Serif", 800, FW_NORMAL, false},
}};

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const { ::DeleteObject(object); }
};

using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;
using UniqueBrush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiObjectDeleter>;
using FontSet = std::array<UniqueFont, kFontLooks.size()>;

// The window's class, registered for as long as the window may exist.
class WindowClassRegistration {
 public:
  explicit WindowClassRegistration(WNDPROC procedure) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    window_class.lpszClassName = kClassName;
    if (::RegisterClassExW(&window_class) == 0) {
      throw LastSystemError("Não foi possível registrar a classe da janela", kSource);
    }
  }
  ~WindowClassRegistration() { ::UnregisterClassW(kClassName, ::GetModuleHandleW(nullptr)); }
  WindowClassRegistration(const WindowClassRegistration&) = delete;
  WindowClassRegistration& operator=(const WindowClassRegistration&) = delete;
};

struct WindowDestroyer {
  void operator()(HWND window) const { ::DestroyWindow(window); }
};

using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

// The drawing surface of a window (the screen for none), given back when done.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(::GetDC(window)) {}
  ~WindowDc() { ::ReleaseDC(window_, dc_); }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;

  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// A function of user32 looked up at run time, so that the program still starts on
// systems older than the function; null there.
template <typename Function>
Function* UserFunction(const char* name) {
  const FARPROC address = ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name);
  return reinterpret_cast<Function*>(reinterpret_cast<void*>(address));
}

// The per-monitor scaling of Windows 10 (1607 and later).
struct MonitorScaling {
  decltype(::SetProcessDpiAwarenessContext)* set_awareness =
      UserFunction<decltype(::SetProcessDpiAwarenessContext)>("SetProcessDpiAwarenessContext");
  decltype(::GetDpiForWindow)* dpi_of_window =
      UserFunction<decltype(::GetDpiForWindow)>("GetDpiForWindow");
  decltype(::AdjustWindowRectExForDpi)* frame_for_dpi =
      UserFunction<decltype(::AdjustWindowRectExForDpi)>("AdjustWindowRectExForDpi");
};

const MonitorScaling& Scaling() {
  static const MonitorScaling scaling;
  return scaling;
}

// Drawn at each monitor's own scale, the text stays sharp. Where that is not known,
// the whole desktop's scale; the system then stretches the window on other monitors.
// It must be set before the process's first window, and it can be set only once.
void BecomeDpiAware() {
  [[maybe_unused]] static const bool aware = [] {
    return (Scaling().set_awareness != nullptr &&
            Scaling().set_awareness(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) ||
           ::SetProcessDPIAware();
  }();
}

UINT DpiOf(HWND window) {
  if (Scaling().dpi_of_window != nullptr) {
    return Scaling().dpi_of_window(window);
  }
  const WindowDc screen(nullptr);
  return static_cast<UINT>(::GetDeviceCaps(screen.get(), LOGPIXELSY));
}

// The size of the whole window whose client area is the form's at `dpi`.
SIZE FrameSize(UINT dpi) {
  RECT frame{0, 0, Scaled(kClientArea.width, dpi), Scaled(kClientArea.height, dpi)};
  if (Scaling().frame_for_dpi != nullptr) {
    Scaling().frame_for_dpi(&frame, kWindowStyle, FALSE, kWindowExStyle, dpi);
  } else {
    ::AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
  }
  return {frame.right - frame.left, frame.bottom - frame.top};
}

// GDI gives no reason when it fails: it has run out of room for its objects.
[[noreturn]] void ThrowDrawingFailure(const std::string& what) {
  throw Error(error_number::kOutOfMemory, what, kSource);
}

// The height of the font's characters in pixels at `dpi`.
int PixelHeight(const FontLook& look, UINT dpi) {
  constexpr int kHundredthsPerInch = 7200;
  return ::MulDiv(look.hundredths_of_point, static_cast<int>(dpi), kHundredthsPerInch);
}

UniqueFont MakeFont(const FontLook& look, int pixel_height) {
  UniqueFont font(::CreateFontW(-pixel_height, 0, 0, 0, look.weight, FALSE, look.underlined, FALSE,
                                DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, look.face));
  if (!font) {
    ThrowDrawingFailure("Não foi possível criar a fonte " + Utf8(look.face));
  }
  return font;
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)), L'\0');
  if (!text.empty()) {
    const int copied = ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()) + 1);
    text.resize(static_cast<std::size_t>(copied));
  }
  return text;
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

// Exceptions must not unwind through the system's code between DispatchMessageW and
// a window procedure. The procedures keep the first one here, and the pump that
// dispatched the message throws it again.
class ExceptionCarrier {
 public:
  template <typename Action>
  void Run(Action&& action) noexcept {
    try {
      action();
    } catch (...) {
      if (!pending_) {
        pending_ = std::current_exception();
      }
    }
  }

  void RethrowPending() {
    if (pending_) {
      std::rethrow_exception(std::exchange(pending_, nullptr));
    }
  }

 private:
  std::exception_ptr pending_;
};

UINT MessageBoxFlags(MessageStyle style) {
  switch (style) {
    case MessageStyle::kError:
      return MB_ICONERROR | MB_OK;
    case MessageStyle::kQuestionYesNo:
      return MB_ICONQUESTION | MB_YESNO;
    case MessageStyle::kExclamationYesNoCancel:
      return MB_ICONEXCLAMATION | MB_YESNOCANCEL;
    case MessageStyle::kInformation:
      break;
  }
  return MB_ICONINFORMATION | MB_OK;
}

// Every way of closing a box with OK alone means OK (wine answers Escape there
// with Cancel).
MessageAnswer AnswerOf(MessageStyle style, int button) {
  if ((MessageBoxFlags(style) & MB_TYPEMASK) == MB_OK) {
    return MessageAnswer::kOk;
  }
  switch (button) {
    case IDYES:
      return MessageAnswer::kYes;
    case IDNO:
      return MessageAnswer::kNo;
    case IDCANCEL:
      return MessageAnswer::kCancel;
    default:
      return MessageAnswer::kOk;
  }
}

// A place in a dialog, in dialog units.
struct DialogPlace {
  WORD left;
  WORD top;
  WORD width;
  WORD height;
};

// A dialog template in memory as DialogBoxIndirectParamW reads it: a header, then
// one item per control, each starting on a double word.
class DialogTemplate {
 public:
  DialogTemplate(DWORD style, WORD width, WORD height, std::wstring_view title, WORD point_size,
                 std::wstring_view face) {
    AddDword(style);
    AddDword(0);  // extended style
    Add(0);       // number of items, counted by AddItem
    AddBox({0, 0, width, height});
    Add(0);  // no menu
    Add(0);  // the system's dialog class
    AddText(title);
    Add(point_size);
    AddText(face);
  }

  // `control_class` is one of the system's predefined classes by its number.
  void AddItem(WORD control_class, DWORD style, DialogPlace box, WORD id, std::wstring_view text) {
    if (words_.size() % 2 != 0) {
      Add(0);
    }
    AddDword(WS_CHILD | WS_VISIBLE | style);
    AddDword(0);  // extended style
    AddBox(box);
    Add(id);
    Add(0xFFFF);  // a predefined class follows
    Add(control_class);
    AddText(text);
    Add(0);  // no creation data
    ++words_[kItemCountWord];
  }

  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  static constexpr std::size_t kItemCountWord = 4;

  void Add(WORD word) { words_.push_back(word); }

  void AddDword(DWORD value) {
    Add(LOWORD(value));
    Add(HIWORD(value));
  }

  void AddBox(DialogPlace box) {
    for (const WORD value : {box.left, box.top, box.width, box.height}) {
      Add(value);
    }
  }

  void AddText(std::wstring_view text) {
    for (const wchar_t c : text) {
      Add(static_cast<WORD>(c));
    }
    Add(0);
  }

  std::vector<WORD> words_;
};

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kAnswerId = 100;

// What the input box reads, and what went wrong while it read it.
struct AskState {
  std::wstring answer;
  ExceptionCarrier errors;
};

INT_PTR CALLBACK AskProcedure(HWND dialog, UINT message, WPARAM w_param, LPARAM l_param) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(dialog, DWLP_USER, l_param);
    return TRUE;  // the focus goes to the first control that takes it: the answer
  }
  if (message != WM_COMMAND) {
    return FALSE;
  }
  auto* state = reinterpret_cast<AskState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  switch (LOWORD(w_param)) {
    case IDOK:
      state->errors.Run([&] { state->answer = WindowText(::GetDlgItem(dialog, kAnswerId)); });
      ::EndDialog(dialog, IDOK);
      return TRUE;
    case IDCANCEL:
      ::EndDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

// One control of the form, where the form put it.
struct Control {
  HWND handle = nullptr;
  TwipsRect place{};
  FontRole font = FontRole::kDefault;
  bool sizes_itself = false;
  COLORREF text_colour = kDarkGrey;
};

// The controls in the form's tab order; the status and support labels follow in the
// order of WindowLabel.
enum ControlIndex : std::size_t { kClientBox, kUpdateButton, kCompanyCaption, kFirstLabel };
constexpr std::size_t kControlCount = kFirstLabel + 5;

constexpr std::size_t IndexOf(WindowLabel label) {
  return kFirstLabel + static_cast<std::size_t>(label);
}

class Win32DesktopWindow final : public DesktopWindow {
 public:
  explicit Win32DesktopWindow(WindowEvents& events) : events_(events) {
    BecomeDpiAware();
    const INITCOMMONCONTROLSEX common_controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&common_controls);
    if (!pale_yellow_) {
      ThrowDrawingFailure("Não foi possível criar o pincel da caixa do nome");
    }
    // Made on the primary monitor, where it is centred, so that it scales to that one.
    POINT primary_origin{0, 0};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromPoint(primary_origin, MONITOR_DEFAULTTOPRIMARY), &monitor);
    window_.reset(::CreateWindowExW(kWindowExStyle, kClassName, L"", kWindowStyle,
                                    monitor.rcWork.left, monitor.rcWork.top, 0, 0, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), this));
    if (!window_) {
      throw LastSystemError("Não foi possível criar a janela do atualizador", kSource);
    }

    controls_[kClientBox] = {
        AddControl(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 0),
        {1485, 285, 2790, 390},
        FontRole::kClientBox};
    controls_[kUpdateButton] = {AddControl(L"BUTTON", L"Atualizar Versão do Sistema",
                                           WS_TABSTOP | BS_PUSHBUTTON, 0, kUpdateButtonId),
                                {4710, 270, 2220, 435},
                                FontRole::kButton};
    controls_[kCompanyCaption] = {
        AddLabel(L"Empresa:"), {165, 300, 1155, 300}, FontRole::kCaption, true};
    controls_[IndexOf(WindowLabel::kSupport1)] = {
        AddLabel(), {165, 1830, 1485, 195}, FontRole::kDefault, true};
    controls_[IndexOf(WindowLabel::kSupport2)] = {
        AddLabel(), {165, 2115, 1485, 195}, FontRole::kLink, true, kBlue};
    controls_[IndexOf(WindowLabel::kDisplay1)] = {AddLabel(), {-15, 915, 7410, 195}};
    controls_[IndexOf(WindowLabel::kDisplay2)] = {AddLabel(), {0, 1140, 7410, 195}};
    controls_[IndexOf(WindowLabel::kDisplay3)] = {AddLabel(), {0, 1380, 7410, 195}};
    if (!::SetWindowSubclass(ClientBox(), ClientBoxProcedure, 0,
                             reinterpret_cast<DWORD_PTR>(this))) {
      throw LastSystemError("Não foi possível acompanhar as teclas da caixa do nome", kSource);
    }
    focus_ = ClientBox();

    const UINT dpi = DpiOf(Window());
    ApplyScale(dpi);
    const SIZE frame = FrameSize(dpi);
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
    ::SetWindowTextW(Window(), Wide(title).c_str());
  }

  std::string ClientText() const override { return Utf8(WindowText(ClientBox())); }

  void SetClientText(const std::string& text) override {
    ::SetWindowTextW(ClientBox(), Wide(text).c_str());
    // Typing goes on after the name, not before it.
    const LPARAM end = ::GetWindowTextLengthW(ClientBox());
    ::SendMessageW(ClientBox(), EM_SETSEL, static_cast<WPARAM>(end), end);
  }

  void SetLabel(WindowLabel label, const std::string& text) override {
    const Control& control = LabelOf(label);
    ::SetWindowTextW(control.handle, Wide(ShortenedLines(text)).c_str());
    if (control.sizes_itself) {
      Place(control);
    }
  }

  void RepaintLabel(WindowLabel label) override {
    ::RedrawWindow(LabelOf(label).handle, nullptr, nullptr,
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
    } else if (::SetTimer(Window(), kTimerId, kTimerMilliseconds, nullptr) == 0) {
      throw LastSystemError("Não foi possível ligar o relógio da janela", kSource);
    }
    timer_enabled_ = enabled;
  }

  void FocusClientText() override {
    focus_ = ClientBox();
    ::SetFocus(focus_);
  }

  MessageAnswer ShowMessage(const std::string& text, MessageStyle style,
                            const std::string& title) override {
    const int button = ::MessageBoxW(Window(), Wide(ShortenedLines(text)).c_str(),
                                     Wide(TitleOr(title)).c_str(), MessageBoxFlags(style));
    if (button == 0) {
      throw LastSystemError("Não foi possível mostrar a mensagem", kSource);
    }
    return AnswerOf(style, button);
  }

  std::string AskText(const std::string& prompt, const std::string& title) override {
    // Laid out in dialog units, like the system's own input boxes: the prompt with
    // OK and Cancel beside it, the answer below.
    DialogTemplate box(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER,
                       250, 90, Wide(TitleOr(title)), 8, L"MS Shell Dlg");
    box.AddItem(kStaticClass, SS_LEFT | SS_NOPREFIX, {7, 7, 180, 54}, 0xFFFF,
                Wide(ShortenedLines(prompt)));
    box.AddItem(kEditClass, WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, {7, 68, 236, 14}, kAnswerId,
                L"");
    box.AddItem(kButtonClass, WS_TABSTOP | BS_DEFPUSHBUTTON, {196, 7, 47, 14}, IDOK, L"OK");
    box.AddItem(kButtonClass, WS_TABSTOP | BS_PUSHBUTTON, {196, 25, 47, 14}, IDCANCEL, L"Cancelar");
    AskState state;
    const INT_PTR closed_by =
        ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), box.get(), Window(), AskProcedure,
                                  reinterpret_cast<LPARAM>(&state));
    if (closed_by == -1) {
      throw LastSystemError("Não foi possível mostrar a caixa de entrada", kSource);
    }
    state.errors.RethrowPending();
    return closed_by == IDOK ? Utf8(state.answer) : std::string();
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

  const Control& LabelOf(WindowLabel label) const { return controls_.at(IndexOf(label)); }

  HWND AddControl(const wchar_t* control_class, const wchar_t* text, DWORD style, DWORD ex_style,
                  int id) {
    const HWND control = ::CreateWindowExW(
        ex_style, control_class, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, Window(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
    if (control == nullptr) {
      throw LastSystemError("Não foi possível criar os controles da janela", kSource);
    }
    return control;
  }

  // A caption drawn as typed ('&' included) and cut at its right edge, not wrapped.
  HWND AddLabel(const wchar_t* text = L"") {
    return AddControl(L"STATIC", text, SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, 0);
  }

  std::string TitleOr(const std::string& title) const {
    return title.empty() ? Utf8(WindowText(Window())) : title;
  }

  // Fonts and places for the monitor's scale; the old fonts go once no control uses them.
  void ApplyScale(UINT dpi) {
    dpi_ = dpi;
    FontSet fonts;
    for (std::size_t role = 0; role < fonts.size(); ++role) {
      fonts[role] = MakeFont(kFontLooks[role], PixelHeight(kFontLooks[role], dpi));
    }
    FitButtonCaption(fonts[static_cast<std::size_t>(FontRole::kButton)]);
    for (const Control& control : controls_) {
      ::SendMessageW(control.handle, WM_SETFONT,
                     reinterpret_cast<WPARAM>(fonts[static_cast<std::size_t>(control.font)].get()),
                     FALSE);
    }
    fonts_.swap(fonts);
    for (const Control& control : controls_) {
      Place(control);
    }
    ::InvalidateRect(Window(), nullptr, TRUE);
  }

  // Where the system lacks MS Sans Serif, its stand-in may run wider (wine without
  // Microsoft's fonts); a caption that would spill out of its button gets a smaller
  // size instead.
  void FitButtonCaption(UniqueFont& font) const {
    const Control& button = controls_[kUpdateButton];
    const FontLook& look = kFontLooks[static_cast<std::size_t>(button.font)];
    const std::wstring caption = WindowText(button.handle);
    const int room = Scaled(button.place.width - kButtonPaddingTwips, dpi_);
    const int smallest = Scaled(kSmallestCaptionTwips, dpi_);
    for (int height = PixelHeight(look, dpi_);
         height > smallest && TextExtent(button.handle, font.get(), caption).cx > room;) {
      font = MakeFont(look, --height);
    }
  }

  void Place(const Control& control) {
    SIZE size{Scaled(control.place.width, dpi_), Scaled(control.place.height, dpi_)};
    if (control.sizes_itself) {
      size = TextExtent(control.handle, fonts_[static_cast<std::size_t>(control.font)].get(),
                        WindowText(control.handle));
    }
    ::SetWindowPos(control.handle, nullptr, Scaled(control.place.left, dpi_),
                   Scaled(control.place.top, dpi_), size.cx, size.cy,
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

  LRESULT ControlColours(HDC dc, HWND control) {
    // A disabled edit box asks for the colours of a label; it keeps its own.
    if (control == ClientBox()) {
      ::SetTextColor(dc, kDarkGrey);
      ::SetBkColor(dc, kPaleYellow);
      return reinterpret_cast<LRESULT>(pale_yellow_.get());
    }
    const auto label = std::find_if(controls_.begin(), controls_.end(),
                                    [&](const Control& c) { return c.handle == control; });
    ::SetTextColor(dc, label == controls_.end() ? kDarkGrey : label->text_colour);
    ::SetBkColor(dc, kWhite);
    return reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH));
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
        *reinterpret_cast<SIZE*>(l_param) = FrameSize(static_cast<UINT>(w_param));
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
  const WindowClassRegistration registration_{WindowProcedure};
  const UniqueBrush pale_yellow_{::CreateSolidBrush(kPaleYellow)};
  FontSet fonts_;
  std::array<Control, kControlCount> controls_{};
  UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
  HWND focus_ = nullptr;  // the control to give the focus back to on activation
  bool timer_enabled_ = false;
  bool ticking_ = false;
  ExceptionCarrier errors_;
  // Last, so that it goes first: the controls use the fonts and the brush until then.
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
