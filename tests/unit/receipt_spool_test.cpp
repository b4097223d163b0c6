#include "spool/spool_scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "spool/spool_files.h"
#include "test_support.h"

namespace ovix {
namespace {

using namespace test;
namespace fs = std::filesystem;

// The program around the spool, with an operator who answers from a script.
class ScriptedHost : public DriverHost {
 public:
  SpoolScheduler* spool = nullptr;
  std::vector<int> icons;
  bool timerEnabled = true;
  std::deque<bool> messageBoxAnswers;             // OK = true
  std::deque<std::optional<ErrorChoice>> dialog;  // nullopt: closed without a button
  std::function<void()> duringDialog;
  std::deque<bool> paymentAnswers;  // "Da" = true
  int endedAtOnce = 0;
  int unloaded = 0;
  bool canWatch = true;
  int watches = 0;
  bool followsSpool = true;

  void SetTrayIcon(TrayPicture picture) override { icons.push_back(static_cast<int>(picture)); }
  void SetTimerEnabled(bool enabled) override { timerEnabled = enabled; }
  bool AskContinueWithoutRegister() override {
    bool ok = messageBoxAnswers.front();
    messageBoxAnswers.pop_front();
    return ok;
  }
  void ShowPrintErrorDialog(const std::string&) override {
    auto choice = dialog.front();
    dialog.pop_front();
    if (choice) spool->OnErrorDialogButton(*choice);
  }
  bool WatchSpool(const std::string&, std::string* reason) override {
    if (!canWatch) *reason = "nu merge";
    watches += canWatch;
    return canWatch;
  }
  bool WatchFollowsSpool() override { return followsSpool; }
  bool AskReceiptComplete(const std::string&) override {
    bool yes = paymentAnswers.front();
    paymentAnswers.pop_front();
    return yes;
  }
  void EndProgramNow() override { ++endedAtOnce; }
  void UnloadMain() override { ++unloaded; }
};

// The spool, OK and error directories under `root`.
DriverSettings SettingsIn(const fs::path& root) {
  DriverSettings settings;
  settings.BONDIR = (root / "spool").string() + "/";
  settings.OKDIR = (root / "ok").string() + "/";
  settings.ERRDIR = (root / "err").string() + "/";
  return settings;
}

struct SpoolRig {
  fs::path root =
      fs::temp_directory_path() /
      ("ovix-spool-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
       ::testing::UnitTest::GetInstance()->current_test_info()->name());
  DriverSettings settings = SettingsIn(root);
  LinkRig rig;
  EventLog log{SystemEnv(), (root / "spool" / "LOG.OVX").string()};
  ScriptedHost host;
  SpoolScheduler spool{SystemEnv(),
                       settings,
                       rig.link,
                       log,
                       host,
                       rig.reg,
                       [] { return std::string("DATE - TIME"); }};
  // What the register answers: status byte of S replies and of A replies
  // (per key command, by index), byte-6 value, second status, firmware.
  unsigned char statusS = 0;
  int byte6 = 1;
  unsigned char second = 0;
  int major = 5, minor = 7;
  std::function<unsigned char(const Bytes& keys)> statusA = [](const Bytes&) { return 0; };
  bool silent = false;
  std::function<bool(const Bytes& body)> mute = [](const Bytes&) { return false; };
  // The receipts the register carried out; with modelStatus its status
  // reply's byte 6 follows them instead of `byte6`.
  RegisterModel model;
  bool modelStatus = false;

  SpoolRig() {
    fs::remove_all(root);
    fs::create_directories(root / "spool");
    host.spool = &spool;
    rig.reg.answer = [this](const Bytes& body) -> std::optional<Bytes> {
      if (silent) return std::nullopt;
      const unsigned char status = body[0] == 'A' ? statusA(body.substr(1)) : 0;
      if (body[0] == 'A' && (status & 0x0C) == 0) model.CarryOut(body.substr(1));
      if (mute(body)) return std::nullopt;  // carried out, but the reply is lost
      if (body == "T") return IdentificationReply(major, minor);
      const char b6 = modelStatus ? model.Byte6() : char(byte6);
      if (body == "S") return Bytes{'S', char(statusS), char(second), 0, 0, b6, 0, 0};
      return ReplyData(status, second);
    };
  }
  ~SpoolRig() { fs::remove_all(root); }

