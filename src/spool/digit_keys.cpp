#include "spool/digit_keys.h"

#include <string>

#include "spool/keys.h"

namespace ovix {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

char DigitKey(char c) {
  if (c == '0') return keys::kZeroDigit;
  if (c >= '1' && c <= '9') return static_cast<char>(c - '0');
  return 0;
}

Bytes DigitKeys(std::string_view text) {
  Bytes keys;
  keys.reserve(text.size());
  for (char c : text) keys.push_back(DigitKey(c));
  return keys;
}

// True when the text, blanks ignored and read up to the first character that
// is neither a digit nor the first decimal point, has a digit other than 0.
bool ReadsOtherThanZero(std::string_view text) {
  bool point = false;
  for (char c : text) {
    if (IsBlank(c) || c == '0') continue;
    if (IsDigit(c)) return true;
    if (c != '.' || point) return false;
    point = true;
  }
  return false;
}

}  // namespace

double ReceiptFieldNumber(std::string_view text) {
  double value = 0;
  for (char c : text) {
    if (IsBlank(c)) continue;
    if (!IsDigit(c)) break;
    value = value * 10 + (c - '0');
  }
  return value;
}

Bytes EncodeDigits(std::string_view text, bool padToThree) {
  const std::size_t firstKept = text.find_first_not_of('0');
  if (firstKept == std::string_view::npos) return Bytes(1, keys::kZeroDigit);
  Bytes keys = DigitKeys(text.substr(firstKept));
  if (padToThree && keys.size() < 3) keys.insert(0, 3 - keys.size(), keys::kZeroDigit);
  return keys;
}

Bytes EncodeFraction(std::string_view text) {
  if (!ReadsOtherThanZero(text)) return Bytes(1, keys::kZeroDigit);
  std::string kept(text);
  if (kept.size() >= 3 && kept[2] == '0') {
    kept.erase(2, 1);
    if (kept[1] == '0') kept.erase(1, 1);
  }
  return DigitKeys(kept);
}

}  // namespace ovix
