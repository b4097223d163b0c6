// Every point of a receipt's life, one by one: each call the driver makes to
// the file system and each command it sends to the register is a point.
// A scenario runs once to count its points; then, at every point k, the
// driver crashes (and, separately, the power is cut, losing what was not
// flushed) and a fresh driver starts on the same disk and register, or
// point k fails once and the same driver goes on. Whatever happens, the
// receipt must end paid once and in the OK directory, or not paid at all and
// in the error directory, with no journal entry left.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fault_env.h"
#include "spool/spool_scheduler.h"
#include "test_support.h"

namespace ovix {
namespace {

using namespace test;
namespace fs = std::filesystem;

// How a point is disturbed. At a file point a failure is a system error; at
// a command it is the command lost on the line (never carried out), its reply
// lost (carried out), or the command refused.
enum class Disturbance { None, Crash, PowerCut, FailFirst, FailSecond, FailThird };

struct Scenario {
  const char* name;
  std::string content;      // the job file
  const char* refusedOnce;  // keys the register refuses the first time (hex), or ""
  ErrorChoice firstAnswer;  // the operator's answer to the first error dialog
  bool currency = false;    // a currency programming: deleted, nothing paid
  bool okBlocked = false;   // OKDIR is unusable for the first looks
  bool errAllowed = false;  // the receipt may end in ERRDIR, not paid
};

const std::string kItem = "PAINE ALBA           0001.000 00000450 01";

const Scenario kScenarios[] = {
    {"plain", kItem + "\r\n<\r\n", "", ErrorChoice::Retry},
    {"refused-retry", kItem + "\r\n#200\r\n<\r\n", "02 0D 0A 0A 21", ErrorChoice::Retry},
    {"refused-cancel", kItem + "\r\n#200\r\n<\r\n", "02 0D 0A 0A 21", ErrorChoice::CancelReceipt,
     false, false, true},
    {"refused-give-up", kItem + "\r\n#200\r\n<\r\n", "02 0D 0A 0A 21", ErrorChoice::GiveUp, false,
     false, true},
    {"cancelled-item", kItem + "\r\n<\r\n", "2A", ErrorChoice::CancelReceipt, false, false, true},
    {"currency", "-\r\n1 0004350 EUR\r\n", "", ErrorChoice::Retry, true},
    {"ok-refusing", kItem + "\r\n<\r\n", "", ErrorChoice::Retry, false, true},
};

// The system's files without their flushes to the disk, which the FaultEnv
// above it models and which would only slow thousands of runs down.
class NoFlushEnv : public EnvWrapper {
 public:
  NoFlushEnv() : EnvWrapper(SystemEnv()) {}
  std::unique_ptr<WritableFile> NewWritableFile(const fs::path& path, std::string* error) override {
    return Wrap(Target().NewWritableFile(path, error));
  }
  std::unique_ptr<WritableFile> NewAppendableFile(const fs::path& path,
                                                  std::string* error) override {
    return Wrap(Target().NewAppendableFile(path, error));
  }
  bool SyncFile(const fs::path&, std::string*) override { return true; }
  bool SyncDirectory(const fs::path&, std::string*) override { return true; }

 private:
  class File : public WritableFile {
   public:
    explicit File(std::unique_ptr<WritableFile> file) : file_(std::move(file)) {}
    bool Append(std::string_view bytes, std::string* error) override {
      return file_->Append(bytes, error);
    }
    bool Sync(std::string*) override { return true; }
    bool Close(std::string* error) override { return file_->Close(error); }

   private:
    std::unique_ptr<WritableFile> file_;
  };
  static std::unique_ptr<WritableFile> Wrap(std::unique_ptr<WritableFile> file) {
    if (!file) return nullptr;
    return std::make_unique<File>(std::move(file));
  }
};

// Where a scenario's job file ended.
struct End {
  std::string place;   // "ok", "err", "spool", "gone" or "several"
  std::size_t paid;    // receipts the register closed
  bool journal;        // OVIXNOVA.JOB is still there
  std::size_t points;  // of the first driver's run
  std::vector<std::string> labels;
};

// The operator: OK in the no-answer box, the scenario's answer to the first
// error dialog and "Re-incearca" to any later one, and the paper's word to the
// payment question.
class Operator : public DriverHost {
 public:
  Operator(ErrorChoice first, const RegisterModel& model) : next_(first), model_(model) {}
  SpoolScheduler* spool = nullptr;

