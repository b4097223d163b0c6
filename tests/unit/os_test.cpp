// The system seam's path texts and the byte helpers beside it.
#include "os/os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "os/env.h"
#include "os/system_files.h"
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

// Every call of the system's Env fails the same way: false or empty, with
// the system's reason; and what one writes, another reads back whole.
TEST(OsFiles, ReportFailuresWithTheSystemsReason) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() /
      ("ovix-os-files-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  fs::remove_all(dir);
  fs::create_directories(dir / "sub");
  const fs::path file = dir / "a.txt";
  Env& env = SystemEnv();
  std::string error;

  std::unique_ptr<WritableFile> out = env.NewAppendableFile(file, &error);
  ASSERT_TRUE(out) << error;
  EXPECT_TRUE(out->Append("12\r\n", &error) && out->Append("3", &error));
  EXPECT_TRUE(out->Sync(&error) && out->Close(&error)) << error;
  EXPECT_EQ(env.ReadFile(file, &error), std::optional<std::string>("12\r\n3"));
  EXPECT_TRUE(env.SyncDirectory(dir, &error) && ShareWithDirectoryGroup(file, &error));
  EXPECT_TRUE(env.SyncFile(file, &error)) << error;
  FileStatus status;
  ASSERT_TRUE(env.Status(file, &status, &error)) << error;
  EXPECT_EQ(status.type, FileType::Regular);
  EXPECT_EQ(status.size, 5u);
  ASSERT_TRUE(env.Status(dir / "gone", &status, &error)) << error;
  EXPECT_EQ(status.type, FileType::Missing);
  std::vector<std::string> listed;
  EXPECT_TRUE(env.ListDirectory(
      dir, [&](const DirEntry& e) { return listed.push_back(e.name.string()), true; }, &error));
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"a.txt", "sub"}));

  // Each says why in the operator's words, with the system's code; a missing
  // file or directory is said the same way on every system.
  const struct {
    const char* what;
    std::function<bool(std::string*)> call;
    bool missing;
  } failures[] = {
      {"open in a missing directory",
       [&](std::string* e) { return !!env.NewWritableFile(dir / "no" / "x", e); }, true},
      {"read of a missing file", [&](std::string* e) { return !!env.ReadFile(dir / "x", e); },
       true},
      {"rename onto a directory",
       [&](std::string* e) { return env.RenameReplacing(file, dir / "sub", e); }, false},
      {"copy of a missing file",
       [&](std::string* e) { return env.CopyFile(dir / "x", dir / "y", e); }, true},
      {"list of a missing directory",
       [&](std::string* e) {
         return env.ListDirectory(
             dir / "no", [](auto&) { return true; }, e);
       },
       true},
      {"move of a missing file",
       [&](std::string* e) {
         return MoveIntoDirectory(env, (dir / "x").string(), dir.string(), "b", e);
       },
       true},
  };
  for (const auto& row : failures) {
    std::string reason;
    EXPECT_FALSE(row.call(&reason)) << row.what;
    EXPECT_NE(reason.find(" (cod "), std::string::npos) << row.what << ": " << reason;
    if (row.missing) {
      EXPECT_EQ(reason.rfind("nu exista (cod ", 0), 0u) << row.what << ": " << reason;
    }
  }
  EXPECT_EQ(SystemReason(std::error_code(EACCES, std::generic_category())),
            "acces refuzat (cod " + std::to_string(EACCES) + ")");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace ovix
