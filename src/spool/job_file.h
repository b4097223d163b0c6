// What a job file of the spool is: a receipt or a currency-programming file,
// whether it has anything to send, which of its lines are sent and in which
// form, and the fields of a currency line. Plain functions over the lines as
// ReadLines gives them; nothing here reads files or talks to the register.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "shell/settings.h"

namespace ovix {

enum class JobKind { Receipt, CurrencyProgramming };

struct JobFile {
  JobKind kind = JobKind::Receipt;
  std::vector<std::string> lines;  // as ReadLines gives them: not trimmed, empty ones kept
};

// A currency-programming file when CHPROGVAL is exactly one character and the
// first line, not trimmed, begins with it; otherwise (no line at all too) a receipt.
JobKind KindOf(const std::vector<std::string>& lines, const DriverSettings& settings);

// The lines with their kind (KindOf).
JobFile MakeJobFile(std::vector<std::string> lines, const DriverSettings& settings);

// True when the file has no line to send (LinesToSend is empty): a currency
// file whose lines after the first are all empty, or a receipt whose lines
// are all blank (spaces only) or that has no line.
bool HasNothingToSend(const JobFile& job);

struct SentLine {
  std::size_t index;      // of the line in JobFile::lines, from 0
  std::string_view text;  // what is sent of it; points into JobFile::lines
};

// The lines sent, in file order. Of a receipt: each line trimmed of spaces
// (TrimSpaces), the empty ones skipped, up to and including the first credit
// line (LineKind::Credit), after which nothing is read. Of a currency file:
// every non-empty line after the first (the marker line), unchanged. The
// texts are valid while job.lines is neither changed nor destroyed.
std::vector<SentLine> LinesToSend(const JobFile& job, const DriverSettings& settings);

// The fields of a currency line: a non-empty line of a currency-programming
// file after its first, not trimmed. Characters are counted from 1.
struct CurrencyLineFields {
  std::string writtenNumber;  // character 1 as written; empty for an empty line
  // The currency programmed: writtenNumber when it reads (ReceiptFieldNumber)
  // as 1 to 4, otherwise "1".
  std::string number;
  char numberKey = 1;       // number as its digit key, 0x01 to 0x04
  std::string rate;         // characters 3 to 9: the exchange rate, as written
  std::string writtenName;  // characters 11 to the end, as written
  // The currency's name: writtenName cut to kMaxCurrencyName characters, or
  // "VALUTA " + number when writtenName is empty.
  std::string name;
};
CurrencyLineFields CutCurrencyLine(std::string_view line);

}  // namespace ovix