  void SetTrayIcon(TrayPicture) override {}
  void SetTimerEnabled(bool) override {}
  bool AskContinueWithoutRegister() override { return true; }
  bool AskReceiptComplete(const std::string&) override { return !model_.closed.empty(); }
  void ShowPrintErrorDialog(const std::string&) override {
    spool->OnErrorDialogButton(next_);
    next_ = ErrorChoice::Retry;
  }
  void EndProgramNow() override {}
  void UnloadMain() override {}

 private:
  ErrorChoice next_;
  const RegisterModel& model_;
};

// One run of the driver as a process: its own line to the register, whose
// commands are points of the FaultEnv, so that a dead process reaches the
// register no more than the disk.
struct Process {
  Process(FaultEnv& env, const DriverSettings& settings, RegisterModel& model, Bytes& refuse,
          const Scenario& sc, std::size_t lostReplyAt, std::size_t refusedAt)
      : op(sc.firstAnswer, model),
        log(env, settings.BONDIR + "LOG.OVX"),
        spool(env, settings, rig.link, log, op, rig.reg, [] { return std::string("DATE"); }) {
    op.spool = &spool;
    rig.reg.answer = [&env, &model, &refuse, lostReplyAt,
                      refusedAt](const Bytes& body) -> std::optional<Bytes> {
      const Bytes keys = body.substr(1);
      if (!env.Step("serial " + (body[0] == 'A' ? Hex(keys) : body), nullptr))
        return std::nullopt;  // a dead process, or the command lost on the line
      const std::size_t k = env.Count();
      if (body == "T") return IdentificationReply();
      if (body == "S") return Bytes{'S', 0, 0, 0, 0, model.Byte6(), 0, 0};
      const bool refused = k == refusedAt || (!refuse.empty() && keys == refuse);
      if (!refuse.empty() && keys == refuse) refuse.clear();
      if (!refused) model.CarryOut(keys);
      if (k == lostReplyAt) return std::nullopt;
      return ReplyData(refused ? 0x08 : 0x00);
    };
  }

  LinkRig rig;
  Operator op;
  EventLog log;
  SpoolScheduler spool;
};

class FaultPoints {
 public:
  FaultPoints(const Scenario& sc, const fs::path& root) : sc_(sc), root_(root) {
    settings_.BONDIR = (root / "spool").string() + "/";
    settings_.OKDIR = (root / "ok").string() + "/";
    settings_.ERRDIR = (root / "err").string() + "/";
  }

  // The scenario with point k disturbed (none when k is 0).
  End Run(std::size_t k, Disturbance how, const std::vector<std::string>& labels) {
    fs::remove_all(root_);
    fs::create_directories(root_ / "spool");
    if (sc_.okBlocked) std::ofstream(root_ / "ok") << "not a directory";
    std::ofstream(root_ / "spool" / "a.txt", std::ios::binary) << sc_.content;
    FaultEnv env(disk_);
    RegisterModel model;
    Bytes refuse = H(sc_.refusedOnce);  // once for the register, whichever process sends it
    const bool serial = k > 0 && labels.at(k - 1).rfind("serial ", 0) == 0;
    if (how == Disturbance::Crash || how == Disturbance::PowerCut) env.CrashAt(k);
    const Fault faults[] = {Fault::Io, Fault::NoSpace, Fault::Access};
    if (how >= Disturbance::FailFirst && (!serial || how == Disturbance::FailFirst))
      env.FailOnce(k, faults[static_cast<int>(how) - static_cast<int>(Disturbance::FailFirst)]);
    const std::size_t lostReplyAt = serial && how == Disturbance::FailSecond ? k : 0;
    const std::size_t refusedAt = serial && how == Disturbance::FailThird ? k : 0;
    End end{};
    {
      Process first(env, settings_, model, refuse, sc_, lostReplyAt, refusedAt);
      Drive(first, env);
      end.points = env.Count();
      end.labels = env.Points();
    }
    if (env.Crashed()) {
      if (how == Disturbance::PowerCut) env.DropUnsyncedData();
      env.Revive();
      Process restarted(env, settings_, model, refuse, sc_, 0, 0);
      Drive(restarted, env);
    }
    end.place = Place();
    end.paid = model.closed.size();
    end.journal = fs::exists(root_ / "spool" / std::string(kJournalFileName));
    return end;
  }

