#include "win32/test_operator.h"

#include <cstdlib>
#include <memory>

#include "app/operator_script.h"
#include "app/ui_tables.h"
#include "win32/command_line.h"
#include "win32/win32_dialogs.h"

namespace ovix {
namespace {

// The operator's clicks on the Win32 windows of `host`, posted as the
// system's own clicks would be.
class Win32Hands : public OperatorHands {
 public:
  explicit Win32Hands(Win32Host& host) : host_(host) {}
  Win32Host& Host() const { return host_; }
  bool CloseAbout() override {
    if (!host_.AboutWindow()) return false;
    DestroyWindow(host_.AboutWindow());
    return true;
  }
  bool AnswerNoAnswerBox(bool ok) override {
    const HWND box = host_.NoAnswerBox();
    return box && Click(win32::PromptButton(box, ok ? 0 : 1));
  }
  bool AnswerPaymentQuestion(bool yes) override {
    const HWND box = host_.PaymentQuestionBox();
    return box && Click(win32::PromptButton(box, yes ? 0 : 1));
  }
  bool PressErrorButton(int index) override {
    const HWND dialog = host_.ErrorDialogWindow();
    return dialog && Click(FindWindowExA(dialog, nullptr, "BUTTON",
                                         ui::Button(ui::kPrintErrorDialog, index).text));
  }
  bool CloseErrorDialog() override {
    if (!host_.ErrorDialogWindow()) return false;
    win32::DismissPrompt(host_.ErrorDialogWindow());
    return true;
  }
  bool DropTrayIcon() override {
    NOTIFYICONDATAA icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = host_.MainWindow();
    icon.uID = 1;
    Shell_NotifyIconA(NIM_DELETE, &icon);
    return true;
  }
  bool AnnounceNewTray() override {
    PostMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    return true;
  }

 private:
  static bool Click(HWND button) {
    if (!button) return false;
    PostMessageA(button, BM_CLICK, 0, 0);
    return true;
  }
  Win32Host& host_;
};

std::unique_ptr<OperatorScript> script;
std::unique_ptr<Win32Hands> hands;

void CALLBACK Poll(HWND, UINT, UINT_PTR, DWORD) {
  script->Step(hands->Host(), *hands);
}

}  // namespace

void StartTestOperator(Win32Host& host) {
  OperatorSetup setup = ReadOperatorSetup();
  if (setup.noWatch) host.DisableSpoolWatch();
  if (!setup.script) return;
  script = std::move(setup.script);
  hands = std::make_unique<Win32Hands>(host);
  SetTimer(nullptr, 0, 50, &Poll);
}

unsigned StopWaitMs() {
  const char* wait = std::getenv("OVIXNOVA_TEST_STOP_WAIT_MS");
  return wait && *wait ? static_cast<unsigned>(std::strtoul(wait, nullptr, 10)) : kStopWaitMs;
}

bool TestOperatorRuns() {
  return ScriptedOperatorRuns();
}

}  // namespace ovix
