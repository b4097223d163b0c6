#include "spool/job_file.h"

#include "spool/digit_keys.h"
#include "spool/receipt_line.h"

namespace ovix {
namespace {

// What would be sent of line i if it is read; empty when it is skipped. The
// one place that says which lines count, for HasNothingToSend and LinesToSend alike.
std::string_view SendableText(const JobFile& job, std::size_t i) {
  if (job.kind == JobKind::CurrencyProgramming) return i == 0 ? std::string_view{} : job.lines[i];
  return TrimSpaces(job.lines[i]);
}

}  // namespace

JobKind KindOf(const std::vector<std::string>& lines, const DriverSettings& settings) {
  const std::string& marker = settings.CHPROGVAL;
  const bool currency = !lines.empty() && marker.size() == 1 && lines.front().starts_with(marker);
  return currency ? JobKind::CurrencyProgramming : JobKind::Receipt;
}

JobFile MakeJobFile(std::vector<std::string> lines, const DriverSettings& settings) {
  const JobKind kind = KindOf(lines, settings);
  return JobFile{kind, std::move(lines)};
}

bool HasNothingToSend(const JobFile& job) {
  for (std::size_t i = 0; i < job.lines.size(); ++i) {
    if (!SendableText(job, i).empty()) return false;
  }
  return true;
}

std::vector<SentLine> LinesToSend(const JobFile& job, const DriverSettings& settings) {
  std::vector<SentLine> sent;
  for (std::size_t i = 0; i < job.lines.size(); ++i) {
    const std::string_view text = SendableText(job, i);
    if (text.empty()) continue;
    sent.push_back({i, text});
    if (job.kind == JobKind::Receipt && ClassifyReceiptLine(text, settings) == LineKind::Credit)
      break;
  }
  return sent;
}

CurrencyLineFields CutCurrencyLine(std::string_view line) {
  CurrencyLineFields f;
  f.writtenNumber = Columns(line, 1, 1);
  const double value = ReceiptFieldNumber(f.writtenNumber);
  const bool programmable = value >= 1 && value <= 4;
  f.number = programmable ? f.writtenNumber : "1";
  f.numberKey = static_cast<char>(programmable ? value : 1);
  f.rate = Columns(line, 3, 9);
  f.writtenName = Columns(line, 11, static_cast<int>(line.size()));
  f.name = f.writtenName.empty() ? "VALUTA " + f.number : f.writtenName.substr(0, kMaxCurrencyName);
  return f;
}

}  // namespace ovix
