#include "amounts.h"

#include <cstdio>

namespace regsim {

namespace {

// Reads decimal digits with leading zeros dropped, so padded fields keep their value.
bool ReadDigits(const std::string& digits, std::size_t max_significant, std::int64_t& value) {
  const std::size_t first = digits.find_first_not_of('0');
  if (first != std::string::npos && digits.size() - first > max_significant) return false;
  value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return true;
}

// Where the decimal point key stood in a number's digits (the end when absent).
std::size_t Split(const Number& n) {
  return n.point < 0 ? n.digits.size() : static_cast<std::size_t>(n.point);
}

// A number with at most `decimals` decimals as an integer in units of
// 10^-decimals, its whole part at most `max_whole` digits. False when too large.
bool FixedPoint(const Number& n, std::size_t decimals, std::size_t max_whole, std::int64_t& value) {
  std::int64_t whole = 0, part = 0;
  if (!ReadDigits(n.digits.substr(0, Split(n)), max_whole, whole)) return false;
  std::string fraction = n.digits.substr(Split(n));
  fraction.resize(decimals, '0');
  ReadDigits(fraction, decimals, part);
  std::int64_t scale = 1;
  for (std::size_t i = 0; i < decimals; ++i) scale *= 10;
  value = whole * scale + part;
  return true;
}

}  // namespace

std::string Integer(const Number& n, std::size_t max_digits, std::int64_t& value) {
  if (n.point >= 0) return "decimal point in a whole number";
  if (!ReadDigits(n.digits, max_digits, value)) return "number too large";
  return {};
}

std::string Amount(const Number& n, bool decimal_point, std::int64_t& value) {
  if (!decimal_point) {
    if (n.point >= 0) return "decimal point in an amount (firmware before 5.07)";
    if (!ReadDigits(n.digits, 9, value)) return "amount too large";
    return {};
  }
  if (n.digits.size() - Split(n) > 2) return "more than two decimals in an amount";
  if (!FixedPoint(n, 2, 7, value)) return "amount too large";
  return {};
}

std::string Quantity(const Number& n, std::int64_t& value) {
  if (n.digits.size() - Split(n) > 3) return "more than three decimals in a quantity";
  if (!FixedPoint(n, 3, 6, value)) return "quantity too large";
  return value == 0 ? "quantity zero" : "";
}

std::string Fixed(std::int64_t value, int decimals) {
  const std::int64_t scale = decimals == 3 ? 1000 : 100;
  const std::int64_t magnitude = value < 0 ? -value : value;
  char text[40];
  std::snprintf(text, sizeof text, "%s%lld.%0*lld", value < 0 ? "-" : "",
                static_cast<long long>(magnitude / scale), decimals,
                static_cast<long long>(magnitude % scale));
  return text;
}

}  // namespace regsim
