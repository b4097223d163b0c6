#include "check/check.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace ovix::check {
namespace {

using test::Hex;

const std::string kItem = "PAINE ALBA           0002.500 00000450 01";

FileReport Check(const std::vector<std::string>& lines, bool newFirmware = true) {
  return CheckLines(lines, DriverSettings{}, newFirmware);
}

// Every warning as "line:column text"; file-level warnings as "file text".
std::vector<std::string> Warnings(const FileReport& f) {
  std::vector<std::string> out;
  for (const LineReport& r : f.lines) {
    for (const Warning& w : r.warnings) {
      out.push_back(std::to_string(r.number) + ":" + std::to_string(w.column) + " " + w.text);
    }
  }
  for (const std::string& w : f.warnings) out.push_back("file " + w);
  return out;
}

TEST(CheckLines, TellsFileAndLineKinds) {
  struct Case {
    std::vector<std::string> lines;
    FileKind kind;
    std::vector<std::string> lineKinds;
  };
  const Case cases[] = {
      {{"  " + kItem + "  ", "", "%010", "!5", "#1", "$2", "=Hi", "+", "<"},
       FileKind::Receipt,
       {"sale item", "empty (skipped)", "% discount", "% discount on subtotal", "value discount",
        "value discount on subtotal", "free text", "subtotal", "total"}},
      {{"@", "[100", "*100", "]1", "?", "<5000", ""},
       FileKind::Receipt,
       {"card", "voucher", "cheque", "foreign currency", "credit",
        "not read (credit ended the receipt)", "not read (credit ended the receipt)"}},
      {{"-", "1 0004350 EUR", "", "2 0004010"},
       FileKind::CurrencyProgramming,
       {"currency-programming marker (the rest of the line is ignored)", "currency line",
        "empty (skipped)", "currency line"}},
      {{" -" + kItem.substr(1), "<"}, FileKind::Receipt, {"sale item", "total"}},
      {{}, FileKind::Empty, {}},
      {{"   ", ""}, FileKind::Empty, {"empty (skipped)", "empty (skipped)"}},
  };
  for (const Case& c : cases) {
    const FileReport f = Check(c.lines);
    EXPECT_EQ(f.kind, c.kind) << c.lines.size();
    std::vector<std::string> kinds;
    for (const LineReport& r : f.lines) kinds.push_back(r.kind);
    EXPECT_EQ(kinds, c.lineKinds);
  }
}

TEST(CheckLines, RecordsFieldsAndCommands) {
  const FileReport f = Check({"  " + kItem, "<5000", "]2"}, false);
  ASSERT_EQ(f.lines.size(), 3u);
  const LineReport& item = f.lines[0];
  EXPECT_EQ(item.leadingSpaces, 2);
  std::vector<std::string> fields, commands;
  for (const Field& field : item.fields) fields.push_back(field.name + "=" + field.value);
  for (const Bytes& c : item.commands) commands.push_back(Hex(c));
  EXPECT_EQ(fields, (std::vector<std::string>{"description=PAINE ALBA          ", "quantity=0002",
                                              "fraction=500", "price=00000450", "department=01",
                                              "negative=no"}));
  ASSERT_EQ(commands.size(), 4u);
  EXPECT_EQ(commands[0], "2A");
  EXPECT_EQ(commands[2], "02 0D 05 1B");
  EXPECT_EQ(commands[3], "04 05 0A 4B");
  EXPECT_EQ(Hex(f.lines[1].commands.at(0)), "05 0A 0A 0A 31");
  EXPECT_EQ(Hex(f.lines[2].commands.at(0)), "02 35 31");
  EXPECT_TRUE(Warnings(f).empty());
}

TEST(CheckLines, WarnsWithLineAndColumn) {
  struct Case {
    std::vector<std::string> lines;
    std::string expected;  // "line:column text" or "file text", found as the start of a warning
  };
  const std::string item = kItem.substr(0, 21);
  const Case cases[] = {
      {{item + "00.2.500 00000450 01", "<"},
       "1:24 quantity \"00.2\" has non-digits '.' at column 24"},
      {{"  " + item + "0002.5x0 00000450 01", "<"}, "1:28 fraction \"5x0\" has non-digits 'x'"},
      {{item + "0002.500 x0000450 01", "<"},
       "1:31 price \"x0000450\" has non-digits 'x' at "
       "column 31: the price reads as 0 and is keyed as zero"},
      {{item + "0002.500 00000450 1x", "<"},
       "1:41 department \"1x\" has non-digits 'x' at column "
       "41: the department reads as 1 (key 0x4B)"},
      {{item + "0002.-50 00000450 01", "<"},
       "1:27 fraction \"-50\" has non-digits '-' at column 27: the fraction reads as 0"},
      {{item + "0002.500 -0000450 01", "<"},
       "1:31 price \"-0000450\" has non-digits '-' at column 31: the price reads as 0"},
      {{item + "0002.500 00000450 -1", "<"},
       "1:40 department \"-1\" has non-digits '-' at column 40: the department reads as 0 (key "
       "0x4A)"},
      {{item + "0002.500 00000450 01 EXTRA", "<"}, "1:42 characters from column 42 on are ignored"},
      {{item + "0002.500 000", "<"}, "1:31 line too short: the price (columns 31-38) has only 3"},
      {{"PAINE", "<"}, "1:22 line too short: it ends before the quantity (columns 22-25)"},
      {{"#" + kItem.substr(1), "<"}, "1:1 looks like a sale item, but its first character '#'"},
      {{"<50.00"}, "1:4 amount \"50.00\" has non-digits '.' at column 4: each is keyed as 0x00"},
      {{"["}, "1:2 amount missing: the tender key is pressed alone"},
      {{"*"}, "1:2 amount missing"},
      {{"%150", "<"}, "1:2 percentage over 100"},
      {{"%1.5", "<"}, "1:3 percentage \"1.5\" has non-digits"},
      {{"]x"}, "1:2 currency number \"x\" has non-digits"},
      {{"]"}, "1:2 currency number missing"},
      {{"]7"}, "1:2 currency 7 is outside 1-4"},
      {{"?5000"}, "1:2 characters from column 2 on are ignored"},
      {{"=", "<"}, "1:1 free text line without text"},
      {{"=" + std::string(260, 'x'), "<"}, "1:255 characters from column 255 on are ignored"},
      {{"-", "7 0004350 EUR"}, "2:1 currency number \"7\" is outside 1-4: it is taken as 1"},
      {{"-", "1 43.50"}, "2:5 exchange rate \"43.50\" has non-digits '.' at column 5"},
      {{"-", "1 43.50"}, "2:3 line too short: the exchange rate (columns 3-9) has only 5 of 7"},
      {{"-", "1 0004350 " + std::string(300, 'N')}, "2:266 characters from column 266 on"},
      {{"-", " "}, "2:1 a line of blanks is not skipped"},
      {{"-"}, "file no currency line: the driver deletes the file"},
      {{"-", ""}, "file no currency line"},
      {{"-" + kItem.substr(1)}, "1:1 looks like a sale item, but its first character makes"},
      {{"", "  "}, "file no printable line: the driver files the receipt to the error directory"},
      {{kItem, "+"}, "file no payment line: the receipt stays open on the register"},
      {{"\xEF\xBB\xBF<"}, "file the file begins with a UTF-8 byte order mark"},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> warnings = Warnings(Check(c.lines));
    const bool found = std::any_of(warnings.begin(), warnings.end(),
                                   [&](const std::string& w) { return w.starts_with(c.expected); });
    EXPECT_TRUE(found) << c.expected << "\n got: " << testing::PrintToString(warnings);
  }
}

TEST(CheckLines, CleanLinesGiveNoWarning) {
  const std::vector<std::string> clean[] = {
      {kItem, "RETUR STICLA         -001.000 00000050 02", "%010", "!100", "$0200", "=Text", "+",
       "<", "@1234", "[500", "*500", "]4", "?"},
      {"-", "1 0004350 EUR", "", "4 0000100"},
  };
  for (const auto& lines : clean) EXPECT_EQ(Warnings(Check(lines)), std::vector<std::string>{});
}

TEST(CheckLines, UsesTheConfiguredWidthsAndCharacters) {
  DriverSettings s;
  s.DESCRIERE = "5";
  s.PRET = "3";
  s.CHTOT = "T";
  const FileReport f = CheckLines({"APA   0001.000 450 01", "T"}, s, true);
  EXPECT_EQ(f.lines[1].kind, "total");
  EXPECT_EQ(Warnings(f), std::vector<std::string>{});
  EXPECT_EQ(Hex(f.lines[0].commands.back()), "04 0D 05 0A 4B");
}

TEST(CheckFile, ReportsUnreadableFilesAndExitStatus) {
  const FileReport missing = CheckFile("/nonexistent/bon.txt", DriverSettings{}, true);
  EXPECT_EQ(missing.kind, FileKind::Unreadable);
  EXPECT_EQ(FormatReport(missing), "/nonexistent/bon.txt: cannot be read: nu exista (cod 2)\n");
  const FileReport clean = Check({"<"});
  const FileReport warned = Check({"["});
  EXPECT_EQ(ExitStatus({clean}), 0);
  EXPECT_EQ(ExitStatus({clean, warned}), 1);
  EXPECT_EQ(ExitStatus({missing, warned}), 2);
}

TEST(FormatReport, PrintsKindsCommandsAndWarnings) {
  FileReport f = Check({"   [", "?", "<"});
  f.path = "bon.txt";
  EXPECT_EQ(FormatReport(f),
            "bon.txt: receipt\n"
            "  line 1 (3 leading spaces removed): voucher: amount \"\"\n"
            "    A 34\n"
            "    warning: line 1, column 2 (after removing 3 leading spaces): amount missing: "
            "the tender key is pressed alone, paying the exact amount\n"
            "  line 2: credit\n"
            "    A 32\n"
            "  line 3: not read (credit ended the receipt)\n"
            "  1 warning(s)\n");
}

}  // namespace
}  // namespace ovix::check
