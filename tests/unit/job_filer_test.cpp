#include "spool/job_filer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fault_env.h"
#include "test_support.h"

namespace ovix {
namespace {

using namespace test;
namespace fs = std::filesystem;

// An earlier run's journal: the entries whose receipts were printed or given
// up are filed (or forgotten when their file is gone); the others are handed
// back for the register, in their order.
TEST(JobFiler, RecoversAnEarlierRunsJournal) {
  const fs::path root = fs::temp_directory_path() / "ovix-filer-recover";
  fs::remove_all(root);
  fs::create_directories(root / "spool");
  DriverSettings settings;
  settings.BONDIR = (root / "spool").string() + "/";
  settings.OKDIR = (root / "ok").string() + "/";
  settings.ERRDIR = (root / "err").string() + "/";
  const struct {
    const char* name;
    JobState state;
    const char* place;  // where the file is afterwards; "" when it was never there
  } cases[] = {
      {"p.txt", JobState::Printed, "ok"},     {"g.txt", JobState::GivenUp, "err"},
      {"x.txt", JobState::Printed, ""},       {"c.txt", JobState::Cancelled, "spool"},
      {"i.txt", JobState::Printing, "spool"}, {"y.txt", JobState::Paying, "spool"},
  };
  std::string error;
  Journal earlier(SystemEnv(), settings.BONDIR + std::string(kJournalFileName));
  for (const auto& c : cases) {
    if (*c.place) std::ofstream(root / "spool" / c.name) << "+";
    ASSERT_TRUE(earlier.Put({c.name, std::nullopt, c.state}, &error)) << error;
  }
  FakeRegister clock;
  const EventLog log(SystemEnv(), (root / "log.txt").string());
  FileChooser chooser(SystemEnv(), settings, clock, log);
  JobFiler filer(SystemEnv(), settings, log, chooser);
  std::vector<std::string> needRegister;
  const std::optional<std::vector<JournalEntry>> entries = filer.Recover();
  ASSERT_TRUE(entries);
  for (const JournalEntry& entry : *entries) needRegister.push_back(entry.name);
  EXPECT_EQ(needRegister, (std::vector<std::string>{"c.txt", "i.txt", "y.txt"}));
  for (const auto& c : cases)
    EXPECT_EQ(fs::exists(root / c.place / c.name), *c.place != 0) << c.name;
  Journal after(SystemEnv(), earlier.Path());
  ASSERT_TRUE(after.Load(&error)) << error;
  EXPECT_EQ(after.Entries().size(), 3u);
  fs::remove_all(root);
}

// Each end that needs no prompt is one transition: the file goes where its
// outcome says, one log line tells it, and no journal entry is left. When the
// disk refuses its move or removal once, it stays in the spool with what it
// needs of the journal, the chooser never takes it again, and the safety
// look's retry (RetryUnfiled) carries the outcome out and logs it.
TEST(JobFiler, ConcludesAJobsEndInOnePlace) {
  const fs::path root = fs::temp_directory_path() / "ovix-filer-conclude";
  const struct {
    JobOutcome outcome;
    const char* fails;       // the first call of this kind on the file fails once; "" none
    const char* place;       // where the file is at the end; "" nowhere
    const char* line;        // the start of the last log line after Conclude
    const char* retry = "";  // with a failure: the start of the retry's log line
  } cases[] = {
      {JobOutcome::Printed, "", "ok", "-> Sfirsit tiparire: "},
      {JobOutcome::Cancelled, "", "err", "-> EROARE !!  FISIERUL"},
      {JobOutcome::FiledWithoutSending, "", "err", "-> EROARE !! FISIERUL GOL "},
      {JobOutcome::DeletedWithoutSending, "", "", "-> Programare Valute: "},
      {JobOutcome::GoneFileVoided, "", "", "-> GONE; BONUL NETERMINAT"},
      {JobOutcome::GonePaymentCleared, "", "", "-> GONE; BONUL ERA LA PLATA"},
      {JobOutcome::FileGone, "", "", "-> GONE"},
      {JobOutcome::Printed, "rename", "ok", "-> EROARE !! MUTARE ", "-> Sfirsit tiparire: "},
      {JobOutcome::Cancelled, "rename", "err", "-> EROARE !! FISIERUL ", "-> FISIERUL "},
      {JobOutcome::FiledWithoutSending, "rename", "err", "-> EROARE !! FISIERUL GOL ",
       "-> FISIERUL "},
      {JobOutcome::DeletedWithoutSending, "remove", "", "-> Programare Valute: ", "-> FISIERUL "},
      {JobOutcome::CurrencyProgrammed, "remove", "", "-> EROARE !! FISIERUL ", "-> FISIERUL "},
  };
  const auto lastLine = [&] {
    std::ifstream in(root / "log.txt");
    std::string line, last;
    while (std::getline(in, line)) last = line;
    return last;
  };
  const auto entries = [&](const DriverSettings& settings) {
    std::string error;
    Journal journal(SystemEnv(), settings.BONDIR + std::string(kJournalFileName));
    EXPECT_TRUE(journal.Load(&error)) << error;
    return journal.Entries().size();
  };
  for (const auto& c : cases) {
    const bool gone = c.outcome == JobOutcome::GoneFileVoided ||
                      c.outcome == JobOutcome::GonePaymentCleared ||
                      c.outcome == JobOutcome::FileGone;
    const bool refused = *c.fails != 0;
    const std::string trace = testing::PrintToString(c.outcome) + " " + c.fails;
    // The first run learns the calls; the second fails the first one on the file.
    std::size_t failAt = 0;
    for (int run = 0; run < (refused ? 2 : 1); ++run) {
      fs::remove_all(root);
      fs::create_directories(root / "spool");
      DriverSettings settings;
      settings.BONDIR = (root / "spool").string() + "/";
      settings.OKDIR = (root / "ok").string() + "/";
      settings.ERRDIR = (root / "err").string() + "/";
      const EventLog log(SystemEnv(), (root / "log.txt").string());
      FaultEnv env(SystemEnv());
      FakeRegister clock;
      JobFiler* keeper = nullptr;
      FileChooser chooser(env, settings, clock, log,
                          [&](const std::string& name) { return keeper->NeverAgain(name); });
      JobFiler filer(env, settings, log, chooser);
      keeper = &filer;
      if (!gone) std::ofstream(root / "spool" / "a.txt") << "+";
      // Currency programmings are never journaled.
      if (c.outcome != JobOutcome::CurrencyProgrammed &&
          c.outcome != JobOutcome::DeletedWithoutSending)
        filer.Record({"a.txt", std::nullopt}, JobState::Printing);
      const std::size_t before = env.Count();
      if (run == 1) env.FailOnce(failAt, Fault::Io);
      filer.Conclude({"a.txt", std::nullopt}, c.outcome, "-> GONE");
      for (std::size_t k = before + 1; run == 0 && refused && !failAt && k <= env.Count(); ++k) {
        const std::string& point = env.Points()[k - 1];
        if (point.rfind(c.fails, 0) == 0 && point.find("spool/a.txt") != std::string::npos)
          failAt = k;
      }
      if (refused && run == 0) continue;
      EXPECT_EQ(lastLine().rfind(c.line, 0), 0u) << trace << ": " << lastLine();
      const bool keepsEntry =
          refused && (c.outcome == JobOutcome::Printed || c.outcome == JobOutcome::Cancelled);
      EXPECT_EQ(entries(settings), keepsEntry ? 1u : 0u) << trace;
      EXPECT_EQ(filer.NeverAgain("a.txt"), refused) << trace;
      EXPECT_EQ(fs::exists(root / "spool" / "a.txt"), refused) << trace;
      // A timer look stamps a file, the next one would take it.
      for (int look = 0; look < 2; ++look)
        EXPECT_EQ(chooser.Scan(FileChooser::LookKind::Timer).taken, std::nullopt) << trace;
      if (refused) {
        filer.RetryUnfiled();
        EXPECT_EQ(lastLine().rfind(c.retry, 0), 0u) << trace << ": " << lastLine();
        EXPECT_EQ(entries(settings), 0u) << trace;
        EXPECT_FALSE(filer.NeverAgain("a.txt")) << trace;
      }
      for (const char* place : {"spool", "ok", "err"})
        EXPECT_EQ(fs::exists(root / place / "a.txt"), std::string(place) == c.place) << trace;
    }
    EXPECT_TRUE(!refused || failAt) << trace;
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace ovix
