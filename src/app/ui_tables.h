// The texts and layouts of the driver's windows, shared by both front ends
// and by the widget tests: the exit confirmation (Form1), the About box
// (About), the printer-error dialog (Erorno2), the no-answer box, the payment
// question, the tray's popup menu, the version and tooltip texts. Places are
// in twips, as the original layouts have them, 15 twips a pixel at 96 dpi.
// All texts are in the ANSI code page (plain ASCII), exactly as shown.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "spool/driver_host.h"

namespace ovix::ui {

// Twips to pixels at 96 dpi.
constexpr int Px(int twips) {
  return (twips + 7) / 15;
}

// A control's place in the layout, in twips.
struct Twips {
  int left, top, width, height;
};

// A font of the layout; a null family stands for the window's font (and,
// where the window names none, the front end's default dialog font).
struct FontStyle {
  const char* family = nullptr;
  int centipoints = 0;  // hundredths of a point
};

enum class ControlKind { Label, Button, Picture };
enum class Align { Left, Center };  // both at the top of the control

// One control of a window, in the order the front ends create them.
struct ControlLayout {
  ControlKind kind;
  const char* name;  // the original control's name
  // The text; null for the About box's version label (VersionText()) and a
  // picture.
  const char* text;
  Twips place;
  FontStyle font;
  Align align = Align::Left;
  const char* tooltip = nullptr;            // null: none
  bool black = false;                       // a label whose text is always black
  int icon = 0;                             // a picture: the number of its icon resource
  ErrorChoice choice = ErrorChoice::Retry;  // a button of the printer-error dialog
};

// The window's frame: a caption with a close button, a caption alone, or a
// fixed dialog frame without a caption. None has a window icon, a minimise or
// a maximise button.
enum class Frame { CaptionAndClose, Caption, NoCaption };

// A line drawn on the window's client area, in twips.
struct LineTwips {
  int x1, y1, x2, y2;
};

struct WindowLayout {
  const char* name;
  const char* caption;
  Frame frame;
  int widthTwips, heightTwips;  // the client area
  FontStyle font;               // the window's font
  std::span<const ControlLayout> controls;
  std::span<const LineTwips> lines;
};

extern const WindowLayout kExitConfirmation;  // Form1
extern const WindowLayout kAboutBox;          // About
extern const WindowLayout kPrintErrorDialog;  // Erorno2

// The buttons of a window's layout, in order: the printer-error dialog's are
// indexed 0, 1, 2 by every front end.
int ButtonCount(const WindowLayout& window);
const ControlLayout& Button(const WindowLayout& window, int index);
// The printer-error dialog's decision for its button `index` (0-2).
ErrorChoice ErrorChoiceOfButton(int index);

// The caption of the no-answer box and of the payment question.
inline constexpr char kPromptCaption[] = "OVIXNOVA";
// The no-answer box's buttons, as a Romanian system's message box names them.
inline constexpr char kNoAnswerOk[] = "OK";
inline constexpr char kNoAnswerCancel[] = "Anulare";
// The payment question's buttons.
inline constexpr char kPaymentYes[] = "Da";
inline constexpr char kPaymentNo[] = "Nu";

// How a prompt with two buttons takes the keyboard and the screen; both front
// ends draw the no-answer box and the payment question from these.
struct PromptLayout {
  // The buttons' texts in order.
  const char* first;
  const char* second;
  // The first button is the default one: Enter presses it, and Enter, Space
  // and typed characters press the focused button. False: no default button,
  // no button with the focus, and those keys do nothing; only a click or
  // Alt + a button's mnemonic answers.
  bool keysAnswer;
  // The captions carry a mnemonic, their first letter (ButtonCaption).
  bool mnemonics;
  // Shown activated, with the keyboard focus. False: shown above all windows
  // while the focus stays with the program that has it.
  bool activates;
  // Esc and the close button press the first button; false: they do nothing.
  bool escapePressesFirst;
};
// OK (also Esc and the close button: wait and try again) and Cancel.
extern const PromptLayout kNoAnswerBox;
// "Da" and "Nu", answered only by a click or Alt+D / Alt+N: a scanner's Enter
// typed into the point-of-sale program must not answer it.
extern const PromptLayout kPaymentQuestion;
// A button's caption as displayed: `text` with the mnemonic marker "&" before
// its first letter where `prompt` has mnemonics.
std::string ButtonCaption(const PromptLayout& prompt, const char* text);

// The no-answer box's text, its lines joined by `lineBreak` (a static text
// of Windows takes "\r\n", Qt "\n").
std::string NoAnswerText(std::string_view lineBreak);
// The payment question about the receipt `file`, as the log shows it.
std::string PaymentQuestionText(std::string_view file);

// The entries of the tray's popup menu, in order. A front end whose menu
// cannot hide an entry leaves the invisible ones out.
enum class MenuCommand { None = 0, Clearing = 1, About = 2, Exit = 3 };
struct MenuEntry {
  const char* name;
  const char* text;  // "" for a separator
  bool visible, enabled, separator;
  MenuCommand command;
};
extern const std::span<const MenuEntry> kPopupMenu;

// "OVIXNOVA V" + major.minor.revision (the About box), and the tray tooltip
// "OVIXNOVA V." + the three numbers without separators.
std::string VersionText(int major, int minor, int revision);
std::string TooltipText(int major, int minor, int revision);
// The same of this build's version; the tooltip adds a second line,
// "ATENTIE !! OVIX.INI " + `settingsProblem`, when the settings file gave
// only defaults (Startup::settingsProblem).
std::string VersionText();
std::string TooltipText(const std::string& settingsProblem = {});

}  // namespace ovix::ui
