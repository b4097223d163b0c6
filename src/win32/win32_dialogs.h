// The driver's windows on Windows: the exit confirmation (Form1), the About
// box (About), the printer-error dialog (Erorno2), the no-answer message box
// and the payment question, drawn from the texts and layout tables of
// app/ui_tables.h; texts are in the ANSI code page, as the log's. GUI thread
// only.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <functional>
#include <string>

namespace ovix::win32 {

// Exit confirmation "ATENTIE !!!", modeless, centred: "IESIRE PROGRAM ???",
// "(Ctrl + Ins     -   IESIRE)" and the button "Anulare". Ctrl+Ins (whatever
// other modifiers, whichever control has the focus) calls `onExit`; "Anulare"
// (click, or Enter/Space while it has the focus) or the close button closes
// the window and nothing else happens; Esc and Enter elsewhere do nothing.
// Shown again while open: brought forward. Returns the window.
HWND ShowExitConfirmation(HWND owner, std::function<void()> onExit);

// About box: icon 102, `versionText` and the maker's name, a fixed dialog
// frame without caption; a left click anywhere in it closes it. Modeless.
HWND ShowAbout(HWND owner, const std::string& versionText);

// Printer-error dialog "ATENTIE !!", modal to `owner`: "Eroare pe casa de
// marcat !!", the receipt's name `file` (UTF-8) below it, and the buttons "Re-incearca", "Anuleaza
// bon", "Renunta" (Enter or Space on the focused one presses it; Esc does nothing; no default
// button; not topmost). Each button calls onButton(0, 1 or 2) and closes the
// dialog; returns once it is gone. *shown holds the window while it is up.
void RunPrintErrorDialog(HWND owner, const std::string& file,
                         const std::function<void(int)>& onButton, HWND* shown);

// The no-answer box, a window of ours drawn from ui::kNoAnswerBox, so that
// its buttons read as the table has them on every system: caption
// "OVIXNOVA", the stop icon, "OK" (the default button) and "Anulare", modal to
// `owner`, topmost and activated. True for OK, which Esc and the close button
// also press, and when DismissPrompt ended it; false for "Anulare". *shown
// holds the box's window while it is up (so a test or the exit can answer it).
bool AskContinueWithoutRegister(HWND owner, HWND* shown);

// The payment question about the receipt `file` (UTF-8, as the log holds it),
// a window of ours drawn from ui::kPaymentQuestion: caption "OVIXNOVA", the
// question icon, "&Da" and "&Nu", modal to `owner`, shown topmost without
// taking the activation from the program that has it. No button is the
// default one or takes the focus; Enter, Space, Esc, typed characters and the
// close button do nothing; a click or Alt+D / Alt+N answers. Returns IDYES or
// IDNO, or 0 when it could not be shown or DismissPrompt ended it. *shown
// holds its window while it is up.
int AskReceiptComplete(HWND owner, const std::string& file, HWND* shown);

// The button `index` (0 the first, 1 the second) of the shown no-answer box
// or payment question; null when there is none.
HWND PromptButton(HWND prompt, int index);

// Ends a shown printer-error dialog or prompt without a choice (the exit
// closes them).
void DismissPrompt(HWND shown);

// Messages of the modeless windows above (keyboard: Tab, Enter, Space on a
// button, Ctrl+Ins); true when handled. For Win32EventPump::preTranslate.
bool PreTranslateDialogMessage(MSG* msg);

}  // namespace ovix::win32
