#include "spool/translation.h"

#include <gtest/gtest.h>

#include "spool/receipt_line.h"
#include "test_support.h"

namespace ovix {
namespace {

using namespace test;

std::string Pad(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

// A sale item line in the default columns (description 20, price 8).
std::string Item(const std::string& description, const std::string& quantity,
                 const std::string& fraction, const std::string& price, const std::string& dept) {
  return Pad(description, 20) + " " + quantity + "." + fraction + " " + price + " " + dept;
}

std::vector<std::string> HexCommands(const RecordingSink& sink) {
  std::vector<std::string> out;
  for (const Bytes& c : sink.commands) out.push_back(Hex(c));
  return out;
}

// The description command of an item: 13, length, the text, 31.
std::string DescriptionKeys(const std::string& text) {
  return Hex(Bytes("\x13") + static_cast<char>(text.size()) + text + "\x31");
}

struct LineCase {
  std::string line;
  bool newFirmware;
  std::vector<std::string> commands;
  LineOutcome outcome = LineOutcome::GoOn;
};

TEST(TranslateReceiptLine, SendsTheKeysOfEachLineKind) {
  const std::string bread = Item("PAINE ALBA", "0002", "500", "00000450", "01");
  const std::string bottle = Item("RETUR STICLA", "-001", "000", "00000050", "02");
  const std::string freeText = "Va multumim!";
  const LineCase cases[] = {
      {"+", false, {"45"}},
      {"+ rest ignored", true, {"45"}},
      {"<", true, {"31"}},
      {"<5000", false, {"05 0A 0A 0A 31"}},
      {"<5000", true, {"05 0A 0D 0A 0A 31"}},
      {"@", false, {"36"}},
      {"@1234", false, {"01 02 03 04 36"}},
      {"@1234", true, {"01 02 0D 03 04 36"}},
      {"?", false, {"32"}, LineOutcome::ReceiptPrinted},
      {"?5000", true, {"32"}, LineOutcome::ReceiptPrinted},
      {"[", false, {"34"}},
      {"[500", false, {"05 0A 0A 34"}},
      {"*", false, {"33"}},
      {"*5", true, {"0A 0D 0A 05 33"}},
      {"]3", false, {"03 35 31"}},
      {"]", false, {"00 35 31"}},
      {"%010", false, {"01 0A 1F"}},
      {"%010", true, {"0A 01 0A 1F"}},
      {"%", false, {"0A 1F"}},
      {"!010", false, {"45 01 0A 1F"}},
      {"!010", true, {"45 0A 01 0A 1F"}},
      {"#1250", true, {"01 02 0D 05 0A 21"}},
      {"#1250", false, {"01 02 05 0A 21"}},
      {"$0", true, {"45 0A 0D 0A 0A 21"}},
      {"$", true, {"45 0A 0D 0A 0A 21"}},
      {"$100", false, {"45 01 0A 0A 21"}},
      {"=", false, {}},
      {"=" + freeText, false, {"13 0E 03 02 " + Hex(freeText) + " 38"}},
      {bread, false, {"2A", DescriptionKeys(Pad("PAINE ALBA", 20)), "02 0D 05 1B", "04 05 0A 4B"}},
      {bread,
       true,
       {"2A", DescriptionKeys(Pad("PAINE ALBA", 20)), "0A 0A 02 0D 05 1B", "04 0D 05 0A 4B"}},
      {bottle, false, {"2A", DescriptionKeys(Pad("RETUR STICLA", 20)), "3B", "01 1B", "05 0A 4C"}},
      {bottle,
       true,
       {"2A", DescriptionKeys(Pad("RETUR STICLA", 20)), "3B", "0A 0A 01 1B", "0A 0D 05 0A 4C"}},
      {Item("X", "0000", "250", "00000000", "12"),
       false,
       {"2A", DescriptionKeys(Pad("X", 20)), "0A 0D 02 05 1B", "0A 0A 0A 56"}},
      {Item("X", "0001", "000", "00000000", "00"),
       true,
       {"2A", DescriptionKeys(Pad("X", 20)), "0A 0A 01 1B", "0A 0D 0A 0A 4A"}},
      // A sign or decimal point ends a field's digits: "-1" is department 0, "-0000450" and
      // "-50" read as zero.
      {Item("X", "0001", "000", "00000100", "-1"),
       false,
       {"2A", DescriptionKeys(Pad("X", 20)), "01 1B", "01 0A 0A 4A"}},
      {Item("X", "0001", "000", "-0000450", "01"),
       false,
       {"2A", DescriptionKeys(Pad("X", 20)), "01 1B", "0A 0A 0A 4B"}},
      {Item("X", "0001", "-50", "00000100", "01"),
       false,
       {"2A", DescriptionKeys(Pad("X", 20)), "01 1B", "01 0A 0A 4B"}},
      {Item("X", "0001", "0.5", "00000100", "01"),
       true,
       {"2A", DescriptionKeys(Pad("X", 20)), "0A 0A 01 1B", "01 0D 0A 0A 4B"}},
      {"]-3", false, {"00 35 31"}},
      // Only a description: quantity and price count as zero.
      {"PAINE", false, {"2A", DescriptionKeys("PAINE"), "0A 1B", "0A 0A 0A 4A"}},
      // A line beginning with the currency-programming marker is an item inside a receipt.
      {"-X", false, {"2A", DescriptionKeys("-X"), "0A 1B", "0A 0A 0A 4A"}},
  };
  for (const auto& c : cases) {
    RecordingSink sink;
    EXPECT_EQ(TranslateReceiptLine(c.line, DriverSettings{}, c.newFirmware, sink), c.outcome)
        << c.line;
    EXPECT_EQ(HexCommands(sink), c.commands) << c.line << " newFirmware=" << c.newFirmware;
  }
}

TEST(TranslateReceiptLine, CutsFreeTextToFitItsLengthByte) {
  RecordingSink sink;
  TranslateReceiptLine("=" + std::string(400, 'x'), DriverSettings{}, false, sink);
  ASSERT_EQ(sink.commands.size(), 1u);
  EXPECT_EQ(static_cast<unsigned char>(sink.commands[0][1]), 255);
  EXPECT_EQ(sink.commands[0].size(), 2 + 2 + 253 + 1u);
}

TEST(TranslateReceiptLine, HonoursTheConfiguredColumnsAndCharacters) {
  DriverSettings s;
  s.DESCRIERE = "16";
  s.PRET = "4.5";   // used as 4
  s.CHCARD = "<";   // same as the total: the total wins
  s.CHREDA = "##";  // two characters never match
  RecordingSink sink;
  TranslateReceiptLine(Pad("SIXTEEN CHARS...", 16) + " 0003.000 0125 05", s, false, sink);
  EXPECT_EQ(HexCommands(sink),
            (std::vector<std::string>{"2A", "13 10 " + Hex("SIXTEEN CHARS...") + " 31", "03 1B",
                                      "01 02 05 4F"}));
  EXPECT_EQ(ClassifyReceiptLine("<1", s), LineKind::Total);
  EXPECT_EQ(ClassifyReceiptLine("#100", s), LineKind::SaleItem);
  EXPECT_EQ(ClassifyReceiptLine("#100", DriverSettings{}), LineKind::ValueDiscount);
}

TEST(CutSaleItem, KeepsHandFilledWidthsInBounds) {
  const SaleItemFields f = CutSaleItem(std::string(600, 'x'), 2'000'000'000, 2'000'000'000);
  EXPECT_EQ(f.description.size(), 255u);
  EXPECT_TRUE(CutSaleItem("PAINE", -5, -5).description.empty());
}

TEST(TranslateReceiptLine, StopsASaleItemAtItsFirstFailedCheck) {
  const std::string item = Item("PAINE", "-001", "000", "00000100", "01");
  const struct {
    std::set<std::size_t> failing;  // commands that fail, by index
    bool failedBefore;              // a command of an earlier line failed
    std::size_t sent;
    LineOutcome outcome;
  } cases[] = {
      {{}, false, 5, LineOutcome::GoOn},
      {{0}, false, 2, LineOutcome::ReceiptFailed},  // the 2A failure is seen after the description
      {{1}, false, 2, LineOutcome::ReceiptFailed},
      {{2}, false, 4, LineOutcome::ReceiptFailed},  // the 3B failure is seen after the quantity
      {{3}, false, 4, LineOutcome::ReceiptFailed},
      {{4}, false, 5, LineOutcome::ReceiptFailed},
      {{}, true, 2, LineOutcome::ReceiptFailed},
  };
  for (const auto& c : cases) {
    RecordingSink sink;
    sink.failing = c.failing;
    sink.failed = c.failedBefore;
    EXPECT_EQ(TranslateReceiptLine(item, DriverSettings{}, false, sink), c.outcome);
    EXPECT_EQ(sink.commands.size(), c.sent);
  }
  // Other line kinds go on whatever the result.
  RecordingSink sink;
  sink.failed = true;
  EXPECT_EQ(TranslateReceiptLine("<", DriverSettings{}, false, sink), LineOutcome::GoOn);
}

TEST(TranslateCurrencyLine, ProgramsOneCurrency) {
  DriverSettings printProgram0;
  printProgram0.CHPRINTPROG = "0";
  const auto tail = [](const std::string& name) {
    return "13 " + Hex(Bytes(1, static_cast<char>(name.size()))) + " " + Hex(name) + " 31 32 32 32";
  };
  const struct {
    std::string line;
    bool newFirmware;
    const DriverSettings settings;
    std::vector<std::string> commands;
  } cases[] = {
      {"1 0004350 EUR",
       false,
       DriverSettings{},
       {"12", "08 45 31", "01 31 01 31", "04 03 05 0A 31", "02 31", tail("EUR")}},
      {"1 0004350 EUR",
       true,
       printProgram0,
       {"12 02 31", "08 45 31", "01 31 01 31", "04 03 0D 05 0A 31", "02 31", tail("EUR")}},
      {"2 0010000",
       false,
       DriverSettings{},
       {"12", "08 45 31", "02 31 01 31", "01 0A 0A 0A 0A 31", "02 31", tail("VALUTA 2")}},
      {"7 0010000 ",
       false,
       DriverSettings{},
       {"12", "08 45 31", "01 31 01 31", "01 0A 0A 0A 0A 31", "02 31", tail("VALUTA 1")}},
      {"9",
       false,
       DriverSettings{},
       {"12", "08 45 31", "01 31 01 31", "0A 31", "02 31", tail("VALUTA 1")}},
  };
  for (const auto& c : cases) {
    RecordingSink sink;
    sink.failed = true;  // results are never looked at
    TranslateCurrencyLine(c.line, c.settings, c.newFirmware, sink);
    EXPECT_EQ(HexCommands(sink), c.commands) << c.line;
  }
  RecordingSink sink;
  TranslateCurrencyLine("3 0000100 " + std::string(300, 'N'), DriverSettings{}, false, sink);
  EXPECT_EQ(sink.commands.at(5), "\x13\xFF" + std::string(255, 'N') + "\x31\x32\x32\x32");
}

TEST(KeyAmount, PutsTheDecimalPointBeforeTheLastTwoDigitsOnNewFirmware) {
  EXPECT_EQ(Hex(KeyAmount("1250", true)), "01 02 0D 05 0A");
  EXPECT_EQ(Hex(KeyAmount("5", true)), "0A 0D 0A 05");
  EXPECT_EQ(Hex(KeyAmount("0", true)), "0A 0D 0A 0A");
  EXPECT_EQ(Hex(KeyAmount("", true)), "0A 0D 0A 0A");
  EXPECT_EQ(Hex(KeyAmount("0005", false)), "05");
}

// Through the real link: every command is FrameHead + "A" + keys + FrameTail,
// framed, and a description length of 16 (0x10) is doubled on the wire.
TEST(TranslateReceiptLine, ComposesFramedCommandsOnTheLink) {
  LinkRig rig;
  rig.link.StartReceiving();
  DriverSettings s;
  s.DESCRIERE = "16";
  TranslateReceiptLine(Pad("ABC", 16) + " 0001.000 00000100 01", s, false, rig.link);
  ASSERT_EQ(rig.reg.frames.size(), 4u);
  EXPECT_EQ(Hex(rig.reg.frames[0]), "10 02 00 00 00 00 41 2A 10 03");
  EXPECT_EQ(Hex(rig.reg.frames[1]).substr(0, 32), "10 02 00 00 00 00 41 13 10 10 41");
  EXPECT_EQ(Hex(rig.reg.frames[3]), "10 02 00 00 00 00 41 01 0A 0A 4B 10 03");
  EXPECT_EQ(rig.reg.acks, 4);
  EXPECT_EQ(int(rig.link.JobError()), 0);
}

}  // namespace
}  // namespace ovix
