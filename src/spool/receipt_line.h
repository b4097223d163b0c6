// The receipt file's line grammar: which kind a line is, by its first
// character, and the fixed columns of a sale item line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "shell/settings.h"

namespace ovix {

// Longest free text and currency name that fit the one-byte length of a text
// entry; longer texts are cut to these.
inline constexpr std::size_t kMaxFreeText = 253;
inline constexpr std::size_t kMaxCurrencyName = 255;

enum class LineKind {
  Subtotal,
  Total,
  Card,
  Credit,
  Voucher,
  Cheque,
  ForeignCurrency,
  PercentDiscount,
  PercentDiscountOnSubtotal,
  ValueDiscount,
  ValueDiscountOnSubtotal,
  FreeText,
  SaleItem,
};

// Kind of a trimmed, non-empty receipt line: its first character compared
// case-sensitively with the configured control characters, in a fixed order
// (subtotal, total, card, credit, voucher, cheque, currency, % discount,
// % discount on subtotal, value discount, value discount on subtotal, free
// text); the first match wins. Only a one-character setting can match. No
// match: a sale item.
LineKind ClassifyReceiptLine(std::string_view line, const DriverSettings& settings);

// True for the lines that pay the receipt (total, card, credit, voucher,
// cheque, foreign currency): once the register carries one out, the receipt
// may be closed and printed.
bool IsPayment(LineKind kind);

// Removes leading and trailing blanks (the space character only; tabs stay).
std::string_view TrimSpaces(std::string_view line);

// The fields of a sale item line, cut by the description width D and the price
// width P. A field lying past the end of the line is empty or shorter.
struct SaleItemFields {
  std::string description;  // columns 1..D
  std::string quantity;     // D+2..D+5
  std::string fraction;     // D+7..D+9
  std::string price;        // D+11..D+10+P
  std::string department;   // D+12+P..D+13+P
};
SaleItemFields CutSaleItem(std::string_view line, int descriptionWidth, int priceWidth);

// Characters `first`..`last` (1-based, inclusive) of text; whatever of that
// range lies inside the text.
std::string_view Columns(std::string_view text, int first, int last);

}  // namespace ovix
