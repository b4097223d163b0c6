// The register's key codes that the driver sends, named in one place. The
// body of every "A" command is a sequence of them, which the register
// carries out as if they were pressed on its keypad.
#pragma once

#include <string_view>

namespace ovix::keys {

// Keys inside a line's commands.
inline constexpr char kZeroDigit = 0x0A;            // digit 0; 0x01-0x09 are the digits 1-9
inline constexpr char kPoint = 0x0D;                // decimal point, before the last decimals
inline constexpr char kCurrencySetup = 0x12;        // first key of a currency-programming line
inline constexpr char kCurrencySetupSecond = 0x08;  // first key of its second command
inline constexpr char kTextEntry = 0x13;            // then a length byte and the text
inline constexpr char kQuantity = 0x1B;
inline constexpr char kPercentDiscount = 0x1F;
inline constexpr char kValueDiscount = 0x21;
inline constexpr char kItem = 0x2A;   // sent alone before every sale item
inline constexpr char kTotal = 0x31;  // also closes a text entry
inline constexpr char kCredit = 0x32;
inline constexpr char kCheque = 0x33;
inline constexpr char kVoucher = 0x34;
inline constexpr char kCurrency = 0x35;
inline constexpr char kCard = 0x36;
inline constexpr char kPrintText = 0x38;
inline constexpr char kNegative = 0x3B;
inline constexpr char kSubtotal = 0x45;
inline constexpr int kFirstDepartment = 0x4A;  // department d is 0x4A + d

// Sequences the spool sends around receipts; each key is a command of its own.
// The cancel sequence voids an unfinished receipt; its long tail follows when
// the second status is not 0 after the first part.
inline constexpr std::string_view kCancelSequence{"\x00\x0F", 2};
inline constexpr std::string_view kCancelSequenceTail{"\x00\x3A\x31", 3};
// Sent before a file is printed again after a failure.
inline constexpr std::string_view kRetryPreparation{"\x00\x0F\x00\x3A\x31", 5};
// Voids the receipt open on the register.
inline constexpr char kVoid = 0x0F;
// Sent before a receipt when the status reply's byte-6 value is not 1.
inline constexpr char kStatusKey = kVoid;

// The clearing: two commands, each with the 9 s wait.
inline constexpr std::string_view kClearingFirst{"\x11\x45\x31", 3};
inline constexpr std::string_view kClearingSecond{"\x0F", 1};

}  // namespace ovix::keys
