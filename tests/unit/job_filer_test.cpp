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

}  // namespace
}  // namespace ovix
