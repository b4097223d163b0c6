#include "spool/spool_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "fault_env.h"

namespace ovix {
namespace {

TEST(SpoolFiles, MatchesMasksLikeTheDirectorySearch) {
  const struct {
    const char* name;
    const char* mask;
    bool matches;
  } cases[] = {
      {"bon1.txt", "*.TXT", true},
      {"BON1.TXT", "*.txt", true},
      {"bon1.txt.part", "*.TXT", false},
      {"a.b", "?.?", true},
      {"ab.b", "?.?", false},
      {"LOG.OVX", "*.*", true},
      {"BON*1.TXT", "BON*.TXT", true},
      {"*a", "*", true},
      {"", "*", true},
      {"x", "", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MatchesMask(c.name, c.mask), c.matches) << c.name << " " << c.mask;
}

// A failure at any step of a durable write, removal or move, the flushes of
// the directories included, is reported with its reason. The first step of a
// move, making the target directory, is left to the rename to report.
TEST(SpoolFiles, EveryStepsFailureIsReported) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / "ovix-spool-files-steps";
  const std::string spool = (root / "spool").string(), ok = (root / "ok").string();
  const struct {
    const char* what;
    std::size_t first, last;  // the points that are failed, one run each
    bool crossDevice;         // the rename (point 2) fails as one across file systems
    std::function<bool(Env&, std::string*)> run;
  } rows[] = {
      {"durable write", 1, 6, false,
       [&](Env& e, std::string* r) { return WriteFileDurably(e, spool + "/J", "new", r); }},
      {"durable removal", 1, 2, false,
       [&](Env& e, std::string* r) { return RemoveFileDurably(e, spool + "/J", r); }},
      {"move", 2, 4, false,
       [&](Env& e, std::string* r) { return MoveIntoDirectory(e, spool + "/J", ok, "J", r); }},
      {"move across file systems", 3, 8, true,
       [&](Env& e, std::string* r) { return MoveIntoDirectory(e, spool + "/J", ok, "J", r); }},
  };
  for (const auto& row : rows) {
    for (std::size_t k = row.first; k <= row.last; ++k) {
      fs::remove_all(root);
      fs::create_directories(root / "spool");
      std::ofstream(root / "spool" / "J") << "old";
      test::FaultEnv env(SystemEnv());
      if (row.crossDevice) env.FailOnce(2, test::Fault::CrossDevice);
      env.FailOnce(k, test::Fault::NoSpace);
      std::string error;
      EXPECT_FALSE(row.run(env, &error)) << row.what << " " << k;
      EXPECT_EQ(error, test::FaultReason(test::Fault::NoSpace)) << row.what << " " << k;
    }
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace ovix
