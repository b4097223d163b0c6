#include "keypad.h"

#include <algorithm>
#include <cstdio>

#include "amounts.h"

namespace regsim {

namespace {

constexpr std::int64_t kMaxTotal = 1'000'000'000'000'000;  // keeps every product inside 64 bits

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

class Keypad::Command {
 public:
  Command(State& s, const Bytes& keys, bool decimal_point, Lines& out)
      : s_(s), keys_(keys), decimal_point_(decimal_point), out_(out) {}

  // Runs the keys from the first; the reason for refusing them, or the empty text.
  std::string Run();

 private:
  using Handler = std::string (Command::*)();
  struct FunctionKey {
    std::uint8_t key;
    bool takes_number;  // a number keyed before it is its argument, not an error
    Handler run;
  };
  static const FunctionKey kFunctionKeys[];
  static const FunctionKey* Find(std::uint8_t key);
  // Digits 01-09, 0A for zero, and 0D the decimal point.
  static bool IsNumberKey(std::uint8_t key) { return (key >= 0x01 && key <= 0x0A) || key == 0x0D; }
  static bool IsDepartment(std::uint8_t key) { return key >= 0x4A && key <= 0x4A + 99; }

  std::string Keyed(std::uint8_t key);
  void ResetItem();
  std::string OpenFor(const char* what) const;
  void Pay(const std::string& name, std::int64_t amount);
  void OpenReceipt();

  std::string Department();
  std::string DropItem();
  std::string VoidKey();
  std::string NoOp() { return {}; }
  std::string NegativeKey();
  std::string TextEntry();
  std::string PrintKey() { return "print key without a text entry"; }
  std::string QuantityKey();
  std::string SubtotalKey();
  std::string Discount();
  std::string Tender();
  std::string CreditKey();
  std::string CurrencyKey();

