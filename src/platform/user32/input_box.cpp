#include "platform/user32/input_box.h"

#include <string_view>
#include <vector>

#include "platform/shortened_text.h"
#include "platform/user32/exception_carrier.h"
#include "platform/user32/window_objects.h"
#include "platform/win32/last_error.h"
#include "platform/window_layout.h"
#include "win32/wide_text.h"

namespace kalo::platform {
namespace {

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

}  // namespace

std::string AskInputBox(HWND owner, const std::string& prompt, const std::string& title) {
  DialogTemplate box(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER,
                     250, 90, win32::Widen(title), 8, L"MS Shell Dlg");
  box.AddItem(kStaticClass, SS_LEFT | SS_NOPREFIX, {7, 7, 180, 54}, 0xFFFF,
              win32::Widen(ShortenedLines(prompt)));
  box.AddItem(kEditClass, WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, {7, 68, 236, 14}, kAnswerId,
              L"");
  box.AddItem(kButtonClass, WS_TABSTOP | BS_DEFPUSHBUTTON, {196, 7, 47, 14}, IDOK,
              win32::Widen(layout::kOkCaption));
  box.AddItem(kButtonClass, WS_TABSTOP | BS_PUSHBUTTON, {196, 25, 47, 14}, IDCANCEL,
              win32::Widen(layout::kCancelCaption));
  AskState state;
  const INT_PTR closed_by =
      ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), box.get(), owner, AskProcedure,
                                reinterpret_cast<LPARAM>(&state));
  if (closed_by == -1) {
    throw LastSystemError("Não foi possível mostrar a caixa de entrada", "DesktopWindow");
  }
  state.errors.RethrowPending();
  return closed_by == IDOK ? win32::Narrow(state.answer) : std::string();
}

}  // namespace kalo::platform
