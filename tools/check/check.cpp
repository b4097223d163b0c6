#include "check/check.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "link/frame_codec.h"
#include "link/printer_link.h"
#include "spool/digit_keys.h"
#include "spool/job_file.h"
#include "spool/receipt_line.h"
#include "spool/spool_files.h"
#include "spool/translation.h"

namespace ovix::check {
namespace {

constexpr std::string_view kKeyedAsZero = "each is keyed as 0x00";
constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr const char* kSkipped = "empty (skipped)";

// Keeps the commands in a report instead of sending them; none ever fails.
class Recorder : public KeyCommandSink {
 public:
  explicit Recorder(std::vector<Bytes>& commands) : commands_(commands) {}
  void SendKeys(std::string_view keys) override { commands_.emplace_back(keys); }
  bool CommandFailed() const override { return false; }

 private:
  std::vector<Bytes>& commands_;
};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool AllDigits(std::string_view text, std::size_t width) {
  return text.size() == width && std::all_of(text.begin(), text.end(), IsDigit);
}

// Text in quotes, with quotes, backslashes and bytes outside printable ASCII as \xNN.
std::string Shown(std::string_view text, char quote = '"') {
  std::string out(1, quote);
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x7F || c == quote || c == '\\') {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + quote;
}

std::string Hex(const Bytes& bytes) {
  std::string out;
  for (unsigned char b : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, " %02X", b);
    out += pair;
  }
  return out;
}

std::string KindName(LineKind kind) {
  static constexpr const char* kNames[] = {"subtotal",
                                           "total",
                                           "card",
                                           "credit",
                                           "voucher",
                                           "cheque",
                                           "foreign currency",
                                           "% discount",
                                           "% discount on subtotal",
                                           "value discount",
                                           "value discount on subtotal",
                                           "free text",
                                           "sale item"};
  return kNames[static_cast<int>(kind)];
}

// Whether the item columns of a line hold what a sale item has there.
bool LooksLikeSaleItem(std::string_view line, int d, int p) {
  const SaleItemFields f = CutSaleItem(line, d, p);
  const std::string quantity =
      f.quantity.starts_with('-') ? "0" + f.quantity.substr(1) : f.quantity;
  return AllDigits(quantity, 4) && AllDigits(f.fraction, 3) &&
         AllDigits(f.price, static_cast<std::size_t>(p)) && AllDigits(f.department, 2);
}

LineReport Line(int number, std::string kind = {}) {
  LineReport r;
  r.number = number;
  r.kind = std::move(kind);
  return r;
}

void Warn(LineReport& r, int column, std::string text) {
  r.warnings.push_back({column, std::move(text)});
}

// Warns once about the non-digits of a numeric field that starts at column
// `first`; a leading '-' is the sign of a quantity and allowed when signAllowed.
void CheckDigits(LineReport& r, std::string_view name, std::string_view value, int first,
                 std::string_view consequence, bool signAllowed = false) {
  constexpr int kListed = 3;
  std::string where;
  int firstColumn = 0, count = 0;
  for (std::size_t i = signAllowed && value.starts_with('-') ? 1 : 0; i < value.size(); ++i) {
    if (IsDigit(value[i])) continue;
    const int column = first + static_cast<int>(i);
    if (count++ == 0) firstColumn = column;
    if (count > kListed) continue;
    where += (count > 1 ? ", " : "") + Shown(value.substr(i, 1), '\'') + " at column " +
             std::to_string(column);
  }
  if (count == 0) return;
  if (count > kListed) where += ", ... (" + std::to_string(count) + " in all)";
  Warn(r, firstColumn,
       std::string(name) + " " + Shown(value) + " has non-digits " + where + ": " +
           std::string(consequence));
}

// Warns when a fixed-width field is cut short by the end of the line; true if so.
bool CheckWidth(LineReport& r, std::string_view name, std::string_view value, int first,
                int width) {
  if (static_cast<int>(value.size()) >= width) return false;
  const std::string columns =
      " (columns " + std::to_string(first) + "-" + std::to_string(first + width - 1) + ")";
  Warn(r, first,
       "line too short: " + (value.empty() ? "it ends before the " + std::string(name) + columns +
                                                 "; the missing fields count as zero"
                                           : "the " + std::string(name) + columns + " has only " +
                                                 std::to_string(value.size()) + " of " +
                                                 std::to_string(width) + " characters"));
  return true;
}

void CheckIgnoredFrom(LineReport& r, std::string_view line, int column, std::string_view what) {
  if (static_cast<int>(line.size()) >= column) {
    Warn(r, column,
         "characters from column " + std::to_string(column) + " on are ignored (" +
             std::string(what) + ")");
  }
}

void CheckSaleItem(LineReport& r, std::string_view line, int d, int p) {
  const SaleItemFields f = CutSaleItem(line, d, p);
  const bool negative = f.quantity.starts_with('-');
  r.fields = {{"description", f.description}, {"quantity", f.quantity},
              {"fraction", f.fraction},       {"price", f.price},
              {"department", f.department},   {"negative", negative ? "yes" : "no", false}};
  const bool fractionKeyed = ReceiptFieldNumber(f.fraction) != 0;
  const bool priceKeyed = ReceiptFieldNumber(f.price) != 0;
  // The department key is the last byte the driver sent for the item.
  char department[64];
  std::snprintf(department, sizeof department, "the department reads as %g (key 0x%02X)",
                ReceiptFieldNumber(f.department),
                static_cast<unsigned char>(r.commands.back().back()));
  CheckDigits(r, "quantity", f.quantity, d + 2, kKeyedAsZero, true);
  CheckDigits(r, "fraction", f.fraction, d + 7,
              fractionKeyed ? kKeyedAsZero : "the fraction reads as 0 and is not keyed");
  CheckDigits(r, "price", f.price, d + 11,
              priceKeyed ? kKeyedAsZero : "the price reads as 0 and is keyed as zero");
  CheckDigits(r, "department", f.department, d + 12 + p, department);
  // Past the first short field the others are empty; one warning says it.
  (void)(CheckWidth(r, "quantity", f.quantity, d + 2, 4) ||
         CheckWidth(r, "fraction", f.fraction, d + 7, 3) ||
         CheckWidth(r, "price", f.price, d + 11, p) ||
         CheckWidth(r, "department", f.department, d + 12 + p, 2));
  CheckIgnoredFrom(r, line, d + 14 + p, "after the department");
}

// The amount after a payment's or value discount's control character; `missing` says what
// happens without one when it is required.
void CheckAmount(LineReport& r, std::string_view rest, bool required, std::string_view missing) {
  r.fields.push_back(rest.empty() && !required ? Field{"amount", "none (the exact amount)", false}
                                               : Field{"amount", std::string(rest)});
  CheckDigits(r, "amount", rest, 2, kKeyedAsZero);
  if (required && rest.empty()) Warn(r, 2, "amount missing: " + std::string(missing));
}

void CheckCurrencyNumber(LineReport& r, std::string_view line) {
  const std::string_view number = Columns(line, 2, 2);
  r.fields.push_back({"currency", std::string(number)});
  if (number.empty()) {
    Warn(r, 2, "currency number missing: it is keyed as currency 0");
  } else if (!IsDigit(number[0])) {
    CheckDigits(r, "currency number", number, 2, "it is keyed as currency 0");
  } else if (number[0] < '1' || number[0] > '4') {
    Warn(r, 2, "currency " + std::string(number) + " is outside 1-4, the programmable ones");
  }
  CheckIgnoredFrom(r, line, 3, "the currency number is one digit");
}

void CheckPercentage(LineReport& r, std::string_view line) {
  const std::string_view percentage = Columns(line, 2, 4);
  r.fields.push_back({"percentage", std::string(percentage)});
  CheckDigits(r, "percentage", percentage, 2, kKeyedAsZero);
  if (percentage.empty()) Warn(r, 2, "percentage missing: the discount counts as zero");
  if (ReceiptFieldNumber(percentage) > 100) Warn(r, 2, "percentage over 100");
  CheckIgnoredFrom(r, line, 5, "the percentage is columns 2-4");
}

void CheckFreeText(LineReport& r, std::string_view line) {
  const std::string_view rest = line.substr(1);
  r.fields.push_back({"text", std::string(rest)});
  if (rest.empty()) Warn(r, 1, "free text line without text: nothing is sent or printed");
  CheckIgnoredFrom(r, line, kMaxFreeText + 2, "free text longer than 253 characters is cut");
}

void CheckReceiptLine(LineReport& r, std::string_view line, LineKind kind,
                      const DriverSettings& s) {
  const std::string_view rest = line.substr(1);
  if (kind != LineKind::SaleItem && LooksLikeSaleItem(line, DescriptionWidth(s), PriceWidth(s))) {
    Warn(r, 1,
         "looks like a sale item, but its first character " + Shown(line.substr(0, 1), '\'') +
             " makes it a " + r.kind + " line");
  }
  switch (kind) {
    case LineKind::Subtotal:
    case LineKind::Credit:
      CheckIgnoredFrom(r, line, 2, "nothing is read after the control character");
      break;
    case LineKind::Total:
    case LineKind::Card:
      CheckAmount(r, rest, false, "");
      break;
    case LineKind::Voucher:
    case LineKind::Cheque:
      CheckAmount(r, rest, true, "the tender key is pressed alone, paying the exact amount");
      break;
    case LineKind::ValueDiscount:
    case LineKind::ValueDiscountOnSubtotal:
      CheckAmount(r, rest, true, "the discount counts as zero");
      break;
    case LineKind::ForeignCurrency:
      CheckCurrencyNumber(r, line);
      break;
    case LineKind::PercentDiscount:
    case LineKind::PercentDiscountOnSubtotal:
      CheckPercentage(r, line);
      break;
    case LineKind::FreeText:
      CheckFreeText(r, line);
      break;
    case LineKind::SaleItem:
      CheckSaleItem(r, line, DescriptionWidth(s), PriceWidth(s));
      break;
  }
}

LineReport CheckCurrencyLine(const SentLine& sent, const DriverSettings& s, bool newFirmware) {
  const std::string_view line = sent.text;
  LineReport r = Line(static_cast<int>(sent.index) + 1, "currency line");
  Recorder recorder(r.commands);
  TranslateCurrencyLine(line, s, newFirmware, recorder);
  const CurrencyLineFields c = CutCurrencyLine(line);
  r.fields = {{"currency number", c.writtenNumber},
              {"exchange rate", c.rate},
              c.writtenName.empty() ? Field{"default name", c.name} : Field{"name", c.writtenName}};
  if (TrimSpaces(line).empty()) {
    Warn(r, 1, "a line of blanks is not skipped in a currency file: it programs currency 1");
    return r;
  }
  if (c.number != c.writtenNumber) {
    Warn(r, 1, "currency number " + Shown(c.writtenNumber) + " is outside 1-4: it is taken as 1");
  }
  CheckDigits(r, "exchange rate", c.rate, 3, kKeyedAsZero);
  CheckWidth(r, "exchange rate", c.rate, 3, 7);
  CheckIgnoredFrom(r, line, 11 + kMaxCurrencyName,
                   "currency names longer than 255 characters are cut");
  return r;
}

// Reports the lines before line `end` (from 0) that are not reported yet:
// lines the driver does not send.
void AddUnsent(FileReport& f, std::size_t end, const char* kind) {
  while (f.lines.size() < end) f.lines.push_back(Line(static_cast<int>(f.lines.size()) + 1, kind));
}

void CheckCurrencyFile(FileReport& f, const JobFile& job, const DriverSettings& s,
                       bool newFirmware) {
  f.kind = FileKind::CurrencyProgramming;
  LineReport marker = Line(1, "currency-programming marker (the rest of the line is ignored)");
  if (LooksLikeSaleItem(job.lines[0], DescriptionWidth(s), PriceWidth(s))) {
    Warn(marker, 1,
         "looks like a sale item, but its first character makes the whole file a "
         "currency-programming file");
  }
  f.lines.push_back(std::move(marker));
  for (const SentLine& sent : LinesToSend(job, s)) {
    AddUnsent(f, sent.index, kSkipped);
    f.lines.push_back(CheckCurrencyLine(sent, s, newFirmware));
  }
  AddUnsent(f, job.lines.size(), kSkipped);
  if (HasNothingToSend(job)) {
    f.warnings.push_back("no currency line: the driver deletes the file and programs nothing");
  }
}

void CheckReceipt(FileReport& f, const JobFile& job, const DriverSettings& s, bool newFirmware) {
  f.kind = FileKind::Receipt;
  bool creditSeen = false, paid = false;
  for (const SentLine& sent : LinesToSend(job, s)) {
    AddUnsent(f, sent.index, kSkipped);
    LineReport r = Line(static_cast<int>(sent.index) + 1);
    r.leadingSpaces = static_cast<int>(job.lines[sent.index].find_first_not_of(' '));
    const LineKind kind = ClassifyReceiptLine(sent.text, s);
    r.kind = KindName(kind);
    paid = paid || IsPayment(kind);
    Recorder recorder(r.commands);
    creditSeen =
        TranslateReceiptLine(sent.text, s, newFirmware, recorder) == LineOutcome::ReceiptPrinted;
    CheckReceiptLine(r, sent.text, kind, s);
    f.lines.push_back(std::move(r));
  }
  AddUnsent(f, job.lines.size(), creditSeen ? "not read (credit ended the receipt)" : kSkipped);
  if (HasNothingToSend(job)) {
    f.kind = FileKind::Empty;
    f.warnings.push_back("no printable line: the driver files the receipt to the error directory");
  } else if (!paid) {
    f.warnings.push_back("no payment line: the receipt stays open on the register");
  }
}

}  // namespace

