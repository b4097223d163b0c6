#include "spool/file_chooser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "test_support.h"

namespace ovix {
namespace {

using namespace test;
namespace fs = std::filesystem;

struct ChooserRig {
  fs::path root = fs::temp_directory_path() /
                  ("ovix-chooser-" +
                   std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  DriverSettings settings;
  FakeRegister clock;
  EventLog log{SystemEnv(), (root / "log.txt").string()};
  FileChooser chooser{SystemEnv(), settings, clock, log};

  ChooserRig() {
    fs::remove_all(root);
    fs::create_directories(root / "spool");
    settings.BONDIR = (root / "spool").string() + "/";
  }
  ~ChooserRig() { fs::remove_all(root); }
  void Drop(const std::string& name) { std::ofstream(root / "spool" / name) << "+"; }
  std::string Log() {
    std::ifstream in(log.Path(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  }
};

TEST(FileChooser, TellsWhichNamesCanBeJobs) {
  ChooserRig r;
  r.settings.EXTENSIE = "*.*";
  const std::pair<const char*, bool> cases[] = {
      {"a.txt", true},
      {"b.dat", true},
      {".a.txt", false},
      {"LOG.OVX", false},
      {"TRACE.OVX", false},
      {"OVIXNOVA.JOB", false},
      {"ovixnova.job.tmp", false},
      {"", false},
  };
  for (const auto& [name, job] : cases) EXPECT_EQ(r.chooser.CanBeJob(name), job) << name;
}

TEST(FileChooser, TakesAFileUnchangedOverTwoTimerLooksAndAnArrivedOneAtOnce) {
  ChooserRig r;
  r.Drop("a.txt");
  FileChooser::ScanResult scan = r.chooser.Scan(FileChooser::LookKind::Timer);
  EXPECT_TRUE(!scan.taken && scan.anyWaiting && scan.lookAgain);
  EXPECT_FALSE(r.chooser.Scan(FileChooser::LookKind::Arrivals).taken);
  EXPECT_EQ(r.chooser.Scan(FileChooser::LookKind::Timer).taken, "a.txt");
  r.Drop("b.txt");
  EXPECT_TRUE(r.chooser.NoteChange(SpoolChange::Arrived, "b.txt"));
  EXPECT_FALSE(r.chooser.NoteChange(SpoolChange::Arrived, "b.dat"));
  EXPECT_EQ(r.chooser.Scan(FileChooser::LookKind::Arrivals).taken, "b.txt");
}

TEST(FileChooser, SetsAnUnreadableFileAsideForFiveSecondsAndLogsItOnce) {
  ChooserRig r;
  r.Drop("a.txt");
  r.chooser.SetAside("a.txt", "-> A");
  r.chooser.SetAside("a.txt", "-> A");
  EXPECT_EQ(r.Log(), "-> A\r\n");
  r.clock.now += 4s;
  EXPECT_TRUE(r.chooser.IsSetAside("a.txt"));
  EXPECT_FALSE(r.chooser.Scan(FileChooser::LookKind::Timer).taken);
  r.clock.now += 1s;
  EXPECT_FALSE(r.chooser.IsSetAside("a.txt"));
  r.chooser.Taken("a.txt");
  r.chooser.ReportOnce("a.txt", "-> B");
  EXPECT_EQ(r.Log(), "-> A\r\n-> B\r\n");
}

}  // namespace
}  // namespace ovix
