// Runs the receipt and currency translations on arbitrary settings and lines
// with a recording sink, and checks the shape of every key command they send.
//
// Input layout:
//   byte 0      bit 0: new firmware; bit 1: take DESCRIERE and PRET as they are
//               (any width from -64 to 255) instead of correcting them the way
//               LoadDriverSettings does; bits 2-7: index of the first command
//               whose result is a failure (63: none fails)
//   then four fields, each ended by '\n':
//               the control characters CHSUBTOTAL, CHTOT, CHCARD, CHCREDIT,
//               CHBONVAL, CHCEC, CHVALUTA, CHREDP, CHREDPS, CHREDA, CHREDAS,
//               CHLINE, one byte each in this order (0x7F: empty setting;
//               missing ones keep their defaults), DESCRIERE, PRET, CHPRINTPROG
//   the rest    a receipt file, split into lines as ReadLines does; each line
//               goes through TranslateReceiptLine (trimmed, as the spool does)
//               and through TranslateCurrencyLine.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "link/frame_codec.h"
#include "os/text.h"
#include "shell/settings.h"
#include "spool/keys.h"
#include "spool/receipt_line.h"
#include "spool/spool_files.h"
#include "spool/translation.h"

namespace ovix::fuzz {
namespace {

// Text entry key, length byte, at most 255 text bytes, and a few keys around.
constexpr std::size_t kMaxCommand = 2 + 255 + 8;
// Lines up to this long make no command longer than kMaxCommand; longer ones
// can make tender and discount amounts with that many digits.
constexpr std::size_t kMaxBoundedLine = 256;
constexpr char kEmptySetting = 0x7F;
constexpr unsigned kNeverFails = 63;

constexpr char kTextEntryKey = 0x13;
constexpr char kPointKey = 0x0D;
constexpr char kTotalKey = 0x31;
constexpr char kCreditKey = 0x32;
constexpr char kSubtotalKey = 0x45;

// Records every command; the one with index failAt and all after it fail, as
// JobError stays 2 for the rest of a job.
class RecordingSink : public KeyCommandSink {
 public:
  explicit RecordingSink(unsigned failAt) : failAt_(failAt) {}
  void SendKeys(std::string_view keys) override {
    if (commands.size() == failAt_) failed = true;
    commands.emplace_back(keys);
  }
  bool CommandFailed() const override { return failed; }
  unsigned failAt() const { return failAt_; }

  std::vector<Bytes> commands;
  bool failed = false;

