// The application layer: start-up failures' messages, the host's rules and
// exit order over a fake front end, the windows' tables, the operator script.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "app/app_host.h"
#include "app/command_line.h"
#include "app/operator_script.h"
#include "app/startup.h"
#include "app/ui_tables.h"
#include "test_support.h"

namespace ovix {
namespace {

namespace fs = std::filesystem;

TEST(AppStartup, FailureMessages) {
  using Kind = StartupFailure::Kind;
  const struct {
    Kind kind;
    const char *subject, *reason, *message;
  } cases[] = {
      {Kind::InvalidPort, "X9", "",
       "Portul serial COM=X9 (cheia COM din /p/OVIX.INI) nu poate fi folosit: numar de port "
       "invalid."},
      {Kind::PortNotOpened, "/dev/ttyS0", "Permission denied",
       "Portul serial /dev/ttyS0 (cheia COM din /p/OVIX.INI) nu poate fi deschis: Permission "
       "denied"},
      {Kind::LogNotWritten, "/s/LOG.OVX", "No space",
       "Jurnalul /s/LOG.OVX (cheia BONDIR din /p/OVIX.INI) nu poate fi scris: No space"},
  };
  for (const auto& c : cases) {
    const StartupFailure failure = MakeStartupFailure(c.kind, c.subject, "/p/OVIX.INI", c.reason);
    EXPECT_EQ(failure.kind, c.kind);
    EXPECT_EQ(failure.message, c.message);
  }
}

// A front end that records its primitives and answers prompts from a script.
class FakeHost : public AppHost {
 public:
  std::string calls;
  std::deque<bool> noAnswer;
  std::deque<PaymentAnswer> payment;
  std::function<void()> duringPrompt;  // runs while a prompt is up

  void AddTrayIcon(const std::string&) override { calls += "tray "; }
  void OnMenuAbout() override { calls += "about "; }
  void OnMenuExit() override { calls += "exit "; }
  void SetTrayIcon(TrayPicture) override {}
  void SetTimerEnabled(bool) override {}
  void ShowPrintErrorDialog(const std::string&) override {}
  void EndProgramNow() override {}
  using AppHost::OnPostedLook;
  using AppHost::OnSpoolChange;

 protected:
  void StartTimers() override { calls += "start "; }
  void StopTimers() override { calls += "timers "; }
  bool StartWatch(const std::string&, std::string*) override { return true; }
  void StopWatch() override { calls += "watch "; }
  bool PostLook() override { return calls += "look ", true; }
  void RemoveTray() override { calls += "icon "; }
  void CloseExitConfirmation() override { calls += "confirmation "; }
  void FinishOpenPrompts() override { calls += "prompts "; }
  void QuitEventLoop() override { calls += "quit "; }
  bool ShowNoAnswerBox() override { return Next(noAnswer); }
  PaymentAnswer ShowPaymentQuestion(const std::string&) override { return Next(payment); }

