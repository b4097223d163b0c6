#include "win32/test_operator.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "win32/win32_dialogs.h"

namespace ovix {
namespace {

Win32Host* scriptedHost = nullptr;
std::string scriptPath;
std::size_t done = 0;

// Clicks the button with `text` in `window`; false when there is none.
bool ClickButton(HWND window, const char* text) {
  HWND button = FindWindowExA(window, nullptr, "BUTTON", text);
  if (!button) return false;
  PostMessageA(button, BM_CLICK, 0, 0);
  return true;
}

// Carries out one action if it applies now; false when it has to wait.
bool Apply(Win32Host& host, const std::string& action) {
  if (action == "clear") {
    host.mnuStergere_Click();
  } else if (action == "exit") {
    host.RunExitSequence();
  } else if (action == "about") {
    host.mnuAbout_Click();
  } else if (action == "close-about" && host.AboutWindow()) {
    DestroyWindow(host.AboutWindow());
  } else if (host.NoAnswerBox() && (action == "ok" || action == "cancel")) {
    PostMessageA(host.NoAnswerBox(), WM_COMMAND, action == "ok" ? IDOK : IDCANCEL, 0);
  } else if (HWND box = host.PaymentQuestionBox(); box && (action == "yes" || action == "no")) {
    const HWND button = GetDlgItem(box, action == "yes" ? IDYES : IDNO);
    if (!button) return false;
    PostMessageA(button, BM_CLICK, 0, 0);
  } else if (HWND dialog = host.ErrorDialogWindow()) {
    if (action == "retry") return ClickButton(dialog, "Re-incearca");
    if (action == "cancel-receipt") return ClickButton(dialog, "Anuleaza bon");
    if (action == "give-up") return ClickButton(dialog, "Renunta");
    if (action != "close") return false;
    win32::DismissPrompt(dialog);
  } else {
    return false;
  }
  return true;
}

std::vector<std::string> CompleteLines() {
  std::vector<std::string> lines;
  std::FILE* file = std::fopen(scriptPath.c_str(), "rb");
  if (!file) return lines;
  std::string text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
    text.append(buffer, got);
  std::fclose(file);
  // A line counts once it is complete (ends with a newline).
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    std::string line = text.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

void CALLBACK Poll(HWND, UINT, UINT_PTR, DWORD) {
  const std::vector<std::string> lines = CompleteLines();
  if (done < lines.size() && Apply(*scriptedHost, lines[done])) ++done;
}

}  // namespace

void StartTestOperator(Win32Host& host) {
  if (const char* noWatch = std::getenv("OVIXNOVA_TEST_NO_WATCH"); noWatch && *noWatch)
    host.DisableSpoolWatch();
  const char* path = std::getenv("OVIXNOVA_TEST_OPERATOR");
  if (!path || !*path) return;
  scriptedHost = &host;
  scriptPath = path;
  SetTimer(nullptr, 0, 50, &Poll);
}

}  // namespace ovix
