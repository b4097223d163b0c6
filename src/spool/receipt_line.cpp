#include "spool/receipt_line.h"

#include <algorithm>

namespace ovix {

LineKind ClassifyReceiptLine(std::string_view line, const DriverSettings& s) {
  const std::pair<const std::string*, LineKind> order[] = {
      {&s.CHSUBTOTAL, LineKind::Subtotal},
      {&s.CHTOT, LineKind::Total},
      {&s.CHCARD, LineKind::Card},
      {&s.CHCREDIT, LineKind::Credit},
      {&s.CHBONVAL, LineKind::Voucher},
      {&s.CHCEC, LineKind::Cheque},
      {&s.CHVALUTA, LineKind::ForeignCurrency},
      {&s.CHREDP, LineKind::PercentDiscount},
      {&s.CHREDPS, LineKind::PercentDiscountOnSubtotal},
      {&s.CHREDA, LineKind::ValueDiscount},
      {&s.CHREDAS, LineKind::ValueDiscountOnSubtotal},
      {&s.CHLINE, LineKind::FreeText},
  };
  if (line.empty()) return LineKind::SaleItem;
  for (const auto& [control, kind] : order) {
    if (control->size() == 1 && (*control)[0] == line[0]) return kind;
  }
  return LineKind::SaleItem;
}

bool IsPayment(LineKind kind) {
  switch (kind) {
    case LineKind::Total:
    case LineKind::Card:
    case LineKind::Credit:
    case LineKind::Voucher:
    case LineKind::Cheque:
    case LineKind::ForeignCurrency:
      return true;
    default:
      return false;
  }
}

std::string_view TrimSpaces(std::string_view line) {
  const std::size_t first = line.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const std::size_t last = line.find_last_not_of(' ');
  return line.substr(first, last - first + 1);
}

std::string_view Columns(std::string_view text, int first, int last) {
  if (first < 1) first = 1;
  if (last < first || static_cast<std::size_t>(first) > text.size()) return {};
  return text.substr(first - 1, last - first + 1);
}

SaleItemFields CutSaleItem(std::string_view line, int d, int p) {
  // Widths come corrected from the settings; a record filled by hand is kept
  // to what a one-byte text length and int arithmetic can carry.
  d = std::clamp(d, 0, 255);
  p = std::clamp(p, 0, 255);
  return SaleItemFields{
      std::string(Columns(line, 1, d)),
      std::string(Columns(line, d + 2, d + 5)),
      std::string(Columns(line, d + 7, d + 9)),
      std::string(Columns(line, d + 11, d + 10 + p)),
      std::string(Columns(line, d + 12 + p, d + 13 + p)),
  };
}

}  // namespace ovix
