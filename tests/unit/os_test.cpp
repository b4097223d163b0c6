// The system seam's path texts and the byte helpers beside it.
#include "os/os.h"

#include <gtest/gtest.h>

#include <string>
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

}  // namespace
}  // namespace ovix
