#include "win32/win32_dialogs.h"

#include <commctrl.h>

#include <cctype>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/ui_tables.h"
#include "os/os.h"

namespace ovix::win32 {
namespace {

using ui::Px;

enum class Kind { Form1, About, Erorno2, Prompt };

// What one of the driver's windows keeps in GWLP_USERDATA; deleted with it.
struct DialogState {
  Kind kind = Kind::Form1;
  std::function<void()> onExit;                        // Form1
  const std::function<void(int)>* onButton = nullptr;  // Erorno2, only while it runs
  bool ended = false;  // Erorno2, Prompt: a button or DismissPrompt ended it
  int answer = 0;      // Prompt: 1 + the index of the button that ended it; 0: none
  const ui::PromptLayout* prompt = nullptr;  // Prompt
  bool leftDown = false;                     // About: the left button went down inside
  HWND focus = nullptr;                      // the control that gets the focus when it is activated
};

constexpr char kDialogClass[] = "OVIXNOVA_DIALOG";
// Ends the printer-error dialog without a choice; private to the class.
constexpr UINT kDismiss = WM_APP + 1;
// Control ids, away from IDOK and IDCANCEL, which the dialog manager sends for
// Enter and Esc and which the windows ignore. A window's buttons take ids from
// kFirstButtonId on, in the layout's order.
constexpr int kLabelId = 0xFFFF, kBlackLabelId = 90, kVersionLabelId = 91;
constexpr int kFirstButtonId = 100;
// Controls without a font of their own in a window without one take the
// dialog font of the original forms.
constexpr ui::FontStyle kDefaultFont{"MS Sans Serif", 825};

HWND form1 = nullptr;  // the open exit confirmation
HWND about = nullptr;  // the open About box

LRESULT CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

ATOM DialogClass() {
  static const ATOM atom = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &DialogProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = kDialogClass;
    return RegisterClassA(&wc);
  }();
  return atom;
}

// The state of one of our windows; null for any other window.
DialogState* StateOf(HWND window) {
  if (!window || !IsWindow(window) ||
      GetClassLongPtrA(window, GCW_ATOM) != static_cast<ULONG_PTR>(DialogClass()))
    return nullptr;
  return reinterpret_cast<DialogState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

// A font of the layout, `centipoints` hundredths of a point at 96 dpi. The few
// fonts are shared by all windows and kept for the life of the program.
HFONT Font(const ui::FontStyle& style) {
  static std::map<std::pair<std::string, int>, HFONT> fonts;
  HFONT& font = fonts[{style.family, style.centipoints}];
  if (!font) {
    font = CreateFontA(-MulDiv(style.centipoints, 96, 7200), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                       FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, style.family);
  }
  return font;
}

int TextWidth(HFONT font, const char* text) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32A(dc, text, lstrlenA(text), &size);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return size.cx;
}

bool KeyDown(int key) {
  return GetKeyState(key) < 0;
}

// Ctrl+Ins in the exit confirmation, whatever other modifiers are held, calls
// its onExit. The callback may destroy the window (and with it the state), so
// it runs from a copy. True when the key was taken.
bool ExitKey(HWND window, UINT message, WPARAM key) {
  DialogState* state = StateOf(window);
  if (!state || state->kind != Kind::Form1) return false;
  if ((message != WM_KEYDOWN && message != WM_SYSKEYDOWN) || key != VK_INSERT) return false;
  if (!KeyDown(VK_CONTROL)) return false;
  const std::function<void()> onExit = state->onExit;
  if (onExit) onExit();
  return true;
}

// Buttons are pressed by Enter too while they have the focus (a plain button
// takes only Space); the dialog manager is told to leave Enter to them. A held
// key's repeats are left alone, so that an Enter held down as a window opens
// decides nothing. Ctrl+Ins goes to the window's own handling.
LRESULT CALLBACK ButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto base = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(button, GWLP_USERDATA));
  const HWND parent = GetParent(button);
  switch (message) {
    case WM_GETDLGCODE: {
      LRESULT code = CallWindowProcA(base, button, message, wParam, lParam);
      const auto* msg = reinterpret_cast<const MSG*>(lParam);
      if (msg && msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) code |= DLGC_WANTMESSAGE;
      return code;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (ExitKey(parent, message, wParam)) return 0;
      if (message == WM_KEYDOWN && wParam == VK_RETURN) {
        const bool repeat = (lParam & (1 << 30)) != 0;
        if (!repeat && !KeyDown(VK_SHIFT) && !KeyDown(VK_CONTROL) && !KeyDown(VK_MENU)) {
          SendMessageA(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                       reinterpret_cast<LPARAM>(button));
        }
        return 0;
      }
      break;
    default:
      break;
  }
  return CallWindowProcA(base, button, message, wParam, lParam);
}

