// The system seam's path texts and the byte helpers beside it.
#include "os/os.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "os/text.h"

namespace ovix {
namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

TEST(OsPaths, NativeDirectory) {
  struct Row {
    std::string setting;
    std::string posix;
  };
  const std::vector<Row> rows = {
      {"C:\\OVIX\\BONOK\\", "/OVIX/BONOK/"},    {"d:\\spool", "/spool"},      {"C:", ""},
      {"/var/spool/ovix/", "/var/spool/ovix/"}, {"spool\\in\\", "spool/in/"}, {"", ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(NativeDirectory(row.setting), kWindows ? row.setting : row.posix) << row.setting;
  }
}

TEST(OsText, DriveLettersAndParents) {
  const struct {
    const char* text;
    bool drive;
    const char* parent;
  } cases[] = {
      {"C:\\OVIX", true, "."}, {"z:", true, "."},
      {"1:", false, "."},      {"/var/spool/a.txt", false, "/var/spool"},
      {"a.txt", false, "."},   {"", false, "."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HasDriveLetter(c.text), c.drive) << c.text;
    if (!kWindows) {
      EXPECT_EQ(ParentOf(c.text).string(), c.parent) << c.text;
    }
  }
  EXPECT_EQ(AsciiLower('Q'), 'q');
  EXPECT_EQ(AsciiLower('\xC9'), '\xC9');
}

// Every file function fails the same way: false or empty, with the system's
// reason; and what one writes, another reads back whole.
TEST(OsFiles, ReportFailuresWithTheSystemsReason) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() /
      ("ovix-os-files-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  fs::remove_all(dir);
  fs::create_directories(dir / "sub");
  const fs::path file = dir / "a.txt";
  std::string error;

  File out = OpenForAppending(file, &error);
  ASSERT_TRUE(out) << error;
  EXPECT_TRUE(WriteToFile(out.get(), "12\r\n", &error) && WriteToFile(out.get(), "3", &error));
  EXPECT_TRUE(FlushFileToDisk(out.get(), &error) && CloseFile(std::move(out), &error)) << error;
  EXPECT_EQ(ReadWholeFile(file, &error), std::optional<std::string>("12\r\n3"));
  EXPECT_TRUE(SyncDirectory(dir.string(), &error) && ShareWithDirectoryGroup(file, &error));

  const std::vector<std::pair<const char*, std::function<bool(std::string*)>>> failures = {
      {"open of a missing file",
       [&](std::string* e) { return !!OpenFile(dir / "no" / "x", "rb", e); }},
      {"read of a missing file", [&](std::string* e) { return !!ReadWholeFile(dir / "x", e); }},
      {"rename onto a directory",
       [&](std::string* e) { return RenameReplacing(file, dir / "sub", e); }},
      {"move of a missing file",
       [&](std::string* e) {
         return MoveIntoDirectory((dir / "x").string(), dir.string(), "b", e);
       }},
  };
  for (const auto& [what, call] : failures) {
    std::string reason;
    EXPECT_FALSE(call(&reason)) << what;
    EXPECT_FALSE(reason.empty()) << what;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace ovix
