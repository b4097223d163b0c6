// The spool watch of the Qt front end (inotify) on real directories.
#include "qt/qt_spool_watch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform_support.h"

namespace ovix {
namespace {

using namespace std::chrono_literals;
using test::EnsureApp;
using test::kSafety;

// The spool watch on a real directory: a name renamed in arrives, one written
// in place changes, and the directory's removal ends the watch.
TEST(QtSpoolWatch, ReportsArrivalsChangesAndTheEndOfTheDirectory) {
  EnsureApp();
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("ovix-watch-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directory(dir);
  QtSpoolWatch watch;
  std::vector<std::pair<SpoolChange, std::string>> changes;
  std::string failure;
  watch.onChange = [&](SpoolChange c, const std::string& name) { changes.emplace_back(c, name); };
  watch.onFailure = [&](const std::string& reason) { failure = reason; };
  std::string reason;
  EXPECT_FALSE(watch.Start((dir / "missing").string(), &reason));
  EXPECT_FALSE(reason.empty());
  ASSERT_TRUE(watch.Start(dir.string(), &reason)) << reason;
  const auto waitFor = [&](auto done) {
    const auto deadline = std::chrono::steady_clock::now() + kSafety;
    while (!done() && std::chrono::steady_clock::now() < deadline)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  };
  const auto has = [&](SpoolChange c, const std::string& name) {
    return std::find(changes.begin(), changes.end(), std::pair(c, name)) != changes.end();
  };
  std::ofstream(dir / ".a.txt.part") << "<\r\n";
  std::filesystem::rename(dir / ".a.txt.part", dir / "a.txt");
  std::ofstream(dir / "b.txt") << "<\r\n";
  waitFor([&] { return has(SpoolChange::Arrived, "a.txt") && has(SpoolChange::Changed, "b.txt"); });
  EXPECT_TRUE(has(SpoolChange::Arrived, "a.txt"));
  EXPECT_FALSE(has(SpoolChange::Arrived, "b.txt"));
  EXPECT_TRUE(has(SpoolChange::Changed, "b.txt"));
  std::filesystem::remove_all(dir);
  waitFor([&] { return !failure.empty(); });
  EXPECT_FALSE(failure.empty());
}

// Only local file systems are watched: a directory of any other kind is
// refused, naming its type.
TEST(QtSpoolWatch, RefusesFileSystemsNotKnownToReportEveryChange) {
  EnsureApp();
  const struct {
    const char* directory;
    const char* reason;
  } cases[] = {{"/proc", "director pe un sistem de fisiere 0x9fa0"},
               {"/sys", "director pe un sistem de fisiere 0x62656572"}};
  for (const auto& c : cases) {
    if (!std::filesystem::is_directory(c.directory)) continue;
    QtSpoolWatch watch;
    std::string reason;
    EXPECT_FALSE(watch.Start(c.directory, &reason)) << c.directory;
    EXPECT_EQ(reason, c.reason);
    EXPECT_FALSE(watch.FollowsPath());
  }
}

// Whether the watch still follows its path after the directory there is
// replaced: renamed away with a new one made in its place, or a symbolic
// link switched to another directory. The watch was started on `watched`.
TEST(QtSpoolWatch, FollowsPathOnlyWhileThePathNamesTheWatchedDirectory) {
  EnsureApp();
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("ovix-follow-" + std::to_string(::getpid()));
  const struct {
    const char* name;
    bool link;                                    // watch a symbolic link to "a"
    std::function<void(const fs::path&)> change;  // given the root
    bool follows;
  } cases[] = {
      {"unchanged", false, [](const fs::path&) {}, true},
      {"unchanged link", true, [](const fs::path&) {}, true},
      {"renamed away, new one made", false,
       [](const fs::path& r) {
         fs::rename(r / "spool", r / "old");
         fs::create_directory(r / "spool");
       },
       false},
      {"removed", false, [](const fs::path& r) { fs::remove(r / "spool"); }, false},
      {"link switched", true,
       [](const fs::path& r) {
         fs::remove(r / "spool");
         fs::create_directory_symlink(r / "b", r / "spool");
       },
       false},
  };
  for (const auto& c : cases) {
    fs::remove_all(root);
    fs::create_directories(root / "a");
    fs::create_directories(root / "b");
    if (c.link) {
      fs::create_directory_symlink(root / "a", root / "spool");
    } else {
      fs::create_directory(root / "spool");
    }
    QtSpoolWatch watch;
    std::string reason;
    ASSERT_TRUE(watch.Start((root / "spool").string(), &reason)) << c.name << ": " << reason;
    c.change(root);
    EXPECT_EQ(watch.FollowsPath(), c.follows) << c.name;
    // Watched anew, the watch follows the path again.
    if (!c.follows && fs::exists(root / "spool")) {
      ASSERT_TRUE(watch.Start((root / "spool").string(), &reason)) << c.name << ": " << reason;
      EXPECT_TRUE(watch.FollowsPath()) << c.name;
    }
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace ovix
