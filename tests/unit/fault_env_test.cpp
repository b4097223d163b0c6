// The fault-injecting Env of the tests: its points, a failure at each of
// them, a crash at each of them followed by a power cut.
#include "fault_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "spool/spool_files.h"

namespace ovix::test {
namespace {

namespace fs = std::filesystem;

class FaultEnvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("ovix_fault_" + std::to_string(std::random_device{}()));
    fs::create_directories(root_ / "spool");
  }
  void TearDown() override { fs::remove_all(root_); }

  // A fresh disk: the spool with J ("old") and a.TXT ("job"), no ok directory.
  void Fresh() {
    fs::remove_all(root_);
    fs::create_directories(root_ / "spool");
    Put("spool/J", "old");
    Put("spool/a.TXT", "job");
  }
  void Put(const std::string& name, const std::string& text) {
    std::ofstream(root_ / name, std::ios::binary) << text;
  }
  // The file's bytes, or "-" when it is missing.
  std::string Get(const std::string& name) const {
    std::ifstream in(root_ / name, std::ios::binary);
    if (!in) return "-";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string Path(const std::string& name) const { return (root_ / name).string(); }

  fs::path root_;
};

TEST_F(FaultEnvTest, CountsAndLabelsEveryPoint) {
  Fresh();
  FaultEnv env(SystemEnv());
  std::string error;
  ASSERT_TRUE(WriteFileDurably(env, Path("spool/J"), "new", &error)) << error;
  ASSERT_TRUE(MoveIntoDirectory(env, Path("spool/a.TXT"), Path("ok"), "a.TXT", &error)) << error;
  const std::string top = root_.filename().string();
  const std::vector<std::string> expected = {
      "open-write spool/J.tmp",     "append spool/J.tmp (3 B)",       "fsync spool/J.tmp",
      "close spool/J.tmp",          "rename spool/J.tmp -> spool/J",  "sync-dir " + top + "/spool",
      "mkdir " + top + "/ok",       "rename spool/a.TXT -> ok/a.TXT", "sync-dir " + top + "/ok",
      "sync-dir " + top + "/spool",
  };
  EXPECT_EQ(env.Points(), expected);
  EXPECT_EQ(env.Count(), expected.size());
}

// Each kind of failure at each point of a durable write: the call fails with
// that reason, and the file holds the old or the new content, never another.
TEST_F(FaultEnvTest, FailOnceFailsThatPointWithItsReason) {
  const std::size_t points = 6;
  for (const Fault fault : {Fault::Io, Fault::NoSpace, Fault::Access}) {
    for (std::size_t k = 1; k <= points + 1; ++k) {
      Fresh();
      FaultEnv env(SystemEnv());
      env.FailOnce(k, fault);
      std::string error;
      const bool written = WriteFileDurably(env, Path("spool/J"), "new", &error);
      EXPECT_EQ(written, k > points) << k;
      EXPECT_EQ(error, written ? "" : FaultReason(fault)) << k;
      // Only the last point, the directory's flush, comes after the rename.
      EXPECT_EQ(Get("spool/J"), k >= points ? "new" : "old") << k;
      EXPECT_EQ(Get("spool/J.tmp"), "-") << k;
    }
  }
}

// A crash at each point, then a power cut: what was not flushed is gone.
TEST_F(FaultEnvTest, CrashThenDropKeepsOnlyWhatWasFlushed) {
  struct Row {
    const char* what;
    std::function<bool(Env&, std::string*)> run;
    std::size_t points;  // points of a run without a crash
    // The files after a crash at point k (k > points: no crash) and the cut.
    std::function<std::vector<std::string>(std::size_t k)> after;
  };
  const std::vector<Row> rows = {
      {"durable write",
       [&](Env& e, std::string* r) { return WriteFileDurably(e, Path("spool/J"), "new", r); }, 6,
       [](std::size_t k) {
         return std::vector<std::string>{k > 6 ? "new" : "old", "job", "-"};
       }},
      {"move within the disk",
       [&](Env& e, std::string* r) {
         return MoveIntoDirectory(e, Path("spool/a.TXT"), Path("ok"), "a.TXT", r);
       },
       4,
       [](std::size_t k) {
         return std::vector<std::string>{"old", k > 3 ? "-" : "job", k > 3 ? "job" : "-"};
       }},
      {"append without a flush",
       [&](Env& e, std::string* r) { return AppendToFile(e, Path("spool/J"), "+", r); }, 3,
       [](std::size_t) {
         return std::vector<std::string>{"old", "job", "-"};
       }},
  };
  for (const Row& row : rows) {
    for (std::size_t k = 1; k <= row.points + 1; ++k) {
      Fresh();
      FaultEnv env(SystemEnv());
      if (k <= row.points) env.CrashAt(k);
      std::string error;
      EXPECT_EQ(row.run(env, &error), k > row.points) << row.what << " " << k;
      EXPECT_EQ(env.Crashed(), k <= row.points) << row.what << " " << k;
      // A dead process does nothing more.
      EXPECT_EQ(env.ReadFile(Path("spool/J"), nullptr).has_value(), k > row.points);
      env.DropUnsyncedData();
      const std::vector<std::string> files = {Get("spool/J"), Get("spool/a.TXT"), Get("ok/a.TXT")};
      EXPECT_EQ(files, row.after(k)) << row.what << " " << k;
      EXPECT_EQ(Get("spool/J.tmp"), "-") << row.what << " " << k;
    }
  }
}

// A move across file systems copies, flushes, renames, then removes: a crash
// at any point and a power cut leave the job whole in one place at least.
TEST_F(FaultEnvTest, CrossDeviceMoveNeverLosesTheFile) {
  for (std::size_t k = 1; k <= 12; ++k) {
    Fresh();
    FaultEnv env(SystemEnv());
    env.FailOnce(2, Fault::CrossDevice);
    env.CrashAt(k);
    std::string error;
    const bool moved = MoveIntoDirectory(env, Path("spool/a.TXT"), Path("ok"), "a.TXT", &error);
    EXPECT_EQ(moved, !env.Crashed()) << k << ": " << error;
    env.DropUnsyncedData();
    const bool inSpool = Get("spool/a.TXT") == "job", inOk = Get("ok/a.TXT") == "job";
    EXPECT_TRUE(inSpool || inOk) << k << ": " << env.Points().back();
    EXPECT_NE(Get("spool/a.TXT"), "");
    EXPECT_EQ(Get("ok/.a.TXT.ovixnova-tmp"), "-") << k;
    EXPECT_FALSE(moved && inSpool) << k;
  }
}

}  // namespace
}  // namespace ovix::test
