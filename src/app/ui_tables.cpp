#include "app/ui_tables.h"

#include <iterator>

namespace ovix::ui {
namespace {

constexpr ControlLayout kForm1Controls[] = {
    {.kind = ControlKind::Label,
     .name = "Label1",
     .text = "IESIRE PROGRAM ???",
     .place = {990, 180, 1755, 255},
     .font = {"MS Sans Serif", 825},
     .black = true},
    {.kind = ControlKind::Button,
     .name = "Command1",
     .text = "Anulare",
     .place = {1020, 900, 1635, 375},
     .font = {"MS Sans Serif", 975}},
    {.kind = ControlKind::Label,
     .name = "Label2",
     .text = "(Ctrl + Ins     -   IESIRE)",
     .place = {1020, 420, 1695, 255},
     .font = {}},
};

constexpr ControlLayout kAboutControls[] = {
    {.kind = ControlKind::Picture,
     .name = "Picture1",
     .text = nullptr,
     .place = {180, 180, 675, 615},
     .font = {},
     .icon = 102},
    {.kind = ControlKind::Label,
     .name = "Label1",
     .text = nullptr,
     .place = {960, 180, 2655, 255},
     .font = {},
     .align = Align::Center},
    {.kind = ControlKind::Label,
     .name = "Label2",
     .text = "ATELIER OVIX",
     .place = {960, 540, 2655, 255},
     .font = {},
     .align = Align::Center},
};

// The lines along the top and the bottom edge of the About box.
constexpr LineTwips kAboutLines[] = {{60, 0, 3780, 0}, {0, 960, 3780, 960}};

constexpr ControlLayout kErorno2Controls[] = {
    {.kind = ControlKind::Label,
     .name = "Label1",
     .text = "Eroare pe casa de marcat !!",
     .place = {893, 300, 4035, 255},
     .font = {"Arial", 1125},
     .align = Align::Center,
     .tooltip = "Reincearca tiparirea bonului"},
    // The receipt's name: the label without a text of its own.
    {.kind = ControlKind::Label,
     .name = "lblBon",
     .text = nullptr,
     .place = {180, 600, 5475, 240},
     .font = {"Arial", 825},
     .align = Align::Center},
    {.kind = ControlKind::Button,
     .name = "cmdRetry",
     .text = "Re-incearca",
     .place = {180, 900, 1395, 375},
     .font = {"Arial", 825},
     .choice = ErrorChoice::Retry},
    {.kind = ControlKind::Button,
     .name = "cmdCancel",
     .text = "Anuleaza bon",
     .place = {2100, 900, 1635, 375},
     .font = {"Arial", 825},
     .tooltip = "Anuleaza bonul in curs",
     .choice = ErrorChoice::CancelReceipt},
    {.kind = ControlKind::Button,
     .name = "cmdAbort",
     .text = "Renunta",
     .place = {4260, 900, 1395, 375},
     .font = {"Arial", 825},
     // "i curs" (for "in curs") as the tooltip always read.
     .tooltip = "Renunta la operatiunea i curs",
     .choice = ErrorChoice::GiveUp},
};

constexpr MenuEntry kMenuEntries[] = {
    {"mnuStergere", "&Stergere", false, false, false, MenuCommand::Clearing},
    {"mnuSep1", "", false, true, true, MenuCommand::None},
    {"mnuAbout", "Info Aplicatie", true, true, false, MenuCommand::About},
    {"MNUsep2", "", true, true, true, MenuCommand::None},
    {"mnuExit", "&Exit", true, true, false, MenuCommand::Exit},
};

constexpr const char* kNoAnswerLines[] = {"Casa de marcat nu raspunde !!",
                                          "LIPSA HIRTIE SAU INCHISA !!",
                                          "",
                                          "INTRODUCETI HIRTIE SAU DESCHIDETI CASA !!",
                                          "",
                                          "CONTINUARE APLICATIE ??"};

}  // namespace

const WindowLayout kExitConfirmation{"Form1", "ATENTIE !!!",  Frame::CaptionAndClose, 3735,
                                     1305,    {"Arial", 825}, kForm1Controls,         {}};
const WindowLayout kAboutBox{"About", "", Frame::NoCaption, 3765,
                             975,     {}, kAboutControls,   kAboutLines};
const WindowLayout kPrintErrorDialog{"Erorno2", "ATENTIE !!", Frame::Caption,   5820,
                                     1380,      {},           kErorno2Controls, {}};
const std::span<const MenuEntry> kPopupMenu = kMenuEntries;
const PromptLayout kNoAnswerBox{.first = kNoAnswerOk,
                                .second = kNoAnswerCancel,
                                .keysAnswer = true,
                                .mnemonics = false,
                                .activates = true,
                                .escapePressesFirst = true};
const PromptLayout kPaymentQuestion{.first = kPaymentYes,
                                    .second = kPaymentNo,
                                    .keysAnswer = false,
                                    .mnemonics = true,
                                    .activates = false,
                                    .escapePressesFirst = false};

std::string ButtonCaption(const PromptLayout& prompt, const char* text) {
  // Built by appending: GCC 12's optimiser warns (wrongly) about "&" + string.
  std::string caption;
  if (prompt.mnemonics) caption += '&';
  return caption += text;
}

int ButtonCount(const WindowLayout& window) {
  int count = 0;
  for (const ControlLayout& control : window.controls)
    count += control.kind == ControlKind::Button ? 1 : 0;
  return count;
}

const ControlLayout& Button(const WindowLayout& window, int index) {
  for (const ControlLayout& control : window.controls)
    if (control.kind == ControlKind::Button && index-- == 0) return control;
  return window.controls.front();
}

ErrorChoice ErrorChoiceOfButton(int index) {
  return Button(kPrintErrorDialog, index).choice;
}

std::string NoAnswerText(std::string_view lineBreak) {
  std::string text;
  for (std::size_t i = 0; i < std::size(kNoAnswerLines); ++i) {
    if (i > 0) text += lineBreak;
    text += kNoAnswerLines[i];
  }
  return text;
}

std::string PaymentQuestionText(std::string_view file) {
  return "Casa de marcat nu a confirmat plata bonului !!\n\n" + std::string(file) +
         "\n\nBONUL A IESIT COMPLET DIN CASA DE MARCAT ??";
}

std::string VersionText(int major, int minor, int revision) {
  return "OVIXNOVA V" + std::to_string(major) + "." + std::to_string(minor) + "." +
         std::to_string(revision);
}

std::string TooltipText(int major, int minor, int revision) {
  return "OVIXNOVA V." + std::to_string(major) + std::to_string(minor) + std::to_string(revision);
}

}  // namespace ovix::ui
