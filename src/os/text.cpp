#include "os/text.h"

#include <cmath>

namespace ovix {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Blanks ignored, digits read up to the first other character; the first
// decimal point is read too and starts the decimals.
double UnsignedNumber(std::string_view text) {
  double value = 0;
  double scale = 1;  // weight of the next decimal once in the fraction
  bool inFraction = false;
  for (char c : text) {
    if (c == ' ' || c == '\t') continue;
    if (IsDigit(c)) {
      if (!inFraction) {
        value = value * 10 + (c - '0');
      } else {
        scale /= 10;
        value += scale * (c - '0');
      }
    } else if (c == '.' && !inFraction) {
      inFraction = true;
    } else {
      break;
    }
  }
  return value;
}

}  // namespace

std::string VisibleText(std::string_view text, bool reversible) {
  std::string out;
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || (reversible && c == '\\')) {
      out += "\\x";
      out += kHexDigits[b >> 4];
      out += kHexDigits[b & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

std::string UnescapeText(std::string_view text) {
  const auto hexValue = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
        hexValue(text[i + 2]) >= 0 && hexValue(text[i + 3]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3]));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

double LeadingNumber(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return 0;
  const char sign = text[first];
  if (sign != '-' && sign != '+') return UnsignedNumber(text);
  const double value = UnsignedNumber(text.substr(first + 1));
  return sign == '-' ? -value : value;
}

double RoundHalfEven(double value) {
  return std::nearbyint(value);
}

std::uint64_t Fnv1a64(std::string_view text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return hash;
}

std::string Fnv1a64Hex(std::string_view text) {
  std::uint64_t hash = Fnv1a64(text);
  std::string hex(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4)
    hex[static_cast<std::size_t>(i)] = AsciiLower(kHexDigits[hash & 0x0F]);
  return hex;
}

}  // namespace ovix
