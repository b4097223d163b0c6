#include "keypad.h"

#include <algorithm>
#include <cstdio>

namespace regsim {

namespace {

constexpr std::int64_t kMaxTotal = 1'000'000'000'000'000;  // keeps every product inside 64 bits

// A number as keyed: its digits and where the decimal point key fell among them.
struct Number {
  std::string digits;
  int point = -1;  // digits keyed before the decimal point key; -1 without one
  bool empty() const { return digits.empty() && point < 0; }
};

// Reads decimal digits with leading zeros dropped, so padded fields keep their value.
bool ReadDigits(const std::string& digits, std::size_t max_significant, std::int64_t& value) {
  const std::size_t first = digits.find_first_not_of('0');
  if (first != std::string::npos && digits.size() - first > max_significant) return false;
  value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return true;
}

std::string Integer(const Number& n, std::size_t max_digits, std::int64_t& value) {
  if (n.point >= 0) return "decimal point in a whole number";
  if (!ReadDigits(n.digits, max_digits, value)) return "number too large";
  return {};
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

// Minor units. Keyed with the decimal point (at most two decimals; none means whole units)
// or, on older firmware, as the minor units themselves.
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

// Thousandths, up to three decimals after the decimal point key.
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

std::string Money(std::int64_t value) {
  return Fixed(value, 2);
}

// Roll text shows control bytes as dots; every other byte goes on the roll as it came.
std::string Printable(const Bytes& bytes) {
  std::string text;
  for (std::uint8_t b : bytes) text += b < 0x20 || b == 0x7F ? '.' : static_cast<char>(b);
  return text;
}

void Wrap(const std::string& text, std::vector<std::string>& out) {
  for (std::size_t i = 0; i < text.size(); i += Keypad::kRollWidth) {
    out.push_back(text.substr(i, Keypad::kRollWidth));
  }
}

// Text on the left, a value flush right; the value gets a line of its own when both do not fit.
void Row(const std::string& left, const std::string& right, std::vector<std::string>& out) {
  const std::size_t width = Keypad::kRollWidth;
  if (left.size() + 1 + right.size() <= width) {
    out.push_back(left + std::string(width - left.size() - right.size(), ' ') + right);
    return;
  }
  Wrap(left, out);
  if (!right.empty())
    out.push_back(std::string(width - std::min(width, right.size()), ' ') + right);
}

const std::string kRule(Keypad::kRollWidth, '=');

const char* TenderName(std::uint8_t key) {
  switch (key) {
    case 0x31:
      return "NUMERAR";
    case 0x33:
      return "CEC";
    case 0x34:
      return "TICHETE";
    case 0x36:
      return "CARD";
  }
  return "CREDIT";
}

std::string Hex(std::uint8_t b) {
  return ToHex({b});
}

}  // namespace

std::uint8_t Keypad::Press(const Bytes& keys, bool decimal_point) {
  if (state_.programming > 0 && keys.size() > 0 && keys[0] == 0x12) state_.programming = 0;
  State next = state_;
  Lines out;
  const std::string error = Run(next, keys, decimal_point, out);
  if (!error.empty()) {
    const std::size_t shown = std::min<std::size_t>(keys.size(), 12);
    printer_("! REFUSED " + ToHex(Bytes(keys.begin(), keys.begin() + shown)) +
             (shown < keys.size() ? " ..." : "") + ": " + error);
    if (state_.programming > 0) {
      // A key sequence that is not the next programming step ends the programming.
      state_.programming = 0;
      printer_("! currency programming abandoned");
    }
    return 0x08;
  }
  state_ = std::move(next);
  for (const auto& line : out) printer_(line);
  return 0;
}

void Keypad::Query() {
  if (state_.phase == Phase::kPaid) state_.phase = Phase::kIdle;
  if (state_.programming > 0) {
    state_.programming = 0;
    printer_("! currency programming abandoned");
  }
}

std::string Keypad::Program(State& s, const Bytes& keys, bool decimal_point, Lines& out) {
  const auto is = [&keys](const Bytes& expected) { return keys == expected; };
  switch (s.programming) {
    case 1:
      if (!is({0x08, 0x45, 0x31})) return "not currency programming step 08 45 31";
      break;
    case 2:
      if (keys.size() != 4 || keys[0] < 0x01 || keys[0] > 0x09 || keys[1] != 0x31 ||
          keys[2] != 0x01 || keys[3] != 0x31) {
        return "not a currency number step (n 31 01 31)";
      }
      s.currency = keys[0];
      break;
    case 3: {
      Number rate;
      for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
        if (keys[i] == 0x0D && rate.point < 0) {
          rate.point = static_cast<int>(rate.digits.size());
        } else if (keys[i] >= 0x01 && keys[i] <= 0x0A && rate.digits.size() < 18) {
          rate.digits += keys[i] == 0x0A ? '0' : static_cast<char>('0' + keys[i]);
        } else {
          return "not an exchange rate step (amount 31)";
        }
      }
      if (keys.empty() || keys.back() != 0x31 || rate.empty()) {
        return "not an exchange rate step (amount 31)";
      }
      if (auto error = Amount(rate, decimal_point, s.rate); !error.empty()) return error;
      break;
    }
    case 4:
      if (!is({0x02, 0x31})) return "not currency programming step 02 31";
      break;
    case 5: {
      const std::size_t n = keys.size();
      if (n < 6 || keys[0] != 0x13 || keys[1] != n - 6 || keys[n - 4] != 0x31 ||
          keys[n - 3] != 0x32 || keys[n - 2] != 0x32 || keys[n - 1] != 0x32) {
        return "not a currency name step (13 L name 31 32 32 32)";
      }
      const std::string name = Printable(Bytes(keys.begin() + 2, keys.end() - 4));
      s.currencies[s.currency] = {name, s.rate};
      out.push_back("! currency " + std::to_string(s.currency) + " programmed: " + name +
                    ", rate " + Money(s.rate));
      s.programming = 0;
      return {};
    }
  }
  ++s.programming;
  return {};
}

std::string Keypad::Run(State& s, const Bytes& keys, bool decimal_point, Lines& out) {
  if (keys.empty()) return "no keys";
  if (s.programming > 0) return Program(s, keys, decimal_point, out);
  const bool receipt_open = s.phase == Phase::kSelling || s.phase == Phase::kPaying;
  if (keys[0] == 0x12) {
    if (keys != Bytes{0x12} && keys != Bytes{0x12, 0x02, 0x31}) return "unknown key sequence";
    if (receipt_open) return "currency programming while a receipt is open";
    s.programming = 1;
    out.push_back("! currency programming" + std::string(keys.size() > 1 ? " (12 02 31)" : ""));
    return {};
  }
  if (keys == Bytes{0x11, 0x45, 0x31}) {
    if (receipt_open) return "clearing while a receipt is open";
    s.phase = Phase::kIdle;
    out.push_back("! clearing (11 45 31)");
    return {};
  }

  const auto reset_item = [&s] {
    s.description.clear();
    s.quantity = 1000;
    s.negative = false;
  };
  const auto open_for = [&s](const char* what) -> std::string {
    if (s.phase == Phase::kIdle) return std::string(what) + " before any item";
    if (s.phase == Phase::kPaid) return std::string(what) + " after the receipt was paid";
    return {};
  };
  // Payments are printed under the TOTAL line; the receipt closes once they cover it.
  const auto pay = [&](const std::string& name, std::int64_t amount) {
    if (s.phase == Phase::kSelling) Row("TOTAL", Money(s.total), out);
    s.phase = Phase::kPaying;
    Row(name, Money(amount), out);
    s.paid += amount;
    if (s.paid < s.total) return;
    if (s.paid > s.total) Row("REST", Money(s.paid - s.total), out);
    out.push_back(kRule);
    s.phase = Phase::kPaid;
    reset_item();
  };

  Number num;
  bool on_subtotal = false;  // the subtotal key came earlier in this command
  for (std::size_t i = 0; i < keys.size();) {
    const std::uint8_t key = keys[i++];
    if (key >= 0x01 && key <= 0x0A) {
      if (num.digits.size() >= 18) return "number too long";
      num.digits += key == 0x0A ? '0' : static_cast<char>('0' + key);
      continue;
    }
    if (key == 0x0D) {
      if (num.point >= 0) return "second decimal point";
      num.point = static_cast<int>(num.digits.size());
      continue;
    }
    const bool department = key >= 0x4A && key <= 0x4A + 99;
    const bool takes_number = department || key == 0x1B || key == 0x1F || key == 0x21 ||
                              key == 0x31 || key == 0x33 || key == 0x34 || key == 0x35 ||
                              key == 0x36 || key == 0x00 || key == 0x0F;
    if (!takes_number && !num.empty()) return "number before key " + Hex(key);
    const Number number = num;
    num = {};
    std::string error;
    std::int64_t value = 0;

    if (department) {
      if (number.empty()) return "price key with no digits";
      if (error = Amount(number, decimal_point, value); !error.empty()) return error;
      if (s.phase == Phase::kPaying) return "item after the payment began";
      if (s.phase == Phase::kPaid) return "item after the receipt was paid";
      std::int64_t item = (s.quantity * value + 500) / 1000;
      if (s.negative) item = -item;
      if (s.phase == Phase::kIdle) {
        s.phase = Phase::kSelling;
        s.total = s.paid = 0;
        s.last_sale = -1;
        std::string head = " BON NR. " + std::to_string(++s.receipt) + " ";
        head.insert(0, (kRollWidth - head.size()) / 2, '-');
        out.push_back(head + std::string(kRollWidth - head.size(), '-'));
      }
      if (s.total + item < 0) return "negative item larger than the receipt";
      if (s.total + item > kMaxTotal) return "receipt total too large";
      char dep[16];
      std::snprintf(dep, sizeof dep, "DEP %02d", key - 0x4A);
      Row(s.description.empty() ? "ARTICOL" : s.description, dep, out);
      Row("  " + Fixed(s.negative ? -s.quantity : s.quantity, 3) + " x " + Money(value) + " =",
          Money(item), out);
      s.total += item;
      if (!s.negative) s.last_sale = item;
      reset_item();
      continue;
    }

    switch (key) {
      case 0x00:  // clear key: drops the number and the item being keyed
        reset_item();
        break;
      case 0x0F:  // voids the open receipt
        if (s.phase == Phase::kSelling || s.phase == Phase::kPaying) {
          out.push_back("BON ANULAT");
          out.push_back(kRule);
        }
        s.phase = Phase::kIdle;
        reset_item();
        break;
      case 0x3A:
        break;
      case 0x2A:
        reset_item();
        break;
      case 0x3B:
        s.negative = true;
        break;
      case 0x13: {
        if (i >= keys.size()) return "text entry without a length";
        const std::size_t length = keys[i++];
        if (keys.size() - i < length + 1) return "text entry cut short";
        Bytes text(keys.begin() + i, keys.begin() + i + length);
        i += length;
        const std::uint8_t close = keys[i++];
        if (close == 0x31) {
          s.description = Printable(text);
          const std::size_t end = s.description.find_last_not_of(' ');
          s.description.resize(end == std::string::npos ? 0 : end + 1);
        } else if (close == 0x38) {
          // A free text line leads with the bytes 03 02, which do not print.
          if (text.size() >= 2 && text[0] == 0x03 && text[1] == 0x02)
            text.erase(text.begin(), text.begin() + 2);
          Wrap(Printable(text), out);
        } else {
          return "text entry closed by key " + Hex(close);
        }
        break;
      }
      case 0x38:
        return "print key without a text entry";
      case 0x1B:
        if (number.empty()) return "quantity key with no digits";
        if (error = Quantity(number, s.quantity); !error.empty()) return error;
        break;
      case 0x45:
        Row("SUBTOTAL",
            Money(s.phase == Phase::kSelling || s.phase == Phase::kPaying ? s.total : 0), out);
        on_subtotal = true;
        break;
      case 0x1F:
      case 0x21: {
        const bool percent = key == 0x1F;
        if (number.empty()) return "discount key with no digits";
        if (error = open_for("discount"); !error.empty()) return error;
        if (s.phase == Phase::kPaying) return "discount after the payment began";
        if (!on_subtotal && s.last_sale < 0) return "discount with no sale item before it";
        const std::int64_t base = on_subtotal ? s.total : std::min(s.last_sale, s.total);
        std::string label = on_subtotal ? "REDUCERE SUBTOTAL" : "  REDUCERE";
        if (percent) {
          if (error = Integer(number, 3, value); !error.empty()) return error;
          if (value > 100) return "percentage over 100";
          label += " " + std::to_string(value) + "%";
          value = (base * value + 50) / 100;
        } else {
          if (error = Amount(number, decimal_point, value); !error.empty()) return error;
          if (value > base) {
            return on_subtotal ? "discount larger than the subtotal"
                               : "discount larger than the item";
          }
        }
        Row(label, Money(-value), out);
        s.total -= value;
        if (!on_subtotal) s.last_sale -= value;
        break;
      }
      case 0x31:
      case 0x33:
      case 0x34:
      case 0x36:
        // The total key alone on an idle register does nothing: it also ends other sequences.
        if (key == 0x31 && number.empty() && (s.phase == Phase::kIdle || s.phase == Phase::kPaid)) {
          break;
        }
        if (error = open_for("payment"); !error.empty()) return error;
        if (number.empty()) {
          value = s.total - s.paid;
        } else if (error = Amount(number, decimal_point, value); !error.empty()) {
          return error;
        }
        pay(TenderName(key), value);
        break;
      case 0x32:
        if (error = open_for("payment on credit"); !error.empty()) return error;
        pay(TenderName(key), s.total - s.paid);
        break;
      case 0x35: {
        if (number.empty()) return "currency key with no currency number";
        if (error = Integer(number, 1, value); !error.empty()) return error;
        if (i >= keys.size() || keys[i] != 0x31) return "currency key not followed by 31";
        ++i;
        if (error = open_for("payment"); !error.empty()) return error;
        const std::int64_t due = s.total - s.paid;
        const auto found = s.currencies.find(static_cast<int>(value));
        std::string name = "VALUTA " + std::to_string(value);
        if (found != s.currencies.end()) name += " " + found->second.name;
        pay(name, due);
        if (found != s.currencies.end() && found->second.rate > 0) {
          const std::int64_t rate = found->second.rate;
          out.insert(out.end() - (s.paid > s.total ? 2 : 1),
                     "  " + Money((due * 100 + rate / 2) / rate) + " x " + Money(rate));
        }
        break;
      }
      default:
        return "unknown key " + Hex(key);
    }
  }
  if (!num.empty()) return "number without a function key";
  return {};
}

}  // namespace regsim