 private:
  unsigned failAt_;
};

std::string_view LineRest(std::string_view line) {
  return line.size() > 1 ? line.substr(1) : std::string_view{};
}

// An amount keyed from `text`: digit keys (0x00-0x0A) for the text without its
// leading '0's (one zero key when nothing is left); on new firmware padded to
// three digits with the point key before the last two.
void CheckAmount(std::string_view amount, std::string_view text, bool newFirmware) {
  const std::size_t firstKept = text.find_first_not_of('0');
  const std::size_t digits = firstKept == std::string_view::npos ? 1 : text.size() - firstKept;
  if (!newFirmware) {
    OVIX_FUZZ_CHECK(amount.size() == digits);
  } else {
    OVIX_FUZZ_CHECK(amount.size() == std::max<std::size_t>(digits, 3) + 1);
    OVIX_FUZZ_CHECK(amount[amount.size() - 3] == kPointKey);
  }
  for (std::size_t i = 0; i < amount.size(); ++i) {
    if (newFirmware && i == amount.size() - 3) continue;
    OVIX_FUZZ_CHECK(static_cast<unsigned char>(amount[i]) <= keys::kZeroDigit);
  }
}

// A tender or discount command: optional prefix key, the amount, the key.
void CheckAmountCommand(const Bytes& command, std::string_view line, bool newFirmware,
                        std::string_view prefix, char key) {
  OVIX_FUZZ_CHECK(command.starts_with(prefix));
  OVIX_FUZZ_CHECK(command.size() >= prefix.size() + 2);
  OVIX_FUZZ_CHECK(command.back() == key);
  CheckAmount(std::string_view(command).substr(prefix.size(), command.size() - prefix.size() - 1),
              LineRest(line), newFirmware);
}

void CheckTender(std::span<const Bytes> sent, std::string_view line, bool newFirmware, char key) {
  OVIX_FUZZ_CHECK(sent.size() == 1);
  if (line.size() == 1) {
    OVIX_FUZZ_CHECK(sent[0] == Bytes(1, key));
  } else {
    CheckAmountCommand(sent[0], line, newFirmware, "", key);
  }
}

// A percentage: one to three digit keys, then the percent key.
void CheckPercent(const Bytes& command, std::string_view prefix) {
  OVIX_FUZZ_CHECK(command.starts_with(prefix));
  const std::size_t digits = command.size() - prefix.size() - 1;
  OVIX_FUZZ_CHECK(digits >= 1 && digits <= 3);
  OVIX_FUZZ_CHECK(command.back() == 0x1F);
}

// A text entry command: the text entry key, a length byte counting everything
// up to the `trailer`, which ends the command.
std::string_view EntryText(const Bytes& command, std::string_view trailer) {
  OVIX_FUZZ_CHECK(command.size() >= 2 + trailer.size());
  OVIX_FUZZ_CHECK(command[0] == kTextEntryKey);
  OVIX_FUZZ_CHECK(command.ends_with(trailer));
  const std::size_t length = static_cast<unsigned char>(command[1]);
  OVIX_FUZZ_CHECK(length == command.size() - 2 - trailer.size());
  return std::string_view(command).substr(2, length);
}

void CheckSaleItem(std::span<const Bytes> sent, std::string_view line,
                   const DriverSettings& settings, bool failedBefore, LineOutcome outcome,
                   const RecordingSink& sink, std::size_t firstIndex) {
  OVIX_FUZZ_CHECK(sent.size() >= 2);
  OVIX_FUZZ_CHECK(sent[0] == "\x2A");
  const std::size_t width = static_cast<std::size_t>(std::max(0, DescriptionWidth(settings)));
  OVIX_FUZZ_CHECK(EntryText(sent[1], Bytes(1, kTotalKey)) == line.substr(0, width));
  OVIX_FUZZ_CHECK((outcome == LineOutcome::ReceiptFailed) == sink.failed);
  // The failure flag is looked at after the description, the quantity and the
  // price; the line stops at the first look that finds it set.
  if (failedBefore || sink.failAt() <= firstIndex + 1) {
    OVIX_FUZZ_CHECK(sent.size() == 2);
    return;
  }
  OVIX_FUZZ_CHECK(sent.size() >= 3);
  const bool negative = sent[2] == "\x3B";
  const std::size_t quantity = 2 + (negative ? 1 : 0);
  const bool failedAtQuantity = sink.failAt() <= firstIndex + quantity;
  OVIX_FUZZ_CHECK(sent.size() == quantity + (failedAtQuantity ? 1 : 2));
  OVIX_FUZZ_CHECK(sent[quantity].size() >= 2 && sent[quantity].back() == 0x1B);
  if (failedAtQuantity) return;
  OVIX_FUZZ_CHECK(sent[quantity + 1].size() >= 2);
}

void CheckReceiptLine(std::string_view line, const DriverSettings& settings, bool newFirmware,
                      RecordingSink& sink) {
  const std::size_t first = sink.commands.size();
  const bool failedBefore = sink.failed;
  const LineKind kind = ClassifyReceiptLine(line, settings);
  const LineOutcome outcome = TranslateReceiptLine(line, settings, newFirmware, sink);
  const std::span<const Bytes> sent = std::span(sink.commands).subspan(first);

  for (const Bytes& command : sent) {
    OVIX_FUZZ_CHECK(!command.empty());
    if (line.size() <= kMaxBoundedLine) OVIX_FUZZ_CHECK(command.size() <= kMaxCommand);
  }
  OVIX_FUZZ_CHECK((outcome == LineOutcome::ReceiptPrinted) == (kind == LineKind::Credit));
  if (outcome == LineOutcome::ReceiptFailed) OVIX_FUZZ_CHECK(kind == LineKind::SaleItem);

  const std::string subtotal(1, kSubtotalKey);
  switch (kind) {
    case LineKind::Subtotal:
      OVIX_FUZZ_CHECK(sent.size() == 1 && sent[0] == subtotal);
      break;
    case LineKind::Total:
      CheckTender(sent, line, newFirmware, kTotalKey);
      break;
    case LineKind::Card:
      CheckTender(sent, line, newFirmware, 0x36);
      break;
    case LineKind::Credit:
      OVIX_FUZZ_CHECK(sent.size() == 1 && sent[0] == Bytes(1, kCreditKey));
      break;
    case LineKind::Voucher:
      CheckTender(sent, line, newFirmware, 0x34);
      break;
    case LineKind::Cheque:
      CheckTender(sent, line, newFirmware, 0x33);
      break;
    case LineKind::ForeignCurrency:
      OVIX_FUZZ_CHECK(sent.size() == 1 && sent[0].size() == 3);
      OVIX_FUZZ_CHECK(static_cast<unsigned char>(sent[0][0]) <= 9);
      OVIX_FUZZ_CHECK(sent[0].substr(1) == "\x35\x31");
      break;
    case LineKind::PercentDiscount:
      OVIX_FUZZ_CHECK(sent.size() == 1);
      CheckPercent(sent[0], "");
      break;
    case LineKind::PercentDiscountOnSubtotal:
      OVIX_FUZZ_CHECK(sent.size() == 1);
      CheckPercent(sent[0], subtotal);
      break;
    case LineKind::ValueDiscount:
      OVIX_FUZZ_CHECK(sent.size() == 1);
      CheckAmountCommand(sent[0], line, newFirmware, "", 0x21);
      break;
    case LineKind::ValueDiscountOnSubtotal:
      OVIX_FUZZ_CHECK(sent.size() == 1);
      CheckAmountCommand(sent[0], line, newFirmware, subtotal, 0x21);
      break;
    case LineKind::FreeText:
      if (line.size() == 1) {
        OVIX_FUZZ_CHECK(sent.empty());
      } else {
        OVIX_FUZZ_CHECK(sent.size() == 1);
        const std::string_view text = EntryText(sent[0], "\x38");
        OVIX_FUZZ_CHECK(text.starts_with("\x03\x02"));
        OVIX_FUZZ_CHECK(text.substr(2) == line.substr(1, kMaxFreeText));
      }
      break;
    case LineKind::SaleItem:
      CheckSaleItem(sent, line, settings, failedBefore, outcome, sink, first);
      break;
  }
}

void CheckCurrencyLine(std::string_view line, const DriverSettings& settings, bool newFirmware) {
  RecordingSink sink(~0u);
  TranslateCurrencyLine(line, settings, newFirmware, sink);
  const std::vector<Bytes>& sent = sink.commands;
  OVIX_FUZZ_CHECK(sent.size() == 6);
  OVIX_FUZZ_CHECK(sent[0] == (LeadingNumber(settings.CHPRINTPROG) == 1 ? Bytes("\x12")
                                                                       : Bytes("\x12\x02\x31")));
  OVIX_FUZZ_CHECK(sent[1] == "\x08\x45\x31");
  OVIX_FUZZ_CHECK(sent[2].size() == 4 && sent[2].substr(1) == "\x31\x01\x31");
  const int number = sent[2][0];
  OVIX_FUZZ_CHECK(number >= 1 && number <= 4);
  OVIX_FUZZ_CHECK(sent[3].size() >= 2 && sent[3].back() == kTotalKey);
  CheckAmount(std::string_view(sent[3]).substr(0, sent[3].size() - 1), Columns(line, 3, 9),
              newFirmware);
  OVIX_FUZZ_CHECK(sent[4] == "\x02\x31");
  const std::string_view name = EntryText(sent[5], "\x31\x32\x32\x32");
  const std::string_view given = line.size() > 10 ? line.substr(10) : std::string_view{};
  if (given.empty()) {
    OVIX_FUZZ_CHECK(name == "VALUTA " + std::to_string(number));
  } else {
    OVIX_FUZZ_CHECK(name == given.substr(0, kMaxCurrencyName));
  }
  for (const Bytes& command : sent) OVIX_FUZZ_CHECK(command.size() <= kMaxCommand);
}

// A value as the INI reader can return it: at most kMaxIniValueLength bytes.
std::string IniValue(std::string_view text) {
  return std::string(text.substr(0, kMaxIniValueLength));
}

DriverSettings SettingsFrom(InputReader& in, bool rawWidths) {
  DriverSettings s;
  const std::array<std::string*, 12> controls = {
      &s.CHSUBTOTAL, &s.CHTOT,  &s.CHCARD,  &s.CHCREDIT, &s.CHBONVAL, &s.CHCEC,
      &s.CHVALUTA,   &s.CHREDP, &s.CHREDPS, &s.CHREDA,   &s.CHREDAS,  &s.CHLINE,
  };
  const std::string_view chars = in.Until('\n');
  for (std::size_t i = 0; i < std::min(chars.size(), controls.size()); ++i) {
    *controls[i] = chars[i] == kEmptySetting ? std::string() : std::string(1, chars[i]);
  }
  s.DESCRIERE = IniValue(in.Until('\n'));
  s.PRET = IniValue(in.Until('\n'));
  s.CHPRINTPROG = IniValue(in.Until('\n'));

  const bool rawUsable = DescriptionWidth(s) >= -64 && DescriptionWidth(s) <= 255 &&
                         PriceWidth(s) >= -64 && PriceWidth(s) <= 255;
  if (!rawWidths || !rawUsable) {
    const double description = LeadingNumber(s.DESCRIERE);
    if (!(description > 0 && description <= 32)) s.DESCRIERE = DriverSettings{}.DESCRIERE;
    const double price = LeadingNumber(s.PRET);
    if (!(price > 0 && price <= 9)) s.PRET = DriverSettings{}.PRET;
  }
  return s;
}

}  // namespace
}  // namespace ovix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ovix;
  using namespace ovix::fuzz;
  InputReader in(data, size);
  const std::uint8_t flags = in.Byte();
  const bool newFirmware = (flags & 1) != 0;
  const unsigned failAt = flags >> 2;
  const DriverSettings settings = SettingsFrom(in, (flags & 2) != 0);

  RecordingSink sink(failAt == kNeverFails ? ~0u : failAt);
  for (const std::string& raw : SplitLines(in.Rest())) {
    const std::string_view line = TrimSpaces(raw);
    if (!line.empty()) CheckReceiptLine(line, settings, newFirmware, sink);
    if (!raw.empty()) CheckCurrencyLine(raw, settings, newFirmware);
  }
  return 0;
}
