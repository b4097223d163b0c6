#include "spool/journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace ovix {
namespace {

namespace fs = std::filesystem;

// An entry for every receipt whose outcome waits, holding any name on one
// line with the file's identity; the older one-line record still reads.
TEST(Journal, KeepsOneEntryPerReceiptAndReadsOlderRecords) {
  const FileIdentity id{12, -5, 0xFFFFFFFFFFFFFFFFull};
  const struct {
    JournalEntry entry;
    std::string line;
  } cases[] = {
      {{"a\r\n\\b c.txt", id, JobState::Paying},
       "PAYING 12:-5:18446744073709551615 a\\x0D\\x0A\\x5Cb c.txt"},
      {{"b.txt", std::nullopt, JobState::GivenUp}, "GIVENUP - b.txt"},
      {{"old name.txt", std::nullopt, JobState::Cancelled}, "CANCEL old name.txt"},
      {{"p.txt", std::nullopt, JobState::Printed}, "PRINTED p.txt"},
  };
  const fs::path dir = fs::temp_directory_path() / "ovix-journal-test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  Journal journal(SystemEnv(), (dir / "OVIXNOVA.JOB").string());
  std::string error;
  for (const auto& c : cases) {
    const std::optional<JournalEntry> parsed = ParseJournalLine(c.line);
    ASSERT_TRUE(parsed) << c.line;
    EXPECT_EQ(parsed->name, c.entry.name);
    EXPECT_EQ(parsed->identity, c.entry.identity) << c.line;
    EXPECT_EQ(parsed->state, c.entry.state) << c.line;
    if (c.entry.identity || c.line.find(" - ") != std::string::npos) {
      EXPECT_EQ(FormatJournalLine(c.entry), c.line);
    }
    EXPECT_TRUE(journal.Put(c.entry, &error)) << error;
  }
  for (const char* bad : {"", "PRINTED", "PRINTED ", "DONE a.txt"})
    EXPECT_FALSE(ParseJournalLine(bad)) << bad;
  // A crash before the temporary file was renamed leaves the old journal.
  std::ofstream(dir / "OVIXNOVA.JOB.tmp") << "PRINTING x.txt\n";
  Journal reread(SystemEnv(), journal.Path());
  EXPECT_TRUE(reread.Load(&error));
  EXPECT_EQ(reread.Entries().size(), 4u);
  EXPECT_FALSE(reread.Find("x.txt"));
  EXPECT_TRUE(reread.Remove("b.txt", &error));
  EXPECT_TRUE(reread.Put({"p.txt", id, JobState::Printing}, &error));
  Journal third(SystemEnv(), journal.Path());
  EXPECT_TRUE(third.Load(&error));
  EXPECT_EQ(third.Entries().size(), 3u);
  EXPECT_EQ(third.Find("p.txt")->state, JobState::Printing);
  for (const char* name : {"a\r\n\\b c.txt", "old name.txt", "p.txt"})
    EXPECT_TRUE(third.Remove(name, &error));
  EXPECT_FALSE(fs::exists(dir / "OVIXNOVA.JOB"));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace ovix