DWORD FrameStyle(ui::Frame frame) {
  switch (frame) {
    case ui::Frame::CaptionAndClose:
      return WS_POPUP | WS_CAPTION | WS_SYSMENU;
    case ui::Frame::Caption:
      return WS_POPUP | WS_CAPTION;
    case ui::Frame::NoCaption:
      break;
  }
  return WS_POPUP | WS_DLGFRAME;
}

// A top-level window with the layout's caption, frame and client area,
// centred on the work area of the primary screen. Takes the state over once
// created.
HWND CreateFrame(std::unique_ptr<DialogState>* state, HWND owner, const char* caption,
                 ui::Frame frame, SIZE client, DWORD exStyle = 0) {
  const DWORD kExStyle = WS_EX_DLGMODALFRAME | exStyle;  // no window icon
  const DWORD style = FrameStyle(frame);
  DialogClass();
  RECT rect{0, 0, client.cx, client.cy};
  AdjustWindowRectEx(&rect, style, FALSE, kExStyle);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const int left = work.left + (work.right - work.left - width) / 2;
  const int top = work.top + (work.bottom - work.top - height) / 2;
  return CreateWindowExA(kExStyle, kDialogClass, caption, style, left, top, width, height, owner,
                         nullptr, GetModuleHandleA(nullptr), state);
}

HWND CreateFrame(std::unique_ptr<DialogState>* state, HWND owner, const ui::WindowLayout& layout) {
  return CreateFrame(state, owner, layout.caption, layout.frame,
                     {Px(layout.widthTwips), Px(layout.heightTwips)});
}

