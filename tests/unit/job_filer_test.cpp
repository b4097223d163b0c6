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

// A printed receipt is filed with a crash and a power cut at each point of
// the filing: after the restart's recovery it is either in the OK directory,
// or still in the spool with the journal sending it back to the register,
// never lost, never in both and never left without its entry.
TEST(JobFiler, APrintedReceiptSurvivesACrashAtEveryPoint) {
  const fs::path root = fs::temp_directory_path() / "ovix-filer-crash";
  DriverSettings settings;
  settings.BONDIR = (root / "spool").string() + "/";
  settings.OKDIR = (root / "ok").string() + "/";
  settings.ERRDIR = (root / "err").string() + "/";
  FakeRegister clock;
  const JobFileRef job{"p.txt", std::nullopt};
  // Runs the filing with a crash at point `crashAt` (0: none); the points of the run.
  const auto run = [&](std::size_t crashAt) {
    fs::remove_all(root);
    fs::create_directories(root / "spool");
    std::ofstream(root / "spool" / job.name) << "+";
    Journal(SystemEnv(), settings.BONDIR + std::string(kJournalFileName))
        .Put({job.name, std::nullopt, JobState::Printing}, nullptr);
    FaultEnv env(SystemEnv());
    if (crashAt) env.CrashAt(crashAt);
    const EventLog log(env, (root / "spool" / "LOG.OVX").string());
    FileChooser chooser(env, settings, clock, log);
    JobFiler filer(env, settings, log, chooser);
    filer.Record(job, JobState::Printed);
    filer.FileIntoOkDirectory(job);
    env.DropUnsyncedData();
    return env.Count();
  };
  const std::size_t points = run(0);
  EXPECT_GE(points, 15u);
  for (std::size_t k = 1; k <= points + 1; ++k) {
    run(k <= points ? k : 0);
    const EventLog log(SystemEnv(), (root / "spool" / "LOG.OVX").string());
    FileChooser chooser(SystemEnv(), settings, clock, log);
    JobFiler filer(SystemEnv(), settings, log, chooser);
    const std::vector<JournalEntry> needRegister = filer.Recover().value();
    const bool inSpool = fs::exists(root / "spool" / job.name);
    EXPECT_NE(inSpool, fs::exists(root / "ok" / job.name)) << k;
    EXPECT_FALSE(fs::exists(root / "err" / job.name)) << k;
    EXPECT_EQ(needRegister.size(), inSpool ? 1u : 0u) << k;
    for (const JournalEntry& entry : needRegister) EXPECT_EQ(entry.state, JobState::Printing) << k;
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace ovix
