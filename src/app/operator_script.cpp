#include "app/operator_script.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <utility>

namespace ovix {
namespace {

constexpr std::pair<std::string_view, OperatorAction> kActions[] = {
    {"ok", OperatorAction::Ok},
    {"cancel", OperatorAction::Cancel},
    {"yes", OperatorAction::Yes},
    {"no", OperatorAction::No},
    {"retry", OperatorAction::Retry},
    {"cancel-receipt", OperatorAction::CancelReceipt},
    {"give-up", OperatorAction::GiveUp},
    {"close", OperatorAction::Close},
    {"clear", OperatorAction::Clear},
    {"about", OperatorAction::About},
    {"close-about", OperatorAction::CloseAbout},
    {"exit", OperatorAction::Exit},
    {"tray-lost", OperatorAction::TrayLost},
    {"tray-created", OperatorAction::TrayCreated},
};

constexpr std::string_view kBlanks = " \t\r\n\v\f";

const char* NonEmptyEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

}  // namespace

OperatorAction ParseOperatorAction(std::string_view line) {
  const std::size_t first = line.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return OperatorAction::Unknown;
  line = line.substr(first, line.find_last_not_of(kBlanks) - first + 1);
  for (const auto& [text, action] : kActions)
    if (line == text) return action;
  return OperatorAction::Unknown;
}

bool ApplyOperatorAction(OperatorAction action, AppHost& host, OperatorHands& hands) {
  switch (action) {
    case OperatorAction::Clear:
      host.OnMenuClearing();
      return true;
    case OperatorAction::About:
      host.OnMenuAbout();
      return true;
    case OperatorAction::Exit:
      host.RunExitSequence();
      return true;
    case OperatorAction::CloseAbout:
      return hands.CloseAbout();
    case OperatorAction::Ok:
    case OperatorAction::Cancel:
      return hands.AnswerNoAnswerBox(action == OperatorAction::Ok);
    case OperatorAction::Yes:
    case OperatorAction::No:
      return hands.AnswerPaymentQuestion(action == OperatorAction::Yes);
    case OperatorAction::Retry:
    case OperatorAction::CancelReceipt:
    case OperatorAction::GiveUp:
      return hands.PressErrorButton(static_cast<int>(action) -
                                    static_cast<int>(OperatorAction::Retry));
    case OperatorAction::Close:
      return hands.CloseErrorDialog();
    case OperatorAction::TrayLost:
      return hands.DropTrayIcon();
    case OperatorAction::TrayCreated:
      return hands.AnnounceNewTray();
    case OperatorAction::Unknown:
      break;
  }
  return false;
}

void OperatorScript::Step(AppHost& host, OperatorHands& hands) {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return;
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  std::size_t start = 0;
  for (std::size_t line = 0; line < done_; ++line) {
    start = text.find('\n', start);
    if (start == std::string::npos) return;
    ++start;
  }
  const std::size_t end = text.find('\n', start);
  if (end == std::string::npos) return;
  if (ApplyOperatorAction(ParseOperatorAction(std::string_view(text).substr(start, end - start)),
                          host, hands))
    ++done_;
}

OperatorSetup ReadOperatorSetup() {
  OperatorSetup setup;
  setup.noWatch = NonEmptyEnvironment("OVIXNOVA_TEST_NO_WATCH") != nullptr;
  if (const char* path = NonEmptyEnvironment("OVIXNOVA_TEST_OPERATOR"))
    setup.script = std::make_unique<OperatorScript>(path);
  return setup;
}

bool ScriptedOperatorRuns() {
  return std::getenv("OVIXNOVA_TEST_OPERATOR") != nullptr;
}

}  // namespace ovix
