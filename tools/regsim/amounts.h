// Numbers on the register: as keyed (digits and the decimal point key) and as printed on the roll.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace regsim {

// A number as keyed: its digits and where the decimal point key fell among them.
struct Number {
  std::string digits;
  int point = -1;  // digits keyed before the decimal point key; -1 without one
  bool empty() const { return digits.empty() && point < 0; }
};

// Each returns the reason the register refuses the number, or the empty text with `value` set.

// A whole number of at most `max_digits` significant digits.
std::string Integer(const Number& n, std::size_t max_digits, std::int64_t& value);

// Minor units. Keyed with the decimal point (at most two decimals; none means whole units)
// or, on older firmware, as the minor units themselves.
std::string Amount(const Number& n, bool decimal_point, std::int64_t& value);

// Thousandths, up to three decimals after the decimal point key.
std::string Quantity(const Number& n, std::int64_t& value);

// `value` in units of 10^-decimals (2 or 3) as the roll prints it: "-1.500".
std::string Fixed(std::int64_t value, int decimals);

inline std::string Money(std::int64_t value) {
  return Fixed(value, 2);
}

}  // namespace regsim