// A control placed in pixels.
HWND AddControl(HWND parent, const char* windowClass, int id, const char* text, DWORD style,
                const RECT& place, HFONT font) {
  const HWND control = CreateWindowExA(
      0, windowClass, text, WS_CHILD | WS_VISIBLE | style, place.left, place.top,
      place.right - place.left, place.bottom - place.top, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
  if (control && font) SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

HWND AddControl(HWND parent, const char* windowClass, int id, const char* text, DWORD style,
                const ui::Twips& twips, HFONT font) {
  const RECT place{Px(twips.left), Px(twips.top), Px(twips.left) + Px(twips.width),
                   Px(twips.top) + Px(twips.height)};
  return AddControl(parent, windowClass, id, text, style, place, font);
}

// A label (static text without & prefixes). A font wider than the
// layout's would cut a left-aligned text short: such a label grows to the
// right until the whole text shows.
HWND AddLabel(HWND parent, int id, const char* text, const ui::Twips& twips, HFONT font,
              DWORD align) {
  const HWND label = AddControl(parent, "STATIC", id, text, align | SS_NOPREFIX, twips, font);
  if (label && align == SS_LEFTNOWORDWRAP) {
    const int width = TextWidth(font, text);
    if (width > Px(twips.width))
      SetWindowPos(label, nullptr, 0, 0, width, Px(twips.height),
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return label;
}

HWND AddButton(HWND parent, int id, const char* text, const ui::Twips& twips, HFONT font) {
  const HWND button =
      AddControl(parent, "BUTTON", id, text, WS_TABSTOP | BS_PUSHBUTTON, twips, font);
  if (button) {
    const LONG_PTR base =
        SetWindowLongPtrA(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ButtonProc));
    SetWindowLongPtrA(button, GWLP_USERDATA, base);
  }
  return button;
}

// The tooltip control lives in comctl32, loaded on first use instead of linked,
// so that the program needs no import of it; without it there are no tooltips.
bool TooltipsAvailable() {
  static const bool available = [] {
    const HMODULE comctl = LoadLibraryA("comctl32.dll");
    if (!comctl) return false;
    using Init = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const auto init = reinterpret_cast<Init>(
        reinterpret_cast<void (*)()>(GetProcAddress(comctl, "InitCommonControlsEx")));
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
    return init && init(&controls);
  }();
  return available;
}

// Tooltips for the controls of `window`, each control with its text.
void AddTooltips(HWND window, const std::vector<std::pair<HWND, const char*>>& tips) {
  if (tips.empty() || !TooltipsAvailable()) return;
  const HWND tooltip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                                       WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr,
                                       GetModuleHandleA(nullptr), nullptr);
  if (!tooltip) return;
  for (const auto& [control, text] : tips) {
    TOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<char*>(text);
    SendMessageA(tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

// The first control that takes the focus with Tab.
HWND FirstTabStop(HWND window) {
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    const LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);
    if ((style & WS_TABSTOP) && (style & WS_VISIBLE) && IsWindowEnabled(child)) return child;
  }
  return nullptr;
}

// Gives the focus back to the control that had it (at first the first one).
void RestoreFocus(HWND window, DialogState& state) {
  HWND target = state.focus;
  if (!target || !IsWindow(target) || !IsChild(window, target)) target = FirstTabStop(window);
  if (target) SetFocus(target);
}

// Tab and Shift+Tab of the dialog manager on a window that is not a dialog.
void NextControl(HWND window, WPARAM wParam, LPARAM lParam) {
  HWND next = reinterpret_cast<HWND>(wParam);
  if (!LOWORD(lParam)) {
    const HWND focus = GetFocus();
    next = GetNextDlgTabItem(window, IsChild(window, focus) ? focus : nullptr, wParam != 0);
  }
  if (next) SetFocus(next);
}

void PaintAbout(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW));
  HGDIOBJ old = SelectObject(dc, pen);
  // The lines are horizontal; LineTo leaves out the end point.
  for (const ui::LineTwips& line : ui::kAboutBox.lines) {
    MoveToEx(dc, Px(line.x1), Px(line.y1), nullptr);
    LineTo(dc, Px(line.x2) + 1, Px(line.y2));
  }
  SelectObject(dc, old);
  DeleteObject(pen);
  EndPaint(window, &paint);
}

// The About box's mouse: a click of the left button (pressed and released
// inside, the frame included) closes it; the other buttons do nothing.
bool AboutMessage(HWND window, DialogState& state, UINT message, LPARAM lParam, LRESULT* result) {
  *result = 0;
  switch (message) {
    case WM_NCHITTEST:
      *result = HTCLIENT;  // the frame is part of the box for the click
      return true;
    case WM_LBUTTONDOWN:
      state.leftDown = true;
      SetCapture(window);
      return true;
    case WM_LBUTTONUP: {
      const bool clicked = std::exchange(state.leftDown, false);
      ReleaseCapture();
      POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      ClientToScreen(window, &at);
      RECT frame;
      GetWindowRect(window, &frame);
      if (clicked && PtInRect(&frame, at)) DestroyWindow(window);
      return true;
    }
    case WM_CAPTURECHANGED:
      state.leftDown = false;
      return true;
    case WM_PAINT:
      PaintAbout(window);
      return true;
    default:
      return false;
  }
}

void OnCommand(HWND window, DialogState& state, int id, int code) {
  if (code != BN_CLICKED) return;
  if (state.kind == Kind::Form1 && id == kFirstButtonId) {
    DestroyWindow(window);
  } else if (state.kind == Kind::Erorno2 && id >= kFirstButtonId &&
             id < kFirstButtonId + ui::ButtonCount(ui::kPrintErrorDialog) && !state.ended) {
    state.ended = true;
    PostMessageA(window, WM_NULL, 0, 0);  // wakes the dialog's message loop
    if (state.onButton && *state.onButton) (*state.onButton)(id - kFirstButtonId);
  } else if (state.kind == Kind::Prompt && (id == kFirstButtonId || id == kFirstButtonId + 1) &&
             !state.ended) {
    state.ended = true;
    state.answer = id - kFirstButtonId + 1;
    PostMessageA(window, WM_NULL, 0, 0);
  } else if (state.kind == Kind::Prompt && id == IDCANCEL) {
    // Esc, as the dialog manager reports it: the same as the close button.
    SendMessageA(window, WM_CLOSE, 0, 0);
  }
}

// The messages every window of ours handles alike; false for the others.
bool CommonMessage(HWND window, DialogState& state, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(window, state, LOWORD(wParam), HIWORD(wParam));
      return true;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      return ExitKey(window, message, wParam);
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE && IsChild(window, GetFocus())) state.focus = GetFocus();
      return false;  // the default handling gives the focus to the window
    case WM_SETFOCUS:
      if (state.kind == Kind::About) return false;
      RestoreFocus(window, state);
      return true;
    case WM_NEXTDLGCTL:
      NextControl(window, wParam, lParam);
      return true;
    case kDismiss:
      state.ended = true;
      PostMessageA(window, WM_NULL, 0, 0);
      return true;
    default:
      return false;
  }
}