 private:
  // Starts the process and runs its looks until the job file has left the
  // spool with nothing left to do, the process died, or enough time passed.
  void Drive(Process& p, FaultEnv& env) {
    p.spool.RecoverInterruptedJob();
    for (int look = 0; look < 40 && !env.Crashed(); ++look) {
      if (look == 6 && fs::is_regular_file(root_ / "ok")) fs::remove(root_ / "ok");
      p.spool.Tick();
      p.spool.SafetyLook();
      p.rig.reg.now += 1s;
      if (Place() != "spool" && !fs::exists(root_ / "spool" / std::string(kJournalFileName)))
        return;
    }
  }
  std::string Place() const {
    std::vector<std::string> places;
    for (const char* dir : {"spool", "ok", "err"})
      if (fs::is_regular_file(root_ / dir / "a.txt")) places.push_back(dir);
    if (places.empty()) return "gone";
    return places.size() == 1 ? places[0] : "several";
  }

  const Scenario& sc_;
  fs::path root_;
  DriverSettings settings_;
  NoFlushEnv disk_;
};

TEST(FaultPoints, EveryPointOfAReceiptsLife) {
  const fs::path root =
      fs::temp_directory_path() /
      ("ovix-points-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  const char* howNames[] = {"none", "crash", "power cut", "fail 1", "fail 2", "fail 3"};
  for (const Scenario& sc : kScenarios) {
    FaultPoints points(sc, root);
    const End clean = points.Run(0, Disturbance::None, {});
    std::size_t serial = 0;
    for (const std::string& label : clean.labels) serial += label.rfind("serial ", 0) == 0;
    std::printf(
        "[ points   ] %-16s %3zu points (%3zu file operations, %2zu commands): %3zu crashes, "
        "%3zu power cuts, %3zu errors\n",
        sc.name, clean.points, clean.points - serial, serial, clean.points, clean.points,
        3 * clean.points);
    // OVIX_POINTS_DUMP=1 lists the points of each scenario, to find the one a failure names.
    if (std::getenv("OVIX_POINTS_DUMP"))
      for (std::size_t i = 0; i < clean.labels.size(); ++i)
        std::printf("  %zu %s\n", i + 1, clean.labels[i].c_str());
    for (std::size_t k = 1; k <= clean.points; ++k) {
      for (Disturbance how : {Disturbance::Crash, Disturbance::PowerCut, Disturbance::FailFirst,
                              Disturbance::FailSecond, Disturbance::FailThird}) {
        const End end = points.Run(k, how, clean.labels);
        const std::string what = std::string(sc.name) + ", " + howNames[static_cast<int>(how)] +
                                 " at " + std::to_string(k) + " (" + clean.labels[k - 1] + ")";
        EXPECT_FALSE(end.journal) << what;
        if (sc.currency) {
          EXPECT_EQ(end.place, "gone") << what;
          EXPECT_EQ(end.paid, 0u) << what;
          continue;
        }
        EXPECT_TRUE(end.place == "ok" || (sc.errAllowed && end.place == "err"))
            << what << ": " << end.place;
        EXPECT_EQ(end.paid, end.place == "ok" ? 1u : 0u) << what << ": in " << end.place;
      }
    }
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace ovix
