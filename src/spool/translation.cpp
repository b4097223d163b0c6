#include "spool/translation.h"

#include "link/frame_codec.h"
#include "os/text.h"
#include "spool/digit_keys.h"
#include "spool/job_file.h"
#include "spool/keys.h"
#include "spool/receipt_line.h"

namespace ovix {
namespace {

using namespace keys;

Bytes Key(char k) {
  return Bytes(1, k);
}

// Pads digit keys to three with zero keys in front and puts the decimal point
// key before the last two: the amount form of the newer firmware.
Bytes WithDecimalPoint(Bytes k) {
  if (k.size() < 3) k.insert(0, 3 - k.size(), kZeroDigit);
  k.insert(k.size() - 2, 1, kPoint);
  return k;
}

// The value of a small numeric field as one key byte (wrapping like a byte).
char ByteOf(double value) {
  return static_cast<char>(static_cast<int>(value) & 0xFF);
}

Bytes TextEntry(std::string_view text) {
  return Key(kTextEntry) + static_cast<char>(text.size()) + std::string(text);
}

LineOutcome SendSaleItem(std::string_view line, const DriverSettings& settings, bool newFirmware,
                         KeyCommandSink& sink) {
  SaleItemFields f = CutSaleItem(line, DescriptionWidth(settings), PriceWidth(settings));
  const bool itemIsNegative = !f.quantity.empty() && f.quantity[0] == '-';
  if (itemIsNegative) f.quantity.erase(0, 1);

  const Bytes q = EncodeDigits(f.quantity, newFirmware);
  Bytes p =
      ReceiptFieldNumber(f.price) == 0 ? Bytes(3, kZeroDigit) : EncodeDigits(f.price, newFirmware);
  if (newFirmware) p = WithDecimalPoint(p);
  const char department = ByteOf(kFirstDepartment + ReceiptFieldNumber(f.department));

  sink.SendKeys(Key(kItem));
  sink.SendKeys(TextEntry(f.description) + kTotal);
  if (sink.CommandFailed()) return LineOutcome::ReceiptFailed;
  if (itemIsNegative) sink.SendKeys(Key(kNegative));
  if (ReceiptFieldNumber(f.fraction) != 0) {
    sink.SendKeys(q + kPoint + EncodeFraction(f.fraction) + kQuantity);
  } else {
    sink.SendKeys(q + kQuantity);
  }
  if (sink.CommandFailed()) return LineOutcome::ReceiptFailed;
  sink.SendKeys(p + department);
  if (sink.CommandFailed()) return LineOutcome::ReceiptFailed;
  return LineOutcome::GoOn;
}

// A free-text line's one command; "=" alone sends nothing.
void SendFreeText(std::string_view rest, KeyCommandSink& sink) {
  if (rest.empty()) return;
  const std::string_view text = rest.substr(0, kMaxFreeText);
  sink.SendKeys(Key(kTextEntry) + static_cast<char>(text.size() + 2) + "\x03\x02" +
                std::string(text) + kPrintText);
}

// The whole percent of a discount line (columns 2-4) and the discount key.
Bytes PercentDiscount(std::string_view line, bool newFirmware) {
  return EncodeDigits(Columns(line, 2, 4), newFirmware) + kPercentDiscount;
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
      sink.SendKeys(Key(kSubtotal));
      break;
    case LineKind::Total:
      tender(kTotal);
      break;
    case LineKind::Card:
      tender(kCard);
      break;
    case LineKind::Credit:
      sink.SendKeys(Key(kCredit));
      return LineOutcome::ReceiptPrinted;
    case LineKind::Voucher:
      tender(kVoucher);
      break;
    case LineKind::Cheque:
      tender(kCheque);
      break;
    case LineKind::ForeignCurrency:
      sink.SendKeys(Bytes{ByteOf(ReceiptFieldNumber(Columns(line, 2, 2))), kCurrency, kTotal});
      break;
    case LineKind::PercentDiscount:
      sink.SendKeys(PercentDiscount(line, newFirmware));
      break;
    case LineKind::PercentDiscountOnSubtotal:
      sink.SendKeys(kSubtotal + PercentDiscount(line, newFirmware));
      break;
    case LineKind::ValueDiscount:
      sink.SendKeys(amountThen(kValueDiscount));
      break;
    case LineKind::ValueDiscountOnSubtotal:
      sink.SendKeys(kSubtotal + amountThen(kValueDiscount));
      break;
    case LineKind::FreeText:
      SendFreeText(rest, sink);
      break;
    case LineKind::SaleItem:
      return SendSaleItem(line, settings, newFirmware, sink);
  }
  return LineOutcome::GoOn;
}

void TranslateCurrencyLine(std::string_view line, const DriverSettings& settings, bool newFirmware,
                           KeyCommandSink& sink) {
  const CurrencyLineFields f = CutCurrencyLine(line);
  sink.SendKeys(LeadingNumber(settings.CHPRINTPROG) == 1 ? Bytes{kCurrencySetup}
                                                         : Bytes{kCurrencySetup, 0x02, kTotal});
  sink.SendKeys(Bytes{kCurrencySetupSecond, kSubtotal, kTotal});
  sink.SendKeys(Bytes{f.numberKey, kTotal, 0x01, kTotal});
  sink.SendKeys(KeyAmount(f.rate, newFirmware) + kTotal);
  sink.SendKeys(Bytes{0x02, kTotal});
  sink.SendKeys(TextEntry(f.name) + kTotal + kCredit + kCredit + kCredit);
}

}  // namespace ovix