// The close button of a prompt presses its first button where the layout
// says so; otherwise it does nothing.
LRESULT ClosePrompt(HWND window, const DialogState& state) {
  if (state.prompt && state.prompt->escapePressesFirst)
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(kFirstButtonId, BN_CLICKED), 0);
  return 0;
}

// Alt + a prompt button's mnemonic letter presses the button; true when one
// matched. Plain characters never come here: they reach no button.
bool PressMnemonic(HWND window, const DialogState& state, WPARAM key) {
  if (!state.prompt || !state.prompt->mnemonics || key > 0xFF) return false;
  const char* const texts[] = {state.prompt->first, state.prompt->second};
  for (int index = 0; index < 2; ++index) {
    const std::string caption = ui::ButtonCaption(*state.prompt, texts[index]);
    const std::size_t mark = caption.find('&');
    if (mark + 1 >= caption.size() ||
        std::tolower(static_cast<unsigned char>(caption[mark + 1])) != std::tolower(int(key)))
      continue;
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(kFirstButtonId + index, BN_CLICKED), 0);
    return true;
  }
  return false;
}

LRESULT StaticColour(HWND window, HDC dc, HWND control) {
  if (GetDlgCtrlID(control) == kBlackLabelId) SetTextColor(dc, RGB(0, 0, 0));
  return DefWindowProcA(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                        reinterpret_cast<LPARAM>(control));
}