int FileReport::WarningCount() const {
  std::size_t count = warnings.size();
  for (const LineReport& line : lines) count += line.warnings.size();
  return static_cast<int>(count);
}

FileReport CheckLines(const std::vector<std::string>& lines, const DriverSettings& s,
                      bool newFirmware) {
  FileReport f;
  if (!lines.empty() && lines[0].starts_with(kBom)) {
    f.warnings.push_back(
        "the file begins with a UTF-8 byte order mark, which the driver reads as three "
        "characters of the first line");
  }
  const JobFile job = MakeJobFile(lines, s);
  if (job.kind == JobKind::CurrencyProgramming) {
    CheckCurrencyFile(f, job, s, newFirmware);
  } else {
    CheckReceipt(f, job, s, newFirmware);
  }
  return f;
}

FileReport CheckFile(const std::string& path, const DriverSettings& settings, bool newFirmware) {
  FileReport f;
  std::string error;
  if (std::optional<std::vector<std::string>> lines = ReadLines(SystemEnv(), path, &error)) {
    f = CheckLines(*lines, settings, newFirmware);
  } else {
    f.kind = FileKind::Unreadable;
    f.error = error;
  }
  f.path = path;
  return f;
}

std::string FormatReport(const FileReport& f) {
  static constexpr const char* kKinds[] = {"receipt", "currency programming", "empty", ""};
  if (f.kind == FileKind::Unreadable) return f.path + ": cannot be read: " + f.error + "\n";
  std::string out = f.path + ": " + kKinds[static_cast<int>(f.kind)] + "\n";
  for (const LineReport& r : f.lines) {
    out += "  line " + std::to_string(r.number);
    if (r.leadingSpaces > 0)
      out += " (" + std::to_string(r.leadingSpaces) + " leading spaces removed)";
    out += ": " + r.kind;
    const char* separator = ": ";
    for (const Field& field : r.fields) {
      out += separator + field.name + " " + (field.quoted ? Shown(field.value) : field.value);
      separator = ", ";
    }
    out += "\n";
    for (const Bytes& command : r.commands) out += "    A" + Hex(command) + "\n";
    for (const Warning& w : r.warnings) {
      out += "    warning: line " + std::to_string(r.number);
      if (w.column > 0) out += ", column " + std::to_string(w.column);
      if (w.column > 0 && r.leadingSpaces > 0) {
        out += " (after removing " + std::to_string(r.leadingSpaces) + " leading spaces)";
      }
      out += ": " + w.text + "\n";
    }
  }
  for (const std::string& w : f.warnings) out += "  warning: " + w + "\n";
  const int count = f.WarningCount();
  out += "  " + (count == 0 ? std::string("no warnings") : std::to_string(count) + " warning(s)");
  return out + "\n";
}

int ExitStatus(const std::vector<FileReport>& reports) {
  int status = 0;
  for (const FileReport& f : reports) {
    if (f.kind == FileKind::Unreadable) return 2;
    if (f.WarningCount() > 0) status = 1;
  }
  return status;
}

}  // namespace ovix::check
