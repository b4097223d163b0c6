#include "spool/job_filer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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
// outcome says, one log line tells it, and no journal entry is left, but for
// a printed receipt that the OK directory refuses: it keeps its entry, stays
// in the spool and is never taken again by the chooser.
TEST(JobFiler, ConcludesAJobsEndInOnePlace) {
  const fs::path root = fs::temp_directory_path() / "ovix-filer-conclude";
  const struct {
    JobOutcome outcome;
    bool there;         // the file is in the spool before
    const char* place;  // where it is afterwards; "" when nowhere
    const char* line;   // the start of the last log line
    bool okRefuses = false;
  } cases[] = {
      {JobOutcome::Printed, true, "ok", "-> Sfirsit tiparire: "},
      {JobOutcome::Cancelled, true, "err", "-> EROARE !!  FISIERUL"},
      {JobOutcome::FiledWithoutSending, true, "err", "-> EROARE !! FISIERUL GOL "},
      {JobOutcome::DeletedWithoutSending, true, "", "-> Programare Valute: "},
      {JobOutcome::GoneFileVoided, false, "", "-> GONE; BONUL NETERMINAT"},
      {JobOutcome::GonePaymentCleared, false, "", "-> GONE; BONUL ERA LA PLATA"},
      {JobOutcome::FileGone, false, "", "-> GONE"},
      {JobOutcome::Printed, true, "spool", "-> EROARE !! MUTARE ", true},
  };
  for (const auto& c : cases) {
    fs::remove_all(root);
    fs::create_directories(root / "spool");
    DriverSettings settings;
    settings.BONDIR = (root / "spool").string() + "/";
    // An OK directory under a plain file cannot be made.
    std::ofstream(root / "plain");
    settings.OKDIR = (root / (c.okRefuses ? "plain/ok" : "ok")).string() + "/";
    settings.ERRDIR = (root / "err").string() + "/";
    const EventLog log(SystemEnv(), (root / "log.txt").string());
    FakeRegister clock;
    JobFiler* keeper = nullptr;
    FileChooser chooser(SystemEnv(), settings, clock, log,
                        [&](const std::string& name) { return keeper->NeverAgain(name); });
    JobFiler filer(SystemEnv(), settings, log, chooser);
    keeper = &filer;
    if (c.there) std::ofstream(root / "spool" / "a.txt") << "+";
    filer.Record({"a.txt", std::nullopt}, JobState::Printing);
    filer.Conclude({"a.txt", std::nullopt}, c.outcome, "-> GONE");
    const std::string trace = testing::PrintToString(c.outcome) + (c.okRefuses ? " refused" : "");
    for (const char* place : {"spool", "ok", "err"})
      EXPECT_EQ(fs::exists(root / place / "a.txt"), std::string(place) == c.place) << trace;
    std::ifstream in(root / "log.txt");
    std::string line, last;
    while (std::getline(in, line)) last = line;
    EXPECT_EQ(last.rfind(c.line, 0), 0u) << trace << ": " << last;
    std::string error;
    Journal after(SystemEnv(), settings.BONDIR + std::string(kJournalFileName));
    ASSERT_TRUE(after.Load(&error)) << error;
    EXPECT_EQ(after.Entries().size(), c.okRefuses ? 1u : 0u) << trace;
    EXPECT_EQ(filer.NeverAgain("a.txt"), c.okRefuses) << trace;
    // A timer look stamps a file, the next one would take it.
    for (int look = 0; look < 2; ++look)
      EXPECT_EQ(chooser.Scan(FileChooser::LookKind::Timer).taken, std::nullopt) << trace;
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace ovix