LRESULT CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* owner = static_cast<std::unique_ptr<DialogState>*>(
        reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner->release()));
  }
  auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!state) return DefWindowProcA(window, message, wParam, lParam);
  LRESULT result = 0;
  if (CommonMessage(window, *state, message, wParam, lParam)) return 0;
  if (state->kind == Kind::About && AboutMessage(window, *state, message, lParam, &result))
    return result;
  switch (message) {
    case WM_CTLCOLORSTATIC:
      return StaticColour(window, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_CLOSE:
      if (state->kind == Kind::Erorno2) return 0;  // the operator is to choose
      if (state->kind == Kind::Prompt) return ClosePrompt(window, *state);
      break;
    case WM_SYSCHAR:
      if (state->kind == Kind::Prompt && PressMnemonic(window, *state, wParam)) return 0;
      break;
    case WM_NCDESTROY:
      if (window == form1) form1 = nullptr;
      if (window == about) about = nullptr;
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      delete state;
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void BringForward(HWND window) {
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
}

std::unique_ptr<DialogState> NewState(Kind kind) {
  auto state = std::make_unique<DialogState>();
  state->kind = kind;
  return state;
}

// A picture control with the icon resource `icon`.
HWND AddPicture(HWND parent, const ui::ControlLayout& control) {
  const HWND picture =
      AddControl(parent, "STATIC", kLabelId, nullptr, SS_ICON, control.place, nullptr);
  const HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(control.icon));
  SendMessageA(picture, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
  return picture;
}

// A label of the layout; the one without a text of its own shows `versionText`
// (the About box's version, the printer-error dialog's receipt).
HWND AddLayoutLabel(HWND window, const ui::ControlLayout& control, HFONT font,
                    const std::string& versionText) {
  const int id = control.black ? kBlackLabelId : control.text ? kLabelId : kVersionLabelId;
  const DWORD align = control.align == ui::Align::Left ? SS_LEFTNOWORDWRAP
                      : control.tooltip                ? SS_CENTER | SS_NOTIFY
                                                       : SS_CENTER;
  return AddLabel(window, id, control.text ? control.text : versionText.c_str(), control.place,
                  font, align);
}

// The controls of `layout` in its order, with their fonts and tooltips.
void AddControls(HWND window, const ui::WindowLayout& layout, const std::string& versionText = {}) {
  std::vector<std::pair<HWND, const char*>> tips;
  int buttons = 0;
  for (const ui::ControlLayout& control : layout.controls) {
    const HFONT font = Font(control.font.family  ? control.font
                            : layout.font.family ? layout.font
                                                 : kDefaultFont);
    HWND added = nullptr;
    if (control.kind == ui::ControlKind::Picture) added = AddPicture(window, control);
    if (control.kind == ui::ControlKind::Label)
      added = AddLayoutLabel(window, control, font, versionText);
    if (control.kind == ui::ControlKind::Button)
      added = AddButton(window, kFirstButtonId + buttons++, control.text, control.place, font);
    if (control.tooltip) tips.emplace_back(added, control.tooltip);
  }
  AddTooltips(window, tips);
}

HWND CreatePrintErrorDialog(HWND owner, const std::string& file,
                            const std::function<void(int)>& onButton) {
  auto state = NewState(Kind::Erorno2);
  state->onButton = &onButton;
  const HWND dialog = CreateFrame(&state, owner, ui::kPrintErrorDialog);
  // The window's narrow text is the ANSI code page's; the name is UTF-8.
  if (dialog) AddControls(dialog, ui::kPrintErrorDialog, NarrowFromUtf8(file));
  return dialog;
}

// Dispatches the thread's messages, those of every other window included,
// until the dialog is ended or gone. A WM_QUIT ends it too and is posted again
// for the outer message loop.
void RunModalLoop(HWND dialog) {
  MSG msg;
  for (DialogState* state; (state = StateOf(dialog)) && !state->ended;) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (!PreTranslateDialogMessage(&msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

// A prompt's measures in pixels, as a message box has them: the margin, the
// icon's side, the buttons' size and the gap between them.
constexpr int kPromptMargin = 11, kIconSide = 32;
constexpr int kButtonWidth = 75, kButtonHeight = 23, kButtonGap = 6;
constexpr int kQuestionIcon = 32514;  // the system's IDI_QUESTION
constexpr int kStopIcon = 32513;      // the system's IDI_HAND

SIZE TextSize(HFONT font, const std::string& text) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  RECT rect{0, 0, 0, 0};
  DrawTextA(dc, text.c_str(), -1, &rect, DT_CALCRECT | DT_NOPREFIX | DT_LEFT);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return {rect.right + 2, rect.bottom};
}

// A button of a prompt whose keys answer nothing: Space, Enter and typed
// characters, which a button takes once a click has given it the focus, are
// dropped; Alt + a letter goes to the prompt's mnemonics.
LRESULT CALLBACK PromptButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto base = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(button, GWLP_USERDATA));
  switch (message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
      return 0;
    case WM_SYSCHAR:
      return SendMessageA(GetParent(button), message, wParam, lParam);
    default:
      return CallWindowProcA(base, button, message, wParam, lParam);
  }
}

// The prompt's icon, text and its two buttons centred below them. Where keys
// answer, the buttons take the focus by Tab and the first is the default one;
// where they do not, no button is either.
void AddPromptControls(HWND window, const ui::PromptLayout& layout, const std::string& text,
                       int icon, SIZE textSize, SIZE client) {
  const HFONT font = Font(kDefaultFont);
  const HWND picture = AddControl(
      window, "STATIC", kLabelId, nullptr, SS_ICON,
      RECT{kPromptMargin, kPromptMargin, kPromptMargin + kIconSide, kPromptMargin + kIconSide},
      nullptr);
  SendMessageA(picture, STM_SETICON,
               reinterpret_cast<WPARAM>(LoadIconA(nullptr, MAKEINTRESOURCEA(icon))), 0);
  const int textLeft = 2 * kPromptMargin + kIconSide;
  AddControl(window, "STATIC", kLabelId, text.c_str(), SS_LEFT | SS_NOPREFIX,
             RECT{textLeft, kPromptMargin, textLeft + textSize.cx, kPromptMargin + textSize.cy},
             font);
  const char* const texts[] = {layout.first, layout.second};
  int left = (client.cx - 2 * kButtonWidth - kButtonGap) / 2;
  const int top = client.cy - kPromptMargin - kButtonHeight;
  for (int index = 0; index < 2; ++index, left += kButtonWidth + kButtonGap) {
    const DWORD style = !layout.keysAnswer ? BS_PUSHBUTTON
                        : index == 0       ? WS_TABSTOP | BS_DEFPUSHBUTTON
                                           : WS_TABSTOP | BS_PUSHBUTTON;
    const HWND button = AddControl(window, "BUTTON", kFirstButtonId + index,
                                   ui::ButtonCaption(layout, texts[index]).c_str(), style,
                                   RECT{left, top, left + kButtonWidth, top + kButtonHeight}, font);
    if (button && !layout.keysAnswer) {
      const LONG_PTR base =
          SetWindowLongPtrA(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PromptButtonProc));
      SetWindowLongPtrA(button, GWLP_USERDATA, base);
    }
  }
}

// A prompt of ours with the layout's buttons, hidden, topmost and centred.
HWND CreatePrompt(HWND owner, const ui::PromptLayout& layout, const std::string& text, int icon) {
  const SIZE textSize = TextSize(Font(kDefaultFont), text);
  const int textRight = 3 * kPromptMargin + kIconSide + textSize.cx;
  const int buttonsRight = 2 * kPromptMargin + 2 * kButtonWidth + kButtonGap;
  const SIZE client{
      textRight > buttonsRight ? textRight : buttonsRight,
      3 * kPromptMargin + (textSize.cy > kIconSide ? textSize.cy : kIconSide) + kButtonHeight};
  auto state = NewState(Kind::Prompt);
  state->prompt = &layout;
  const HWND window = CreateFrame(&state, owner, ui::kPromptCaption, ui::Frame::CaptionAndClose,
                                  client, WS_EX_TOPMOST);
  if (window) AddPromptControls(window, layout, text, icon, textSize, client);
  return window;
}

// Shows `window` above the windows `after` says, activated or not, with the
// owner disabled, and returns once it has ended; *shown holds it meanwhile.
void RunModal(HWND owner, HWND window, HWND* shown, HWND after, bool activate) {
  if (shown) *shown = window;
  // EnableWindow answers whether the owner was disabled already (a dialog
  // over it); only an owner disabled here is enabled again.
  const bool ownerDisabledHere = owner && !EnableWindow(owner, FALSE);
  SetWindowPos(window, after, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW | (activate ? 0 : SWP_NOACTIVATE));
  if (activate) SetForegroundWindow(window);
  RunModalLoop(window);
  // The owner is enabled before the window goes, so that it gets the activation.
  if (ownerDisabledHere) EnableWindow(owner, TRUE);
}

}  // namespace

