#include "spool/spool_files.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace ovix