 private:
  template <class T>
  T Next(std::deque<T>& answers) {
    calls += "prompt ";
    if (duringPrompt) std::exchange(duringPrompt, nullptr)();
    const T answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

// A host with an idle spool over a fake register.
struct HostRig {
  fs::path root =
      fs::temp_directory_path() /
      (std::string("ovix-app-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
  DriverSettings settings = [this] {
    fs::create_directories(root);
    DriverSettings s;
    s.BONDIR = root.string() + "/";
    return s;
  }();
  test::LinkRig rig;
  EventLog log{SystemEnv(), (root / "LOG.OVX").string()};
  FakeHost host;
  SpoolScheduler spool{
      SystemEnv(), settings, rig.link, log, host, rig.reg, [] { return std::string(); }};
  HostRig() { host.Attach(&spool); }
  ~HostRig() { fs::remove_all(root); }
};

TEST(AppHost, ExitOrder) {
  FakeHost host;
  host.RunExitSequence();
  EXPECT_EQ(host.calls, "timers watch icon confirmation prompts timers quit ");
  EXPECT_TRUE(host.MainUnloaded());
}

// Cancel in the no-answer box runs the exit sequence, and an exit request
// overrides it; a payment question closed without an answer comes back until
// it gets one or the exit comes.
TEST(AppHost, PromptRules) {
  using A = PaymentAnswer;
  const struct {
    bool exit, payment;
    std::deque<bool> noAnswer;
    std::deque<A> answers;
    bool result;
    int shown;
    bool unloaded;
  } cases[] = {
      {false, false, {true}, {}, true, 1, false},
      {false, false, {false}, {}, true, 1, true},
      {true, false, {false}, {}, true, 1, false},
      {false, true, {}, {A::Yes}, true, 1, false},
      {false, true, {}, {A::No}, false, 1, false},
      {false, true, {}, {A::NotShown}, false, 1, false},
      {false, true, {}, {A::NoAnswer, A::NoAnswer, A::Yes}, true, 3, false},
      {true, true, {}, {A::NoAnswer, A::Yes}, false, 1, false},
  };
  for (const auto& c : cases) {
    HostRig rig;
    if (c.exit) rig.spool.RequestExit();
    rig.host.noAnswer = c.noAnswer;
    rig.host.payment = c.answers;
    const bool result =
        c.payment ? rig.host.AskReceiptComplete("a.txt") : rig.host.AskContinueWithoutRegister();
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(
        c.noAnswer.size() + c.answers.size() - rig.host.noAnswer.size() - rig.host.payment.size(),
        std::size_t(c.shown));
    EXPECT_EQ(rig.host.MainUnloaded(), c.unloaded);
  }
}

// Cancel in the no-answer box during a job ends the driver in order: the exit
// sequence runs while the tick does, and the tick, once over, unloads the
// main window, so the stop line is due; the file stays in the spool.
TEST(AppHost, NoAnswerCancelEndsInOrder) {
  HostRig rig;
  rig.rig.reg.answer = [](const Bytes&) { return std::optional<Bytes>(); };
  rig.host.noAnswer = {false};
  std::ofstream(rig.root / "a.txt") << "PAINE ALBA           0001.000 00000450 01";
  rig.spool.Tick();
  rig.spool.Tick();
  EXPECT_EQ(rig.host.calls, "prompt timers watch icon confirmation prompts timers quit ");
  EXPECT_TRUE(rig.host.MainUnloaded());
  EXPECT_FALSE(rig.spool.TickRunning());
  EXPECT_TRUE(fs::exists(rig.root / "a.txt"));
}

// An exit is taken back only while the running tick has not acted on it:
// asked during the receipt's lines, the receipt is printed and the driver
// runs on with its timers and icon; once a query's wait was released, a
// command failed during the exit, or a prompt was ended by it, the tick ends
// the program.
TEST(AppHost, WithdrawExit) {
  const struct {
    int exitAt;      // the command during whose wait the exit comes; 0: at the no-answer box
    int withdrawAt;  // the command during whose wait it is taken back; 0: at the box, -1: after
    bool silent;     // the register answers nothing from the exit's command on
    bool withdrawn;
  } cases[] = {
      {4, 6, false, true},
      {1, -1, false, false},
      {5, -1, true, false},
      {0, 0, true, false},
  };
  for (const auto& c : cases) {
    HostRig rig;
    fs::create_directories(rig.root / "ok");
    rig.settings.OKDIR = (rig.root / "ok").string() + "/";
    int sent = 0;
    bool withdrawn = false;
    rig.rig.reg.answer = [&](const Bytes&) -> std::optional<Bytes> {
      ++sent;
      if (sent == c.exitAt) rig.rig.reg.duringWait = [&] { rig.host.RunExitSequence(); };
      if (sent == c.withdrawAt)
        rig.rig.reg.duringWait = [&] { withdrawn = rig.host.WithdrawExit(); };
      if (c.silent && sent >= std::max(c.exitAt, 1)) return std::nullopt;
      return test::ReplyData();
    };
    rig.host.noAnswer = {true};
    rig.host.duringPrompt = [&] {
      rig.host.RunExitSequence();
      withdrawn = rig.host.WithdrawExit();
    };
    std::ofstream(rig.root / "a.txt") << "PAINE ALBA           0001.000 00000450 01\r\n<\r\n";
    rig.spool.Tick();
    rig.spool.Tick();
    if (c.withdrawAt < 0) withdrawn = rig.host.WithdrawExit();
    EXPECT_EQ(withdrawn, c.withdrawn);
    EXPECT_EQ(rig.host.MainUnloaded(), !c.withdrawn);
    EXPECT_EQ(fs::exists(rig.root / "ok" / "a.txt"), c.withdrawn);
    EXPECT_EQ(rig.host.calls.find("start tray") != std::string::npos, c.withdrawn);
    std::ifstream in(rig.root / "LOG.OVX", std::ios::binary);
    const std::string log{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(log.find("-> OPRIREA CERUTA A FOST RETRASA\r\n") != std::string::npos, c.withdrawn);
    EXPECT_EQ(log.find("-> Sfirsit tiparire") != std::string::npos, c.withdrawn);
  }
}

// Changes that ask for a look post one until it has run.
TEST(AppHost, SpoolChangePostsOneLook) {
  HostRig rig;
  rig.host.StartTimer();
  rig.host.calls.clear();
  rig.host.OnSpoolChange(SpoolChange::Arrived, "a.txt");
  rig.host.OnSpoolChange(SpoolChange::Arrived, "b.txt");
  EXPECT_EQ(rig.host.calls, "look ");
  rig.host.OnPostedLook();
  rig.host.OnSpoolChange(SpoolChange::Arrived, "c.txt");
  EXPECT_EQ(rig.host.calls, "look look ");
}

// The command line: --help and --version answer, a front end's options and
// their values are taken, anything else is refused with the help.
TEST(AppCommandLine, AnswersTakesOrRefuses) {
  using V = ExtraOption::Value;
  const std::vector<ExtraOption> extras = {{"--stop", V::Optional, "--stop [DIR]", "  --stop\n"},
                                           {"-style", V::Required, "", ""},
                                           {"-reverse", V::None, "", ""}};
  const struct {
    std::vector<std::string> args;
    std::optional<int> status;
    const char* out;  // the beginning of standard output
    const char* err;  // the beginning of standard error
  } cases[] = {
      {{}, std::nullopt, "", ""},
      {{"--stop"}, std::nullopt, "", ""},
      {{"--stop", "C:\\P"}, std::nullopt, "", ""},
      {{"-style", "fusion", "-reverse", "-style=x"}, std::nullopt, "", ""},
      {{"--version", "--bogus"}, 0, "ovixnova 9.9.9\n", ""},
      {{"-reverse", "--help"}, 0, "Utilizare: ovixnova [--help | --version | --stop [DIR]]\n", ""},
      {{"--bogus", "--help"}, 2, "", "ovixnova: optiune necunoscuta: --bogus\n\nUtilizare: "},
      {{"--stop", "C:\\P", "x"}, 2, "", "ovixnova: optiune necunoscuta: x\n"},
      {{"--stop", "--style"}, 2, "", "ovixnova: optiune necunoscuta: --style\n"},
      {{"-style"}, std::nullopt, "", ""},
  };
  for (const auto& c : cases) {
    const CommandLineAnswer answer = ReadCommandLine(c.args, extras, "ovixnova 9.9.9\n");
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.out.rfind(c.out, 0), 0u) << answer.out;
    EXPECT_EQ(answer.err.rfind(c.err, 0), 0u) << answer.err;
    EXPECT_EQ(answer.out.empty(), std::string(c.out).empty());
    EXPECT_EQ(answer.err.empty(), std::string(c.err).empty());
  }
  const std::string help = HelpText(extras);
  for (const char* part : {"  --help ", "  --version ", "  --stop\n", "OVIX.INI", "iesire 2."})
    EXPECT_NE(help.find(part), std::string::npos) << part;
}

TEST(AppTables, ErrorButtonsAndTexts) {
  EXPECT_EQ(ui::ButtonCount(ui::kPrintErrorDialog), 3);
  EXPECT_EQ(ui::ErrorChoiceOfButton(0), ErrorChoice::Retry);
  EXPECT_EQ(ui::ErrorChoiceOfButton(1), ErrorChoice::CancelReceipt);
  EXPECT_EQ(ui::ErrorChoiceOfButton(2), ErrorChoice::GiveUp);
  EXPECT_EQ(ui::NoAnswerText("\r"),
            "Casa de marcat nu raspunde !!\rLIPSA HIRTIE SAU INCHISA !!\r\r"
            "INTRODUCETI HIRTIE SAU DESCHIDETI CASA !!\r\rCONTINUARE APLICATIE ??");
  // The payment question takes no key but Alt + a mnemonic and leaves the
  // focus where it is; the no-answer box keeps the keys of a message box.
  const ui::PromptLayout &box = ui::kNoAnswerBox, &question = ui::kPaymentQuestion;
  EXPECT_TRUE(box.keysAnswer && box.activates && box.escapePressesFirst && !box.mnemonics);
  EXPECT_TRUE(!question.keysAnswer && !question.activates && !question.escapePressesFirst);
  EXPECT_EQ(
      ui::ButtonCaption(question, question.first) + ui::ButtonCaption(question, question.second),
      "&Da&Nu");
}

// Records the answers the script gives.
class FakeHands : public OperatorHands {
 public:
  std::string pressed;
  bool up = true;  // the windows are shown
  bool CloseAbout() override { return Press("close-about"); }
  bool AnswerNoAnswerBox(bool ok) override { return Press(ok ? "ok" : "cancel"); }
  bool AnswerPaymentQuestion(bool yes) override { return Press(yes ? "yes" : "no"); }
  bool PressErrorButton(int index) override { return Press("button" + std::to_string(index)); }
  bool CloseErrorDialog() override { return Press("close"); }

 private:
  bool Press(const std::string& what) {
    if (up) pressed += what + " ";
    return up;
  }
};

TEST(AppOperatorScript, ActionsReachTheirWindows) {
  const struct {
    const char* line;
    const char* host;
    const char* hands;
  } cases[] = {
      {"ok", "", "ok "},
      {" cancel\r", "", "cancel "},
      {"yes", "", "yes "},
      {"no", "", "no "},
      {"retry", "", "button0 "},
      {"cancel-receipt", "", "button1 "},
      {"give-up", "", "button2 "},
      {"close", "", "close "},
      {"close-about", "", "close-about "},
      {"about", "about ", ""},
      {"clear", "", ""},
      {"bogus", "", ""},
      {"exit", "timers watch icon confirmation prompts timers quit ", ""},
  };
  for (const auto& c : cases) {
    FakeHost host;
    FakeHands hands;
    const bool done = ApplyOperatorAction(ParseOperatorAction(c.line), host, hands);
    EXPECT_EQ(host.calls, c.host) << c.line;
    EXPECT_EQ(hands.pressed, c.hands) << c.line;
    EXPECT_EQ(done, std::string(c.line) != "bogus") << c.line;
  }
}

// A line counts once it is complete; an action waits until its window is up.
TEST(AppOperatorScript, StepsThroughCompleteLines) {
  const fs::path path = fs::temp_directory_path() / "ovix-app-script.txt";
  std::ofstream(path, std::ios::binary) << "ok\nretry";
  OperatorScript script(path.string());
  FakeHost host;
  FakeHands hands;
  hands.up = false;
  script.Step(host, hands);
  hands.up = true;
  for (int i = 0; i < 3; ++i) script.Step(host, hands);
  EXPECT_EQ(hands.pressed, "ok ");
  std::ofstream(path, std::ios::binary | std::ios::app) << "\n";
  script.Step(host, hands);
  EXPECT_EQ(hands.pressed, "ok button0 ");
  fs::remove(path);
}

}  // namespace
}  // namespace ovix