HWND ShowExitConfirmation(HWND owner, std::function<void()> onExit) {
  if (DialogState* open = StateOf(form1)) {
    open->onExit = std::move(onExit);
    BringForward(form1);
    return form1;
  }
  auto state = NewState(Kind::Form1);
  state->onExit = std::move(onExit);
  const HWND window = CreateFrame(&state, owner, ui::kExitConfirmation);
  if (!window) return nullptr;
  AddControls(window, ui::kExitConfirmation);
  form1 = window;
  BringForward(window);
  return window;
}

HWND ShowAbout(HWND owner, const std::string& versionText) {
  if (StateOf(about)) {
    SetDlgItemTextA(about, kVersionLabelId, versionText.c_str());
    BringForward(about);
    return about;
  }
  auto state = NewState(Kind::About);
  const HWND window = CreateFrame(&state, owner, ui::kAboutBox);
  if (!window) return nullptr;
  AddControls(window, ui::kAboutBox, versionText);
  about = window;
  BringForward(window);
  return window;
}

void RunPrintErrorDialog(HWND owner, const std::string& file,
                         const std::function<void(int)>& onButton, HWND* shown) {
  const HWND dialog = CreatePrintErrorDialog(owner, file, onButton);
  if (!dialog) return;
  RunModal(owner, dialog, shown, HWND_NOTOPMOST, true);
  if (DialogState* state = StateOf(dialog)) state->onButton = nullptr;
  if (IsWindow(dialog)) DestroyWindow(dialog);
  if (shown) *shown = nullptr;
}