  void Drop(const std::string& name, const std::string& content) {
    std::ofstream(root / "spool" / name, std::ios::binary) << content;
  }
  // Ticks until a job has run (a file is taken on its second sighting).
  void Ticks(int n = 2) {
    for (int i = 0; i < n; ++i) spool.Tick();
  }
  std::vector<std::string> Log() {
    std::vector<std::string> lines;
    std::ifstream in(log.Path(), std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      EXPECT_TRUE(!line.empty() && line.back() == '\r') << line;
      if (!line.empty()) line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }
  // The command bodies sent, as "T", "S" or the hex of an A command's keys.
  std::vector<std::string> Sent() {
    std::vector<std::string> out;
    for (const Bytes& b : rig.reg.Bodies()) out.push_back(b[0] == 'A' ? Hex(b.substr(1)) : b);
    rig.reg.frames.clear();
    return out;
  }
  bool In(const std::string& dir, const std::string& name) { return fs::exists(root / dir / name); }
  // Another driver on the same disk and register, as after a restart.
  std::unique_ptr<SpoolScheduler> Restarted() {
    return std::make_unique<SpoolScheduler>(SystemEnv(), settings, rig.link, log, host, rig.reg,
                                            [] { return std::string(); });
  }
  std::string Path(const std::string& name) { return settings.BONDIR + name; }
};

using Cmds = std::vector<std::string>;
const std::string kItem = "PAINE ALBA           0001.000 00000450 01";
const Cmds kItemKeys = {"2A", Hex(Bytes("\x13\x14") + "PAINE ALBA          " + "\x31"),
                        "0A 0A 01 1B", "04 0D 05 0A 4B"};

Cmds Concat(std::initializer_list<Cmds> parts) {
  Cmds all;
  for (const Cmds& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(ReceiptSpool, PrintsAReceiptAndFilesIt) {
  SpoolRig r;
  r.Drop("bon1.txt", "  " + kItem + "  \r\n\r\n   \r\n<\r\n");
  r.spool.Tick();
  EXPECT_TRUE(r.Sent().empty());  // taken only once it stopped changing
  r.spool.Tick();
  EXPECT_EQ(r.Sent(), Concat({{"T", "S"}, kItemKeys, {"31"}}));
  EXPECT_TRUE(r.In("ok", "bon1.txt"));
  EXPECT_FALSE(r.In("spool", "bon1.txt"));
  EXPECT_EQ(r.Log(), (Cmds{"-> Inceput tiparire: " + r.Path("bon1.txt"),
                           "-> Sfirsit tiparire: " + r.Path("bon1.txt") +
                               "; Mutare in directorul " + r.settings.OKDIR}));
  EXPECT_EQ(r.host.icons, (std::vector<int>{103, 102}));
  EXPECT_TRUE(r.host.timerEnabled);
}

TEST(ReceiptSpool, KeysNumbersByFirmwareAndChecksStatusBeforeTheReceipt) {
  const struct {
    int major, minor, byte6;
    unsigned char statusS, second;
    Cmds before;  // commands between the status query and the receipt
    std::string totalKeys;
  } cases[] = {
      {5, 7, 1, 0x00, 0, {}, "05 0A 0D 0A 0A 31"},
      {5, 6, 1, 0x00, 0, {}, "05 0A 0A 0A 31"},
      {6, 0, 1, 0x00, 0, {}, "05 0A 0D 0A 0A 31"},
      {5, 7, 0, 0x00, 0, {"0F"}, "05 0A 0D 0A 0A 31"},
      {5, 7, 0, 0xF3, 0, {"0F"}, "05 0A 0D 0A 0A 31"},
      {5, 7, 1, 0x08, 0, {"00", "0F"}, "05 0A 0D 0A 0A 31"},
      {5, 7, 1, 0x14, 3, {"00", "0F", "00", "3A", "31"}, "05 0A 0D 0A 0A 31"},
  };
  for (const auto& c : cases) {
    SpoolRig r;
    r.major = c.major, r.minor = c.minor, r.byte6 = c.byte6, r.statusS = c.statusS;
    r.second = c.second;
    r.Drop("a.TXT", "<5000");
    r.Ticks();
    EXPECT_EQ(r.Sent(), Concat({{"T", "S"}, c.before, {c.totalKeys}}))
        << c.major << "." << c.minor << " byte6=" << c.byte6 << " status=" << int(c.statusS);
    EXPECT_TRUE(r.In("ok", "a.TXT"));
  }
}

TEST(ReceiptSpool, SilentRegisterTakesTheNoAnswerPath) {
  for (bool ok : {true, false}) {
    SpoolRig r;
    r.silent = true;
    r.host.messageBoxAnswers = {ok};
    r.Drop("a.txt", kItem);
    r.Ticks();
    EXPECT_EQ(r.Sent(), Cmds{"T"});
    EXPECT_TRUE(r.In("spool", "a.txt"));
    EXPECT_EQ(r.host.endedAtOnce, ok ? 0 : 1);
    Cmds log{"-> ERROR: LIPSA HIRTIE SAU CASA INCHISA !!"};
    if (ok) log.push_back("\t-> RE-INCERCARE...");
    EXPECT_EQ(r.Log(), log);
    const std::vector<int> icons =
        ok ? std::vector<int>{103, 104, 102} : std::vector<int>{103, 104};
    EXPECT_EQ(r.host.icons, icons);
    EXPECT_EQ(r.host.timerEnabled, ok);
  }
}

// The register stays silent through three no-answer boxes, each answered OK:
// the same file is tried each time, and printed once the register answers.
TEST(ReceiptSpool, TheNoAnswerBoxComesBackUntilTheRegisterAnswers) {
  SpoolRig r;
  r.silent = true;
  r.host.messageBoxAnswers = {true, true, true};
  r.Drop("a.txt", "<");
  r.Ticks(4);
  EXPECT_EQ(r.Sent(), (Cmds{"T", "T", "T"}));
  EXPECT_TRUE(r.host.messageBoxAnswers.empty());
  r.silent = false;
  r.Ticks(2);
  EXPECT_EQ(r.Sent(), (Cmds{"T", "S", "31"}));
  EXPECT_TRUE(r.In("ok", "a.txt"));
  const Cmds log = r.Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "\t-> RE-INCERCARE..."), 3);
}

// A file of the same name in the OK directory is replaced by the printed one.
TEST(ReceiptSpool, AFileOfTheSameNameInTheOkDirectoryIsReplaced) {
  SpoolRig r;
  fs::create_directories(r.root / "ok");
  std::ofstream(r.root / "ok" / "a.txt") << "an older receipt";
  r.Drop("a.txt", "<");
  r.Ticks();
  EXPECT_EQ(ReadLines(SystemEnv(), r.settings.OKDIR + "a.txt", nullptr),
            std::vector<std::string>{"<"});
  EXPECT_FALSE(r.In("spool", "a.txt"));
}

// A receipt whose payment was under way when the driver stopped, and whose
// file is gone or was replaced at the next start: what was left open on the
// register is voided, and the log does not claim that the receipt itself was
// (its payment may have closed it).
TEST(ReceiptSpool, ARecoveredPaymentWithoutItsFileClaimsNoVoid) {
  for (bool replaced : {false, true}) {
    SpoolRig r;
    if (replaced) r.Drop("a.txt", "<");
    r.Drop("OVIXNOVA.JOB", "PAYING 1:2:3 a.txt\n");
    r.spool.RecoverInterruptedJob();
    r.Ticks(4);
    const Cmds sent = r.Sent();
    EXPECT_EQ(Cmds(sent.begin(), sent.begin() + 7), (Cmds{"T", "S", "00", "0F", "00", "3A", "31"}));
    EXPECT_EQ(r.Log().at(1), "-> EROARE !! FISIERUL " + r.Path("a.txt") +
                                 (replaced ? " A FOST INLOCUIT CU ALT FISIER" : " NU MAI EXISTA") +
                                 "; BONUL ERA LA PLATA; CE ERA DESCHIS PE CASA A FOST ANULAT");
    EXPECT_TRUE(r.host.paymentAnswers.empty());
    EXPECT_EQ(r.In("ok", "a.txt"), replaced);
    EXPECT_FALSE(r.In("spool", "OVIXNOVA.JOB"));
  }
}

// An item fails; the operator's answer and what the next tick does with it.
TEST(ReceiptSpool, ErrorDialogOutcomesAreCarriedOut) {
  const struct {
    std::optional<ErrorChoice> choice;
    Cmds dialogLog;
    Cmds nextTick;
    const char* fileAfterNextTick;
  } cases[] = {
      {ErrorChoice::Retry,
       {"\t-> RE-INCEARCA..."},
       Concat({{"T", "S", "00", "0F", "00", "3A", "31"}, kItemKeys, {"31"}}),
       "ok"},
      {ErrorChoice::CancelReceipt, {"\t-> ANULARE BON..."}, {"T", "S", "00", "0F"}, "err"},
      {ErrorChoice::GiveUp,
       {"\t-> RENUNTARE...", "-> EROARE !! MUTARE {} IN DIRECTORUL {err}"},
       {},
       "err"},
      {std::nullopt, {}, Concat({{"T", "S"}, kItemKeys, {"31"}}), "ok"},
  };
  for (const auto& c : cases) {
    SpoolRig r;
    int sent = 0;
    r.statusA = [&](const Bytes&) -> unsigned char { return ++sent == 3 ? 0x08 : 0x00; };
    r.host.dialog = {c.choice};
    r.Drop("a.txt", kItem + "\r\n<\r\n");
    r.Ticks();
    EXPECT_EQ(r.Sent(), (Cmds{"T", "S", kItemKeys[0], kItemKeys[1], kItemKeys[2]}));
    Cmds log{"-> Inceput tiparire: " + r.Path("a.txt"),
             "-> EROARE LA TIPARIRE BON " + r.Path("a.txt") + " !!!"};
    for (std::string line : c.dialogLog) {
      if (auto at = line.find("{}"); at != std::string::npos) line.replace(at, 2, r.Path("a.txt"));
      if (auto at = line.find("{err}"); at != std::string::npos)
        line.replace(at, 5, r.settings.ERRDIR);
      log.push_back(line);
    }
    EXPECT_EQ(r.Log(), log);
    EXPECT_EQ(r.host.icons, (std::vector<int>{103, 104, 102}));
    r.Ticks();
    EXPECT_EQ(r.Sent(), c.nextTick);
    EXPECT_TRUE(r.In(c.fileAfterNextTick, "a.txt"));
    EXPECT_EQ(r.spool.OperatorDecision(), Decision::None);
    if (c.choice == ErrorChoice::CancelReceipt) {
      EXPECT_EQ(r.Log().back(), "-> EROARE !!  FISIERUL" + r.Path("a.txt") +
                                    " ANULAT SI MUTAT IN DIRECTORUL" + r.settings.ERRDIR);
    }
  }
}

// A decision is carried out only once the register has answered the status
// query and every key of the decision; until then it waits for the same file.
TEST(ReceiptSpool, DecisionsWaitForTheRegistersAnswer) {
  const Cmds retry{"00", "0F", "00", "3A", "31"};
  const struct {
    ErrorChoice choice;
    const char* muted;  // bodies the register leaves unanswered on the first tick after the dialog
    Cmds firstTick;
    Cmds secondTick;
    const char* place;
  } cases[] = {
      {ErrorChoice::CancelReceipt, "S", {"T", "S"}, {"T", "S", "00", "0F"}, "err"},
      {ErrorChoice::CancelReceipt, "A\x0F", {"T", "S", "00", "0F"}, {"T", "S", "00", "0F"}, "err"},
      {ErrorChoice::Retry, "S", {"T", "S"}, Concat({{"T", "S"}, retry, kItemKeys}), "ok"},
      {ErrorChoice::Retry, "A\x3A", Concat({{"T", "S"}, retry}),
       Concat({{"T", "S"}, retry, kItemKeys}), "ok"},
  };
  for (const auto& c : cases) {
    SpoolRig r;
    bool failing = true;
    r.statusA = [&](const Bytes& keys) -> unsigned char {
      return failing && keys[0] == 0x13 ? 0x08 : 0x00;
    };
    r.host.dialog = {c.choice};
    r.host.messageBoxAnswers = {true};
    r.Drop("a.txt", kItem);
    r.Ticks();
    r.Sent();
    failing = false;
    r.mute = [&](const Bytes& body) { return body == c.muted; };
    r.spool.Tick();
    EXPECT_EQ(r.Sent(), c.firstTick) << c.muted;
    EXPECT_TRUE(r.In("spool", "a.txt"));
    EXPECT_EQ(r.Log().back(), "\t-> RE-INCERCARE...");
    r.mute = [](const Bytes&) { return false; };
    r.spool.Tick();
    EXPECT_EQ(r.Sent(), c.secondTick) << c.muted;
    EXPECT_TRUE(r.In(c.place, "a.txt")) << c.muted;
    EXPECT_EQ(r.spool.OperatorDecision(), Decision::None);
  }
}

// A credit payment is judged by its own reply: carried out, it closes the
// receipt even after an earlier line failed (the log names that line);
// refused, the receipt failed. A payment without a reply is in doubt: the
// operator says from the paper whether the receipt came out ("Da": filed as
// printed) or not ("Nu": voided and printed again).
TEST(ReceiptSpool, PaymentOutcomes) {
  const struct {
    const char* file;
    const char* refused;  // keys the register refuses
    const char* muted;    // keys it leaves unanswered, once
    std::deque<bool> answers;
    Cmds sent;  // by the first job and the one after it
    const char* place;
    const char* logLine;  // the second line of the log; {} is the file
  } cases[] = {
      {"+\r\n?\r\n",
       "32",
       "",
       {},
       {"T", "S", "45", "32"},
       "err",
       "-> EROARE LA TIPARIRE BON {} !!!"},
      {"+\r\n?\r\n",
       "45",
       "",
       {},
       {"T", "S", "45", "32"},
       "ok",
       "-> ATENTIE !! LINIA 1 (+) A BONULUI {} A ESUAT; BONUL A FOST INCHIS PRIN PLATA PE CREDIT"},
      {"+\r\n?\r\n",
       "",
       "32",
       {true},
       {"T", "S", "45", "32"},
       "ok",
       "-> PLATA NECONFIRMATA: BONUL {} A IESIT COMPLET DIN CASA DE MARCAT ??"},
      {"+\r\n<\r\n",
       "",
       "31",
       {false},
       {"T", "S", "45", "31", "T", "S", "00", "0F", "00", "3A", "31", "45", "31"},
       "ok",
       "-> PLATA NECONFIRMATA: BONUL {} A IESIT COMPLET DIN CASA DE MARCAT ??"},
  };
  for (const auto& c : cases) {
    SpoolRig r;
    const Bytes refused = H(c.refused);
    r.statusA = [&](const Bytes& keys) -> unsigned char { return keys == refused ? 0x08 : 0x00; };
    r.mute = [&, muted = H(c.muted)](const Bytes& body) mutable {
      if (muted.empty() || body != "A" + muted) return false;
      muted.clear();
      return true;
    };
    r.host.dialog = {ErrorChoice::GiveUp};
    r.host.paymentAnswers = c.answers;
    r.Drop("a.txt", c.file);
    r.Ticks(3);
    EXPECT_EQ(r.Sent(), c.sent) << c.file << c.refused << c.muted;
    EXPECT_TRUE(r.In(c.place, "a.txt")) << c.file << c.refused << c.muted;
    std::string line = c.logLine;
    line.replace(line.find("{}"), 2, r.Path("a.txt"));
    EXPECT_EQ(r.Log().at(1), line);
    EXPECT_FALSE(r.In("spool", "OVIXNOVA.JOB"));
  }
}

// A line that fails before the payment keeps the payment from being sent:
// the receipt stays open on the register, and each answer of the dialog
// leaves it paid once at most. A line that fails after the payment was
// carried out does not make the receipt be sent again.
TEST(ReceiptSpool, AFailedLineIsNeverFollowedByAPayment) {
  const struct {
    std::string lines;    // after the item
    const char* refused;  // keys refused once
    const char* muted;    // keys left unanswered once
    ErrorChoice choice;
    const char* place;
    std::size_t paid;     // receipts closed on the register
    const char* logLine;  // the second line of the log; {} is the file
  } cases[] = {
      {"#500\r\n<", "05 0D 0A 0A 21", "", ErrorChoice::Retry, "ok", 1,
       "-> EROARE !! LINIA 2 (#500) A BONULUI {} A ESUAT; PLATA NU SE MAI TRIMITE"},
      {"#500\r\n<", "05 0D 0A 0A 21", "", ErrorChoice::CancelReceipt, "err", 0, nullptr},
      {"#500\r\n<", "05 0D 0A 0A 21", "", ErrorChoice::GiveUp, "err", 0, nullptr},
      {"+\r\n@", "", "45", ErrorChoice::Retry, "ok", 1,
       "-> EROARE !! LINIA 2 (+) A BONULUI {} A ESUAT; PLATA NU SE MAI TRIMITE"},
      {"+\r\n<", "", "45", ErrorChoice::CancelReceipt, "err", 0, nullptr},
      {"+\r\n<", "", "45", ErrorChoice::GiveUp, "err", 0, nullptr},
      {"<\r\n=MULTUMIM", "13 0A 03 02 4D 55 4C 54 55 4D 49 4D 38", "", ErrorChoice::Retry, "ok", 1,
       "-> ATENTIE !! LINIA 3 (=MULTUMIM) A BONULUI {} A ESUAT DUPA PLATA; BONUL NU SE TRIMITE "
       "DIN NOU"},
      {"<\r\n<", "", "31", ErrorChoice::Retry, "ok", 1, nullptr},
  };
  for (const auto& c : cases) {
    SpoolRig r;
    r.modelStatus = true;
    auto once = [](const char* hex) {
      return [keys = H(hex)](const Bytes& got) mutable {
        if (keys.empty() || got != keys) return false;
        keys.clear();
        return true;
      };
    };
    r.statusA = [fail = once(c.refused)](const Bytes& keys) mutable -> unsigned char {
      return fail(keys) ? 0x08 : 0x00;
    };
    r.mute = [m = once(c.muted)](const Bytes& body) mutable { return m(body.substr(1)); };
    r.host.dialog = {c.choice};
    r.host.paymentAnswers = {true};
    r.Drop("a.txt", kItem + "\r\n" + c.lines + "\r\n");
    r.Ticks(4);
    const std::string what = c.lines + " " + std::to_string(static_cast<int>(c.choice));
    EXPECT_TRUE(r.In(c.place, "a.txt")) << what;
    EXPECT_EQ(r.model.closed.size(), c.paid) << what;
    EXPECT_FALSE(r.In("spool", "OVIXNOVA.JOB")) << what;
    if (c.logLine) {
      std::string line = c.logLine;
      line.replace(line.find("{}"), 2, r.Path("a.txt"));
      EXPECT_EQ(r.Log().at(1), line) << what;
    }
  }
}

// A clearing never cuts in while a receipt file waits: one not yet stable, one
// that failed and waits for its retry.
TEST(ReceiptSpool, ClearingWaitsForEveryWaitingFile) {
  SpoolRig r;
  r.statusA = [](const Bytes& keys) -> unsigned char { return keys[0] == 0x13 ? 0x08 : 0x00; };
  r.host.dialog = {ErrorChoice::Retry};
  r.spool.RequestClearing();
  r.Drop("a.txt", kItem);
  r.spool.Tick();  // a.txt seen once: not stable yet
  EXPECT_TRUE(r.Sent().empty());
  r.spool.Tick();  // a.txt fails; the operator asks for a retry
  r.statusA = [](const Bytes&) -> unsigned char { return 0; };
  r.Sent();
  r.spool.Tick();
  EXPECT_EQ(r.Sent(), Concat({{"T", "S", "00", "0F", "00", "3A", "31"}, kItemKeys}));
  r.spool.Tick();
  EXPECT_EQ(r.Sent(), (Cmds{"11 45 31", "0F"}));
}

TEST(ReceiptSpool, HandlesSpecialFiles) {
  const struct {
    std::string content;
    Cmds sent;
    const char* place;  // where the file is afterwards; nullptr: deleted
    std::string firstLog;
  } cases[] = {
      {"-\r\n1 0004350 EUR\r\n\r\n",
       {"T", "S", "12", "08 45 31", "01 31 01 31", "04 03 0D 05 0A 31", "02 31",
        "13 03 45 55 52 31 32 32 32"},
       nullptr,
       "-> Programare Valute: "},
      {"-only the marker", {}, nullptr, "-> Programare Valute: {} FARA VALUTE; FISIER STERS"},
      {"", {}, "err", "-> EROARE !! FISIERUL GOL {} MUTAT IN DIRECTORUL {err}"},
      {"  \r\n\r\n", {}, "err", "-> EROARE !! FISIERUL GOL {} MUTAT IN DIRECTORUL {err}"},
      {"?\r\nnever read", {"T", "S", "32"}, "ok", "-> Inceput tiparire: {}"},
      // A description that begins with blanks: the line loses them, so every
      // column after it is read two places further left.
      {"  CAFEA              0001.000 00000450 01\r\n<",
       {"T", "S", "2A", Hex(Bytes("\x13\x14") + "CAFEA" + std::string(14, ' ') + "0\x31"),
        "01 00 0A 1B", "04 05 0A 0D 00 0A 4A", "31"},
       "ok",
       "-> Inceput tiparire: {}"},
      {"-1\r\n<",
       {"T", "S", "2A", Hex(Bytes("\x13\x02-1\x31")), "0A 1B", "0A 0D 0A 0A 4A", "31"},
       "ok",
       "-> Inceput tiparire: {}"},
  };
  for (const auto& c : cases) {
    SpoolRig r;
    r.settings.CHPROGVAL = c.content.rfind("-1", 0) == 0 ? "=" : "-";
    r.Drop("f.txt", c.content);
    r.Ticks();
    EXPECT_EQ(r.Sent(), c.sent) << c.content;
    EXPECT_FALSE(r.In("spool", "f.txt")) << c.content;
    if (c.place) {
      EXPECT_TRUE(r.In(c.place, "f.txt")) << c.content;
    }
    std::string first = c.firstLog;
    if (auto at = first.find("{}"); at != std::string::npos) first.replace(at, 2, r.Path("f.txt"));
    if (auto at = first.find("{err}"); at != std::string::npos)
      first.replace(at, 5, r.settings.ERRDIR);
    EXPECT_EQ(r.Log().at(0), first) << c.content;
  }
}

TEST(ReceiptSpool, TakesOneFilePerTickAndSkipsWhatIsNotAJob) {
  SpoolRig r;
  r.Drop("a.txt", "<");
  r.Drop("b.TxT", "<");
  r.Drop("c.doc", "<");
  r.Drop(".hidden.txt", "<");
  r.Drop("LOG.OVX", "");
  r.Drop("TRACE.OVX", "");
  r.Drop("OVIXNOVA.JOB", "");
  r.settings.EXTENSIE = "*.*";
  fs::create_directory(r.root / "spool" / "dir.txt");
  // Windows makes symbolic links only with a privilege: there a refusal leaves the link out.
  std::error_code noLink;
  fs::create_symlink(r.root / "spool" / "c.doc", r.root / "spool" / "link.txt", noLink);
#ifndef _WIN32
  ASSERT_FALSE(noLink) << noLink.message();
#endif
  r.spool.Tick();
  r.spool.Tick();
  EXPECT_EQ(r.Sent().size(), 3u);
  for (int i = 0; i < 6; ++i) r.spool.Tick();
  for (const char* name : {"a.txt", "b.TxT", "c.doc"}) EXPECT_TRUE(r.In("ok", name)) << name;
  for (const char* name : {".hidden.txt", "LOG.OVX", "TRACE.OVX"})
    EXPECT_TRUE(r.In("spool", name)) << name;
  EXPECT_FALSE(r.In("ok", "OVIXNOVA.JOB"));
  EXPECT_TRUE(noLink || fs::is_symlink(r.root / "spool" / "link.txt"));
}

// With the directory watched, the timer runs only while something waits for
// a look; a file renamed in is taken on the first look, one written in place
// only on two timer looks, and a look a change asks for never stands in for
// the timer's look of a file written in place.
TEST(ReceiptSpool, AWatchedSpoolLooksOnlyWhenSomethingChanged) {
  SpoolRig r;
  r.spool.StartWatching();
  const auto change = [&](SpoolChange c, const std::string& name, bool lookWanted) {
    EXPECT_EQ(r.spool.OnSpoolChange(c, name), lookWanted) << name;
    if (lookWanted) r.spool.Look();
  };
  r.spool.Tick();
  EXPECT_FALSE(r.host.timerEnabled);  // empty spool: no wake-ups
  change(SpoolChange::Changed, ".a.txt.part", false);
  change(SpoolChange::Changed, "LOG.OVX", false);
  r.Drop("a.txt", "<");
  change(SpoolChange::Arrived, "a.txt", true);
  EXPECT_TRUE(r.In("ok", "a.txt"));  // renamed in: taken at once
  r.spool.Tick();
  EXPECT_FALSE(r.host.timerEnabled);

  r.Drop("b.txt", "<");  // written in place, still open
  change(SpoolChange::Changed, "b.txt", true);
  EXPECT_TRUE(r.host.timerEnabled);
  r.Drop("b.txt", kItem + "\r\n<");
  change(SpoolChange::Changed, "b.txt", false);
  r.Drop("c.txt", "<");
  change(SpoolChange::Arrived, "c.txt", true);
  EXPECT_TRUE(r.In("ok", "c.txt"));
  EXPECT_TRUE(r.In("spool", "b.txt"));  // the arrival's look did not count for it
  r.spool.Tick();
  EXPECT_TRUE(r.In("spool", "b.txt"));  // changed since the first look
  r.spool.Tick();
  EXPECT_TRUE(r.In("ok", "b.txt"));

  r.Drop("d.txt", "<");  // renamed in, then written again
  change(SpoolChange::Arrived, "d.txt", true);
  EXPECT_TRUE(r.In("ok", "d.txt"));
  r.Drop("e.txt", "<");
  EXPECT_TRUE(r.spool.OnSpoolChange(SpoolChange::Arrived, "e.txt"));
  change(SpoolChange::Changed, "e.txt", false);
  r.spool.Look();
  EXPECT_TRUE(r.In("spool", "e.txt"));
  r.Ticks();
  EXPECT_TRUE(r.In("ok", "e.txt"));
  r.spool.Tick();
  EXPECT_FALSE(r.host.timerEnabled);
  r.spool.RequestClearing();
  EXPECT_TRUE(r.host.timerEnabled);
  EXPECT_EQ(r.Log().size(), 10u);  // five receipts, the clearing not yet

  r.spool.OnWatchFailed("directorul a disparut");
  r.spool.OnWatchFailed("directorul a disparut");
  r.Ticks(3);
  EXPECT_TRUE(r.host.timerEnabled);  // back to the 100 ms looks
  const Cmds log = r.Log();
  EXPECT_EQ(Cmds(log.begin() + 10, log.end()),
            (Cmds{"-> DIRECTORUL " + r.settings.BONDIR +
                      " NU POATE FI SUPRAVEGHEAT (directorul a disparut); FISIERELE SE CAUTA LA "
                      "FIECARE 100 ms",
                  "-> EFECTUARE STERGERE: DATE - TIME"}));
  r.Drop("f.txt", "<");
  EXPECT_FALSE(r.spool.OnSpoolChange(SpoolChange::Arrived, "f.txt"));
  r.spool.Tick();
  EXPECT_TRUE(r.In("spool", "f.txt"));
}

// A watched spool never leaves a file waiting for a notification that does
// not come: a file renamed in while its writer still has it open waits for
// the writer; a tick that filed a file without sending anything looks again;
// the safety look finds files no event told of, and watches a replaced or
// lost directory anew.
TEST(ReceiptSpool, NoFileWaitsForAnEventThatNeverComes) {
  SpoolRig r;
  r.spool.StartWatching();
  r.spool.Tick();
  const auto settle = [&] {
    for (int i = 0; i < 8 && r.host.timerEnabled; ++i) r.spool.Tick();
  };
#ifndef _WIN32
  r.Drop("w.txt", "");
  const int writer = ::open((r.root / "spool" / "w.txt").c_str(), O_WRONLY);
  ASSERT_TRUE(r.spool.OnSpoolChange(SpoolChange::Arrived, "w.txt"));
  r.spool.Look();
  r.spool.Tick();
  r.spool.Tick();
  EXPECT_TRUE(r.In("spool", "w.txt"));  // empty and still open: not taken
  EXPECT_TRUE(r.host.timerEnabled);
  EXPECT_EQ(r.Log().at(0), "-> FISIERUL " + r.Path("w.txt") +
                               " ESTE INCA DESCHIS PENTRU SCRIERE; SE ASTEAPTA INCHIDEREA");
  ASSERT_EQ(::write(writer, "<\r\n", 3), 3);
  ::close(writer);
  settle();
  EXPECT_TRUE(r.In("ok", "w.txt"));
  EXPECT_EQ(r.Sent(), (Cmds{"T", "S", "31"}));
#endif
  std::ofstream(r.root / "err") << "not a directory";
  r.Drop("e.txt", "");
  r.Drop("r.txt", "<");
  EXPECT_TRUE(r.spool.OnSpoolChange(SpoolChange::Arrived, "e.txt"));
  r.spool.OnSpoolChange(SpoolChange::Arrived, "r.txt");
  r.spool.Look();
  settle();
  EXPECT_TRUE(r.In("ok", "r.txt"));
  EXPECT_TRUE(r.In("spool", "e.txt"));
  EXPECT_FALSE(r.host.timerEnabled);

  const std::size_t logged = r.Log().size();
  r.Drop("s.txt", "<");  // no event
  r.spool.SafetyLook();
  settle();
  EXPECT_TRUE(r.In("ok", "s.txt"));
  r.host.followsSpool = false;
  r.spool.SafetyLook();
  r.spool.OnWatchFailed("directorul a fost mutat");
  r.spool.SafetyLook();
  EXPECT_EQ(r.host.watches, 3);
  const Cmds log = r.Log();
  EXPECT_EQ(
      Cmds(log.begin() + logged + 2, log.end()),
      (Cmds{"-> DIRECTORUL " + r.settings.BONDIR + " A FOST INLOCUIT; ESTE SUPRAVEGHEAT DIN NOU",
            "-> DIRECTORUL " + r.settings.BONDIR +
                " NU POATE FI SUPRAVEGHEAT (directorul a fost mutat); FISIERELE SE CAUTA LA "
                "FIECARE 100 ms",
            "-> DIRECTORUL " + r.settings.BONDIR + " ESTE SUPRAVEGHEAT DIN NOU"}));
}

// "Anuleaza bon" that the silent register kept from being carried out, the
// file removed and a new sale written under its name: the old receipt is
// voided on the register and the new one printed, not filed as cancelled.
TEST(ReceiptSpool, ADecisionBelongsToAFileNotToItsName) {
  SpoolRig r;
  r.statusA = [](const Bytes& keys) -> unsigned char { return keys[0] == 0x13 ? 0x08 : 0x00; };
  r.host.dialog = {ErrorChoice::CancelReceipt};
  r.host.messageBoxAnswers = {true};
  r.Drop("BON.TXT", kItem + "\r\n<\r\n");
  r.Ticks();
  r.silent = true;
  r.spool.Tick();
  r.Sent();
  fs::remove(r.root / "spool" / "BON.TXT");
  r.Drop("BON.TXT", "+\r\n<\r\n");
  r.silent = false;
  r.statusA = [](const Bytes&) -> unsigned char { return 0; };
  r.Ticks(4);
  EXPECT_EQ(r.Sent(), (Cmds{"T", "S", "00", "0F", "T", "S", "45", "31"}));
  EXPECT_TRUE(r.In("ok", "BON.TXT"));
  EXPECT_FALSE(r.In("err", "BON.TXT"));
  const Cmds log = r.Log();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "-> EROARE !! FISIERUL " + r.Path("BON.TXT") +
                          " A FOST INLOCUIT CU ALT FISIER; BONUL NETERMINAT A FOST ANULAT PE CASA"),
            log.end());
}

TEST(ReceiptSpool, WithoutAWatchTheTimerLooksAsBefore) {
  SpoolRig r;
  r.host.canWatch = false;
  r.spool.StartWatching();
  r.Ticks(3);
  EXPECT_TRUE(r.host.timerEnabled);
  EXPECT_EQ(r.Log(), (Cmds{"-> DIRECTORUL " + r.settings.BONDIR +
                           " NU POATE FI SUPRAVEGHEAT (nu merge); FISIERELE SE CAUTA LA FIECARE "
                           "100 ms"}));
}

TEST(ReceiptSpool, ClearingWaitsForAnIdleTick) {
  SpoolRig r;
  r.silent = true;
  r.spool.RequestClearing();
  r.spool.RequestClearing();
  const auto start = r.rig.reg.now;
  r.spool.Tick();
  EXPECT_EQ(r.Sent(), (Cmds{"11 45 31", "0F"}));
  EXPECT_GT(r.rig.reg.now - start, 18s);
  EXPECT_EQ(int(r.rig.link.JobError()), 0);
  EXPECT_FALSE(r.spool.ClearRequested());
  EXPECT_EQ(r.Log(), Cmds{"-> EFECTUARE STERGERE: DATE - TIME"});
  r.spool.Tick();
  EXPECT_TRUE(r.Sent().empty());
}

TEST(ReceiptSpool, ExitDuringTheQueriesLeavesTheFileUnprinted) {
  SpoolRig r;
  r.silent = true;
  r.rig.reg.duringWait = [&] { r.spool.RequestExit(); };
  r.Drop("a.txt", "<");
  r.Ticks();
  EXPECT_EQ(r.Sent(), Cmds{"T"});
  EXPECT_EQ(r.host.unloaded, 1);
  EXPECT_TRUE(r.In("spool", "a.txt"));
  EXPECT_TRUE(r.Log().empty());
}

TEST(ReceiptSpool, ExitDuringTheLinesFinishesTheReceiptOrStopsOnAFailure) {
  for (bool failing : {false, true}) {
    SpoolRig r;
    r.statusA = [&](const Bytes& keys) -> unsigned char {
      if (keys == "\x2A") r.spool.RequestExit();
      return failing && keys[0] == 0x13 ? 0x08 : 0x00;
    };
    r.Drop("a.txt", kItem + "\r\n<");
    r.Ticks();
    EXPECT_EQ(r.host.unloaded, 1);
    EXPECT_TRUE(r.In(failing ? "spool" : "ok", "a.txt"));
    EXPECT_EQ(r.Sent().size(), failing ? 4u : 7u);
    EXPECT_EQ(r.Log().back().rfind(failing ? "-> EROARE LA TIPARIRE BON" : "-> Sfirsit", 0), 0u);
  }
}

// A printed receipt that the OK directory refuses is never printed again nor
// put with the receipts to print again: it waits in the spool, its entry
// saying it is printed, until a safety look finds the OK directory working.
TEST(ReceiptSpool, APrintedReceiptThatCannotBeFiledWaitsForTheOkDirectory) {
  SpoolRig r;
  std::ofstream(r.root / "ok") << "a file where the directory should be";
  r.Drop("a.txt", "<");
  r.Ticks(6);
  r.spool.SafetyLook();
  EXPECT_EQ(r.Sent(), (Cmds{"T", "S", "31"}));
  EXPECT_TRUE(r.In("spool", "a.txt"));
  EXPECT_FALSE(fs::exists(r.root / "err"));
  EXPECT_EQ(r.Log().back().rfind("-> EROARE !! MUTARE " + r.Path("a.txt") + " IN DIRECTORUL " +
                                     r.settings.OKDIR + " ESUATA: ",
                                 0),
            0u);
  EXPECT_EQ(r.Log().size(), 2u);  // the failure is logged once
  EXPECT_EQ(ReadLines(SystemEnv(), r.settings.BONDIR + "OVIXNOVA.JOB", nullptr)
                ->at(0)
                .rfind("PRINTED ", 0),
            0u);
  fs::remove(r.root / "ok");
  r.spool.SafetyLook();
  EXPECT_TRUE(r.In("ok", "a.txt"));
  EXPECT_EQ(r.Log().back(), "-> Sfirsit tiparire: " + r.Path("a.txt") + "; Mutare in directorul " +
                                r.settings.OKDIR);
  EXPECT_FALSE(r.In("spool", "OVIXNOVA.JOB"));
  r.Drop("a.txt", "<");  // the name is free again
  r.Ticks();
  EXPECT_EQ(r.Sent(), (Cmds{"T", "S", "31"}));
}

// A crash or power cut: the journal left in the spool directory decides what
// the next start does for each entry, whatever the order of the entries. A
// record of an older driver (a name without identity) still counts; an entry
// whose file was replaced by another of its name voids its receipt and lets
// the new file print.
TEST(ReceiptSpool, RecoversFromAnInterruptedJob) {
  const struct {
    const char* journal;  // {a}: the identity of a.txt as dropped
    std::deque<bool> answers;
    Cmds sent;           // by the first ticks after the start
    const char* places;  // of a.txt and b.txt
    const char* log;     // the first log line; {} is a.txt
  } cases[] = {
      {"PRINTED a.txt\n",
       {},
       {"T", "S", "31"},
       "ok ok",
       "-> RECUPERARE: BONUL {} A FOST TIPARIT INAINTE DE OPRIRE"},
      {"PRINTED {a} a.txt\nPRINTED - b.txt\n",
       {},
       {},
       "ok ok",
       "-> RECUPERARE: BONUL {} A FOST TIPARIT INAINTE DE OPRIRE"},
      {"PRINTING a.txt\n",
       {},
       {"T", "S", "00", "0F", "00", "3A", "31", "31", "T", "S", "31"},
       "ok ok",
       "-> RECUPERARE: BONUL {} A FOST INTRERUPT; SE ANULEAZA PE CASA SI SE TIPARESTE DIN NOU"},
      {"CANCEL {a} a.txt\n",
       {},
       {"T", "S", "00", "0F", "T", "S", "31"},
       "err ok",
       "-> RECUPERARE: BONUL {} A FOST ANULAT; SE ANULEAZA PE CASA SI SE MUTA IN DIRECTORUL {err}"},
      {"GIVENUP {a} a.txt\n",
       {},
       {"T", "S", "31"},
       "err ok",
       "-> RECUPERARE: BONUL {} NU SE MAI TIPARESTE; SE MUTA IN DIRECTORUL {err}"},
      {"PAYING {a} a.txt\n",
       {true},
       {"T", "S", "31"},
       "ok ok",
       "-> RECUPERARE: BONUL {} ERA LA PLATA LA OPRIRE; SE INTREABA OPERATORUL"},
      {"PAYING {a} a.txt\n",
       {false},
       {"T", "S", "00", "0F", "00", "3A", "31", "31", "T", "S", "31"},
       "ok ok",
       "-> RECUPERARE: BONUL {} ERA LA PLATA LA OPRIRE; SE INTREABA OPERATORUL"},
      // The cancelled a.txt was removed and a new sale written under its name.
      {"CANCEL 1:2:3 a.txt\n",
       {},
       {"T", "S", "00", "0F", "T", "S", "31", "T", "S", "31"},
       "ok ok",
       "-> RECUPERARE: BONUL {} A FOST ANULAT; SE ANULEAZA PE CASA SI SE MUTA IN DIRECTORUL {err}"},
  };
  for (const auto& c : cases) {
    SpoolRig r;
    r.Drop("a.txt", "<");
    r.Drop("b.txt", "<");
    std::string journal = c.journal;
    if (auto at = journal.find("{a}"); at != std::string::npos) {
      const auto modified = fs::last_write_time(r.root / "spool" / "a.txt");
      const FileIdentity id = IdentityOf("<", modified.time_since_epoch().count());
      const std::string line = FormatJournalLine({"x", id, JobState::Printed});  // PRINTED id x
      journal.replace(at, 3, line.substr(8, line.size() - 10));
    }
    r.Drop("OVIXNOVA.JOB", journal);
    r.host.paymentAnswers = c.answers;
    r.spool.RecoverInterruptedJob();
    r.Ticks(6);
    EXPECT_EQ(r.Sent(), c.sent) << c.journal;
    EXPECT_EQ(std::string(r.In("ok", "a.txt")    ? "ok"
                          : r.In("err", "a.txt") ? "err"
                                                 : "spool") +
                  (r.In("ok", "b.txt") ? " ok" : " not ok"),
              c.places)
        << c.journal;
    std::string first = c.log;
    first.replace(first.find("{}"), 2, r.Path("a.txt"));
    if (auto at = first.find("{err}"); at != std::string::npos)
      first.replace(at, 5, r.settings.ERRDIR);
    EXPECT_EQ(r.Log().at(0), first) << c.journal;
    EXPECT_FALSE(r.In("spool", "OVIXNOVA.JOB")) << c.journal;
  }
}

// The journal keeps an entry for every receipt whose outcome is not carried
// out, so that what the disk refused now a restart finishes: two printed
// receipts that no directory took are filed, not printed again; a cancelled
// one that could not be moved is filed, not printed.
TEST(ReceiptSpool, OutcomesTheDiskRefusedAreFinishedByARestart) {
  const struct {
    const char* blocked;  // directories made unusable for the first run
    std::optional<ErrorChoice> choice;
    Cmds sent;  // by the first run
  } cases[] = {
      {"ok err", std::nullopt, {"T", "S", "31", "T", "S", "31"}},
      {"err", ErrorChoice::CancelReceipt, {"T", "S", "31", "T", "S", "00", "0F", "T", "S", "31"}},
  };
  for (const auto& c : cases) {
    SpoolRig r;
    const std::string blocked = c.blocked;
    for (const char* dir : {"ok", "err"})
      if (blocked.find(dir) != std::string::npos) std::ofstream(r.root / dir) << "not a directory";
    bool refuse = c.choice.has_value();
    r.statusA = [&](const Bytes& keys) -> unsigned char {
      return std::exchange(refuse, false) && keys == "\x31" ? 0x08 : 0x00;
    };
    r.host.dialog = {c.choice};
    r.Drop("a.txt", "<");
    r.Ticks(4);
    r.Drop("b.txt", "<");
    r.Ticks(4);
    EXPECT_EQ(r.Sent(), c.sent) << c.blocked;
    for (const char* dir : {"ok", "err"})
      if (!fs::is_directory(r.root / dir)) fs::remove(r.root / dir);
    const std::unique_ptr<SpoolScheduler> restarted = r.Restarted();
    restarted->RecoverInterruptedJob();
    for (int i = 0; i < 4; ++i) restarted->Tick();
    EXPECT_EQ(r.Sent(), Cmds{}) << c.blocked;
    EXPECT_TRUE(r.In(c.choice ? "err" : "ok", "a.txt")) << c.blocked;
    EXPECT_FALSE(r.In("spool", "OVIXNOVA.JOB")) << c.blocked;
  }
}

// The journal follows the operator's decision and holds any name; a restart
// carries the decision out on the same file. The log shows the name's control
// characters escaped, so a name cannot forge a log line.
TEST(ReceiptSpool, KeepsTheRecordWhileAFailedReceiptWaits) {
#ifdef _WIN32
  const std::string name = "a.txt", logged = "a.txt";
#else
  const std::string name = "a\r\n\\b.txt", logged = "a\\x0D\\x0A\\b.txt";
#endif
  const struct {
    std::optional<ErrorChoice> choice;
    JobState state;
    Cmds restartSends;
  } cases[] = {{std::nullopt, JobState::Printing,
                Concat({{"T", "S", "00", "0F", "00", "3A", "31"}, kItemKeys})},
               {ErrorChoice::Retry, JobState::Printing,
                Concat({{"T", "S", "00", "0F", "00", "3A", "31"}, kItemKeys})},
               {ErrorChoice::CancelReceipt, JobState::Cancelled, {"T", "S", "00", "0F"}}};
  for (const auto& c : cases) {
    SpoolRig r;
    r.statusA = [](const Bytes& keys) -> unsigned char { return keys[0] == 0x13 ? 0x08 : 0x00; };
    r.host.dialog = {c.choice};
    r.Drop(name, kItem);
    r.Ticks();
    Journal journal(SystemEnv(), (r.root / "spool" / "OVIXNOVA.JOB").string());
    std::string error;
    ASSERT_TRUE(journal.Load(&error));
    ASSERT_EQ(journal.Entries().size(), 1u);
    EXPECT_EQ(journal.Entries()[0].name, name);
    EXPECT_EQ(journal.Entries()[0].state, c.state);
    EXPECT_EQ(r.Log().at(0), "-> Inceput tiparire: " + r.settings.BONDIR + logged);
    r.Sent();
    r.statusA = [](const Bytes&) -> unsigned char { return 0; };
    const std::unique_ptr<SpoolScheduler> restarted = r.Restarted();
    restarted->RecoverInterruptedJob();
    restarted->Tick();
    EXPECT_EQ(r.Sent(), c.restartSends);
  }
}

// A file that cannot be read is left alone for 5 s of the spool's clock, then
// tried again from a fresh look.
TEST(ReceiptSpool, AnUnreadableFileIsTriedAgainAfterFiveSeconds) {
#ifdef _WIN32
  GTEST_SKIP() << "no file this test can make unreadable";
#else
  SpoolRig r;
  r.Drop("a.txt", "<");
  r.Drop("LOG.OVX", "");
  fs::permissions(r.root / "spool" / "LOG.OVX", fs::perms::all);
  fs::permissions(r.root / "spool" / "a.txt", fs::perms::none);
  const bool root = ::geteuid() == 0;  // root reads every file: read as nobody
  ASSERT_EQ(root ? ::seteuid(65534) : 0, 0);
  r.Ticks();
  ASSERT_EQ(root ? ::seteuid(0) : 0, 0);
  fs::permissions(r.root / "spool" / "a.txt", fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(
      r.Log().at(0).rfind("-> EROARE !! FISIERUL " + r.Path("a.txt") + " NU POATE FI CITIT: ", 0),
      0u);
  r.rig.reg.now += 5s - 1ns;
  r.Ticks();
  EXPECT_TRUE(r.Sent().empty());
  r.rig.reg.now += 1ns;
  r.Ticks();
  EXPECT_EQ(r.Sent(), (Cmds{"T", "S", "31"}));
#endif
}

TEST(ReceiptSpool, AClosedPortIsReopenedByTheNextJob) {
  SpoolRig r;
  r.rig.reg.openable = false;
  r.host.messageBoxAnswers = {true, true};
  r.spool.OnPortError("read failed");
  r.Drop("a.txt", "<");
  r.Ticks();
  r.spool.Tick();  // the same file again at once, without a second look
  EXPECT_TRUE(r.Sent().empty());
  EXPECT_EQ(r.Log(), (Cmds{"-> EROARE PORT SERIAL 1: read failed",
                           "-> ERROR: LIPSA HIRTIE SAU CASA INCHISA !!", "\t-> RE-INCERCARE...",
                           "-> ERROR: LIPSA HIRTIE SAU CASA INCHISA !!", "\t-> RE-INCERCARE..."}));
  r.rig.reg.openable = true;
  r.spool.Tick();
  EXPECT_EQ(r.Sent(), (Cmds{"T", "S", "31"}));
  EXPECT_EQ(r.Log().at(5), "-> PORT SERIAL 1 FUNCTIONEAZA DIN NOU");
}

}  // namespace
}  // namespace ovix