  State& s_;
  const Bytes& keys_;
  const bool decimal_point_;
  Lines& out_;
  std::size_t next_ = 0;      // index of the key after the one being run
  std::uint8_t key_ = 0;      // the function key being run
  Number pending_;            // digits keyed since the last function key
  Number number_;             // the number keyed before key_
  bool on_subtotal_ = false;  // the subtotal key came earlier in this command
};

const Keypad::Command::FunctionKey Keypad::Command::kFunctionKeys[] = {
    {0x00, true, &Command::DropItem},     {0x0F, true, &Command::VoidKey},
    {0x13, false, &Command::TextEntry},   {0x1B, true, &Command::QuantityKey},
    {0x1F, true, &Command::Discount},     {0x21, true, &Command::Discount},
    {0x2A, false, &Command::DropItem},    {0x31, true, &Command::Tender},
    {0x32, false, &Command::CreditKey},   {0x33, true, &Command::Tender},
    {0x34, true, &Command::Tender},       {0x35, true, &Command::CurrencyKey},
    {0x36, true, &Command::Tender},       {0x38, false, &Command::PrintKey},
    {0x3A, false, &Command::NoOp},        {0x3B, false, &Command::NegativeKey},
    {0x45, false, &Command::SubtotalKey},
};

const Keypad::Command::FunctionKey* Keypad::Command::Find(std::uint8_t key) {
  for (const FunctionKey& f : kFunctionKeys) {
    if (f.key == key) return &f;
  }
  return nullptr;
}

std::string Keypad::Command::Run() {
  while (next_ < keys_.size()) {
    const std::uint8_t key = keys_[next_++];
    if (IsNumberKey(key)) {
      if (auto error = Keyed(key); !error.empty()) return error;
      continue;
    }
    const FunctionKey* function = Find(key);
    const bool department = IsDepartment(key);
    const bool takes_number = department || (function != nullptr && function->takes_number);
    if (!takes_number && !pending_.empty()) return "number before key " + Hex(key);
    number_ = pending_;
    pending_ = {};
    key_ = key;
    if (!department && function == nullptr) return "unknown key " + Hex(key);
    if (auto error = department ? Department() : (this->*function->run)(); !error.empty()) {
      return error;
    }
  }
  if (!pending_.empty()) return "number without a function key";
  return {};
}

// Adds a digit or the decimal point to the pending number.
std::string Keypad::Command::Keyed(std::uint8_t key) {
  if (key != 0x0D) {
    if (pending_.digits.size() >= 18) return "number too long";
    pending_.digits += key == 0x0A ? '0' : static_cast<char>('0' + key);
    return {};
  }
  if (pending_.point >= 0) return "second decimal point";
  pending_.point = static_cast<int>(pending_.digits.size());
  return {};
}

void Keypad::Command::ResetItem() {
  s_.description.clear();
  s_.quantity = 1000;
  s_.negative = false;
}

std::string Keypad::Command::OpenFor(const char* what) const {
  if (s_.phase == Phase::kIdle) return std::string(what) + " before any item";
  if (s_.phase == Phase::kPaid) return std::string(what) + " after the receipt was paid";
  return {};
}

// Payments are printed under the TOTAL line; the receipt closes once they cover it.
void Keypad::Command::Pay(const std::string& name, std::int64_t amount) {
  if (s_.phase == Phase::kSelling) Row("TOTAL", Money(s_.total), out_);
  s_.phase = Phase::kPaying;
  Row(name, Money(amount), out_);
  s_.paid += amount;
  if (s_.paid < s_.total) return;
  if (s_.paid > s_.total) Row("REST", Money(s_.paid - s_.total), out_);
  out_.push_back(kRule);
  s_.phase = Phase::kPaid;
  ResetItem();
}

void Keypad::Command::OpenReceipt() {
  s_.phase = Phase::kSelling;
  s_.total = s_.paid = 0;
  s_.last_sale = -1;
  std::string head = " BON NR. " + std::to_string(++s_.receipt) + " ";
  head.insert(0, (kRollWidth - head.size()) / 2, '-');
  out_.push_back(head + std::string(kRollWidth - head.size(), '-'));
}

std::string Keypad::Command::Department() {
  std::int64_t value = 0;
  if (number_.empty()) return "price key with no digits";
  if (auto error = Amount(number_, decimal_point_, value); !error.empty()) return error;
  if (s_.phase == Phase::kPaying) return "item after the payment began";
  if (s_.phase == Phase::kPaid) return "item after the receipt was paid";
  std::int64_t item = (s_.quantity * value + 500) / 1000;
  if (s_.negative) item = -item;
  if (s_.phase == Phase::kIdle) OpenReceipt();
  if (s_.total + item < 0) return "negative item larger than the receipt";
  if (s_.total + item > kMaxTotal) return "receipt total too large";
  char dep[16];
  std::snprintf(dep, sizeof dep, "DEP %02d", key_ - 0x4A);
  Row(s_.description.empty() ? "ARTICOL" : s_.description, dep, out_);
  Row("  " + Fixed(s_.negative ? -s_.quantity : s_.quantity, 3) + " x " + Money(value) + " =",
      Money(item), out_);
  s_.total += item;
  if (!s_.negative) s_.last_sale = item;
  ResetItem();
  return {};
}

// The clear key (00) and 2A: the item being keyed starts over.
std::string Keypad::Command::DropItem() {
  ResetItem();
  return {};
}

std::string Keypad::Command::VoidKey() {
  if (s_.phase == Phase::kSelling || s_.phase == Phase::kPaying) {
    out_.push_back("BON ANULAT");
    out_.push_back(kRule);
  }
  s_.phase = Phase::kIdle;
  ResetItem();
  return {};
}

std::string Keypad::Command::NegativeKey() {
  s_.negative = true;
  return {};
}

// 13, a length, that many bytes of text and the key that takes it: 31 for the item's
// description, 38 to print it as a line of its own.
std::string Keypad::Command::TextEntry() {
  if (next_ >= keys_.size()) return "text entry without a length";
  const std::size_t length = keys_[next_++];
  if (keys_.size() - next_ < length + 1) return "text entry cut short";
  Bytes text(keys_.begin() + next_, keys_.begin() + next_ + length);
  next_ += length;
  const std::uint8_t close = keys_[next_++];
  if (close == 0x31) {
    s_.description = Printable(text);
    const std::size_t end = s_.description.find_last_not_of(' ');
    s_.description.resize(end == std::string::npos ? 0 : end + 1);
  } else if (close == 0x38) {
    // A free text line leads with the bytes 03 02, which do not print.
    if (text.size() >= 2 && text[0] == 0x03 && text[1] == 0x02)
      text.erase(text.begin(), text.begin() + 2);
    Wrap(Printable(text), out_);
  } else {
    return "text entry closed by key " + Hex(close);
  }
  return {};
}

std::string Keypad::Command::QuantityKey() {
  if (number_.empty()) return "quantity key with no digits";
  return Quantity(number_, s_.quantity);
}

std::string Keypad::Command::SubtotalKey() {
  Row("SUBTOTAL", Money(s_.phase == Phase::kSelling || s_.phase == Phase::kPaying ? s_.total : 0),
      out_);
  on_subtotal_ = true;
  return {};
}

// 1F takes a percentage, 21 an amount; after the subtotal key off the receipt, else off the
// last sale item.
std::string Keypad::Command::Discount() {
  std::string error;
  std::int64_t value = 0;
  if (number_.empty()) return "discount key with no digits";
  if (error = OpenFor("discount"); !error.empty()) return error;
  if (s_.phase == Phase::kPaying) return "discount after the payment began";
  if (!on_subtotal_ && s_.last_sale < 0) return "discount with no sale item before it";
  const std::int64_t base = on_subtotal_ ? s_.total : std::min(s_.last_sale, s_.total);
  std::string label = on_subtotal_ ? "REDUCERE SUBTOTAL" : "  REDUCERE";
  if (key_ == 0x1F) {
    if (error = Integer(number_, 3, value); !error.empty()) return error;
    if (value > 100) return "percentage over 100";
    // Appended piece by piece: GCC 12's optimiser warns (wrongly) about
    // " " + string.
    label += ' ';
    label += std::to_string(value);
    label += '%';
    value = (base * value + 50) / 100;
  } else {
    if (error = Amount(number_, decimal_point_, value); !error.empty()) return error;
    if (value > base) {
      return on_subtotal_ ? "discount larger than the subtotal" : "discount larger than the item";
    }
  }
  Row(label, Money(-value), out_);
  s_.total -= value;
  if (!on_subtotal_) s_.last_sale -= value;
  return {};
}

// Pays the amount keyed, or without one what is still due.
std::string Keypad::Command::Tender() {
  // The total key alone on an idle register does nothing: it also ends other sequences.
  if (key_ == 0x31 && number_.empty() && (s_.phase == Phase::kIdle || s_.phase == Phase::kPaid)) {
    return {};
  }
  std::string error;
  std::int64_t value = 0;
  if (error = OpenFor("payment"); !error.empty()) return error;
  if (number_.empty()) {
    value = s_.total - s_.paid;
  } else if (error = Amount(number_, decimal_point_, value); !error.empty()) {
    return error;
  }
  Pay(TenderName(key_), value);
  return {};
}

std::string Keypad::Command::CreditKey() {
  if (auto error = OpenFor("payment on credit"); !error.empty()) return error;
  Pay(TenderName(key_), s_.total - s_.paid);
  return {};
}

// n 35 31: pays what is due in programmed currency n, with the amount in it when its rate is
// known.
std::string Keypad::Command::CurrencyKey() {
  std::string error;
  std::int64_t value = 0;
  if (number_.empty()) return "currency key with no currency number";
  if (error = Integer(number_, 1, value); !error.empty()) return error;
  if (next_ >= keys_.size() || keys_[next_] != 0x31) return "currency key not followed by 31";
  ++next_;
  if (error = OpenFor("payment"); !error.empty()) return error;
  const std::int64_t due = s_.total - s_.paid;
  const auto found = s_.currencies.find(static_cast<int>(value));
  std::string name = "VALUTA " + std::to_string(value);
  if (found != s_.currencies.end()) name += " " + found->second.name;
  Pay(name, due);
  if (found != s_.currencies.end() && found->second.rate > 0) {
    const std::int64_t rate = found->second.rate;
    out_.insert(out_.end() - (s_.paid > s_.total ? 2 : 1),
                "  " + Money((due * 100 + rate / 2) / rate) + " x " + Money(rate));
  }
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
  return Command(s, keys, decimal_point, out).Run();
}

}  // namespace regsim
