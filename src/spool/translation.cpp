#include "spool/translation.h"

#include "link/frame_codec.h"
#include "spool/receipt_line.h"

namespace ovix {
namespace {

constexpr char kQuantityKey = 0x1B;
constexpr char kPercentKey = 0x1F;
constexpr char kValueDiscountKey = 0x21;
constexpr char kItemKey = 0x2A;
constexpr char kTotalKey = 0x31;
constexpr char kCreditKey = 0x32;
constexpr char kChequeKey = 0x33;
constexpr char kVoucherKey = 0x34;
constexpr char kCurrencyKey = 0x35;
constexpr char kCardKey = 0x36;
constexpr char kPrintTextKey = 0x38;
constexpr char kNegativeKey = 0x3B;
constexpr char kSubtotalKey = 0x45;
constexpr char kTextEntryKey = 0x13;
constexpr char kPointKey = 0x0D;
constexpr int kFirstDepartmentKey = 0x4A;

Bytes Key(char k) {
  return Bytes(1, k);
}

// Pads digit keys to three with zero keys in front and puts the decimal point
// key before the last two: the amount form of the newer firmware.
Bytes WithDecimalPoint(Bytes k) {
  if (k.size() < 3) k.insert(0, 3 - k.size(), static_cast<char>(kZeroDigit));
  k.insert(k.size() - 2, 1, kPointKey);
  return k;
}

// The value of a small numeric field as one key byte (wrapping like a byte).
char ByteOf(double value) {
  return static_cast<char>(static_cast<int>(value) & 0xFF);
}

Bytes TextEntry(std::string_view text) {
  return Key(kTextEntryKey) + static_cast<char>(text.size()) + std::string(text);
}

LineOutcome SendSaleItem(std::string_view line, const DriverSettings& settings, bool newFirmware,
                         KeyCommandSink& sink) {
  SaleItemFields f = CutSaleItem(line, DescriptionWidth(settings), PriceWidth(settings));
  const bool itemIsNegative = !f.quantity.empty() && f.quantity[0] == '-';
  if (itemIsNegative) f.quantity.erase(0, 1);

  const Bytes q = EncodeDigits(f.quantity, newFirmware);
  Bytes p = ReceiptFieldNumber(f.price) == 0 ? Bytes(3, static_cast<char>(kZeroDigit))
                                             : EncodeDigits(f.price, newFirmware);
  if (newFirmware) p = WithDecimalPoint(p);
  const char department = ByteOf(kFirstDepartmentKey + ReceiptFieldNumber(f.department));

  sink.SendKeys(Key(kItemKey));
  sink.SendKeys(TextEntry(f.description) + kTotalKey);
  if (sink.CommandFailed()) return LineOutcome::ReceiptFailed;
  if (itemIsNegative) sink.SendKeys(Key(kNegativeKey));
  if (ReceiptFieldNumber(f.fraction) != 0) {
    sink.SendKeys(q + kPointKey + EncodeFraction(f.fraction) + kQuantityKey);
  } else {
    sink.SendKeys(q + kQuantityKey);
  }
  if (sink.CommandFailed()) return LineOutcome::ReceiptFailed;
  sink.SendKeys(p + department);
  if (sink.CommandFailed()) return LineOutcome::ReceiptFailed;
  return LineOutcome::GoOn;
}

}  // namespace

Bytes KeyAmount(std::string_view digits, bool newFirmware) {
  Bytes k = EncodeDigits(digits, newFirmware);
  return newFirmware ? WithDecimalPoint(std::move(k)) : k;
}

LineOutcome TranslateReceiptLine(std::string_view line, const DriverSettings& settings,
                                 bool newFirmware, KeyCommandSink& sink) {
  const std::string_view rest = line.size() > 1 ? line.substr(1) : std::string_view{};
  const auto amountThen = [&](char key) { return KeyAmount(rest, newFirmware) + key; };
  // A tender line without an amount presses its tender key alone, so that the
  // receipt is still paid and closed on the register.
  const auto tender = [&](char key) { sink.SendKeys(rest.empty() ? Key(key) : amountThen(key)); };

  switch (ClassifyReceiptLine(line, settings)) {
    case LineKind::Subtotal:
      sink.SendKeys(Key(kSubtotalKey));
      break;
    case LineKind::Total:
      tender(kTotalKey);
      break;
    case LineKind::Card:
      tender(kCardKey);
      break;
    case LineKind::Credit:
      sink.SendKeys(Key(kCreditKey));
      return LineOutcome::ReceiptPrinted;
    case LineKind::Voucher:
      tender(kVoucherKey);
      break;
    case LineKind::Cheque:
      tender(kChequeKey);
      break;
    case LineKind::ForeignCurrency:
      sink.SendKeys(
          Bytes{ByteOf(ReceiptFieldNumber(Columns(line, 2, 2))), kCurrencyKey, kTotalKey});
      break;
    case LineKind::PercentDiscount:
      sink.SendKeys(EncodeDigits(Columns(line, 2, 4), newFirmware) + kPercentKey);
      break;
    case LineKind::PercentDiscountOnSubtotal:
      sink.SendKeys(kSubtotalKey + EncodeDigits(Columns(line, 2, 4), newFirmware) + kPercentKey);
      break;
    case LineKind::ValueDiscount:
      sink.SendKeys(amountThen(kValueDiscountKey));
      break;
    case LineKind::ValueDiscountOnSubtotal:
      sink.SendKeys(kSubtotalKey + amountThen(kValueDiscountKey));
      break;
    case LineKind::FreeText: {
      if (rest.empty()) break;
      const std::string_view text = rest.substr(0, kMaxFreeText);
      sink.SendKeys(Key(kTextEntryKey) + static_cast<char>(text.size() + 2) + "\x03\x02" +
                    std::string(text) + kPrintTextKey);
      break;
    }
    case LineKind::SaleItem:
      return SendSaleItem(line, settings, newFirmware, sink);
  }
  return LineOutcome::GoOn;
}

void TranslateCurrencyLine(std::string_view line, const DriverSettings& settings, bool newFirmware,
                           KeyCommandSink& sink) {
  std::string currencyNumber(Columns(line, 1, 1));
  const double number = ReceiptFieldNumber(currencyNumber);
  if (number < 1 || number > 4) currencyNumber = "1";
  const char n = ByteOf(ReceiptFieldNumber(currencyNumber));
  std::string name(Columns(line, 11, static_cast<int>(line.size())));
  if (name.empty()) name = "VALUTA " + currencyNumber;
  name.resize(std::min(name.size(), kMaxCurrencyName));

  sink.SendKeys(LeadingNumber(settings.CHPRINTPROG) == 1 ? Bytes("\x12") : Bytes("\x12\x02\x31"));
  sink.SendKeys(Bytes{0x08, kSubtotalKey, kTotalKey});
  sink.SendKeys(Bytes{n, kTotalKey, 0x01, kTotalKey});
  sink.SendKeys(KeyAmount(Columns(line, 3, 9), newFirmware) + kTotalKey);
  sink.SendKeys(Bytes{0x02, kTotalKey});
  sink.SendKeys(TextEntry(name) + kTotalKey + kCreditKey + kCreditKey + kCreditKey);
}

}  // namespace ovix