namespace {

// Shows a prompt of ours modal to `owner` and returns 1 + the index of the
// button that ended it, or 0 when it could not be shown or was dismissed.
int RunPrompt(HWND owner, const ui::PromptLayout& layout, const std::string& text, int icon,
              HWND* shown) {
  const HWND prompt = CreatePrompt(owner, layout, text, icon);
  if (!prompt) return 0;
  RunModal(owner, prompt, shown, HWND_TOPMOST, layout.activates);
  const DialogState* state = StateOf(prompt);
  const int answer = state ? state->answer : 0;
  if (IsWindow(prompt)) DestroyWindow(prompt);
  if (shown) *shown = nullptr;
  return answer;
}

}  // namespace

bool AskContinueWithoutRegister(HWND owner, HWND* shown) {
  return RunPrompt(owner, ui::kNoAnswerBox, ui::NoAnswerText("\r\n"), kStopIcon, shown) != 2;
}

int AskReceiptComplete(HWND owner, const std::string& file, HWND* shown) {
  // The window's narrow text is the ANSI code page's; the name is UTF-8.
  const int answer = RunPrompt(owner, ui::kPaymentQuestion,
                               ui::PaymentQuestionText(NarrowFromUtf8(file)), kQuestionIcon, shown);
  return answer == 1 ? IDYES : answer == 2 ? IDNO : 0;
}

HWND PromptButton(HWND prompt, int index) {
  return GetDlgItem(prompt, kFirstButtonId + index);
}

void DismissPrompt(HWND shown) {
  if (!shown || !IsWindow(shown)) return;
  if (StateOf(shown)) SendMessageA(shown, kDismiss, 0, 0);
}

bool PreTranslateDialogMessage(MSG* msg) {
  if (!msg || !msg->hwnd) return false;
  const HWND root = GetAncestor(msg->hwnd, GA_ROOT);
  const DialogState* state = StateOf(root);
  if (!state) return false;
  if (ExitKey(root, msg->message, msg->wParam)) return true;
  // The dialog manager would press a prompt's button for Enter and for its
  // letter typed without Alt: a prompt whose keys answer nothing is left out.
  if (state->kind == Kind::Prompt && !state->prompt->keysAnswer) return false;
  return IsDialogMessageA(root, msg) != FALSE;
}

}  // namespace ovix::win32
