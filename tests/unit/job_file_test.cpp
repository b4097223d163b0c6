#include "spool/job_file.h"

#include <gtest/gtest.h>

namespace ovix {
namespace {

TEST(JobFile, KindAndLinesToSend) {
  struct Case {
    std::vector<std::string> lines;
    std::string marker;  // CHPROGVAL
    JobKind kind;
    std::vector<std::string> sent;  // "index:text"; none: nothing to send
  };
  const Case cases[] = {
      {{"-", "1 0004350 EUR", "", " "},
       "-",
       JobKind::CurrencyProgramming,
       {"1:1 0004350 EUR", "3: "}},
      {{"-x", "", ""}, "-", JobKind::CurrencyProgramming, {}},
      {{" -", "<"}, "-", JobKind::Receipt, {"0:-", "1:<"}},
      {{"--", "<"}, "--", JobKind::Receipt, {"0:--", "1:<"}},
      {{"  PAINE  ", "", "?", "<", ""}, "-", JobKind::Receipt, {"0:PAINE", "2:?"}},
      {{"  ", ""}, "-", JobKind::Receipt, {}},
      {{}, "-", JobKind::Receipt, {}},
  };
  for (const Case& c : cases) {
    DriverSettings s;
    s.CHPROGVAL = c.marker;
    const JobFile job = MakeJobFile(c.lines, s);
    EXPECT_EQ(job.kind, c.kind) << testing::PrintToString(c.lines);
    EXPECT_EQ(job.lines, c.lines);
    std::vector<std::string> sent;
    for (const SentLine& l : LinesToSend(job, s)) {
      sent.push_back(std::to_string(l.index) + ":" + std::string(l.text));
    }
    EXPECT_EQ(sent, c.sent) << testing::PrintToString(c.lines);
    EXPECT_EQ(HasNothingToSend(job), c.sent.empty()) << testing::PrintToString(c.lines);
  }
}

TEST(JobFile, CutsCurrencyLinesWithTheirDefaults) {
  struct Case {
    std::string line;
    std::string number;
    char key;
    std::string rate;
    std::string name;
  };
  const std::string longName(300, 'N');
  const Case cases[] = {
      {"2 0004010 USD", "2", 2, "0004010", "USD"},
      {"7 43.50", "1", 1, "43.50", "VALUTA 1"},
      {"4", "4", 4, "", "VALUTA 4"},
      {"x 0000100 " + longName, "1", 1, "0000100", longName.substr(0, 255)},
  };
  for (const Case& c : cases) {
    const CurrencyLineFields f = CutCurrencyLine(c.line);
    EXPECT_EQ(f.writtenNumber, c.line.substr(0, 1));
    EXPECT_EQ(f.number, c.number) << c.line;
    EXPECT_EQ(f.numberKey, c.key) << c.line;
    EXPECT_EQ(f.rate, c.rate) << c.line;
    EXPECT_EQ(f.writtenName, c.line.size() > 10 ? c.line.substr(10) : "") << c.line;
    EXPECT_EQ(f.name, c.name) << c.line;
  }
}

}  // namespace
}  // namespace ovix
