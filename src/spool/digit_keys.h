// Numbers of a receipt line as the register's digit keys: reading a receipt
// field's digits, and keying whole numbers and thousandths. Pure functions;
// none fails or rejects input. Used by the translation and by what reads
// receipt fields the way it does (the job file, the checker).
#pragma once

#include <string_view>

#include "os/platform.h"

namespace ovix {

// Numeric value of a receipt field: blanks anywhere are ignored, then digits;
// reading stops at the first other character, so a sign or a decimal point
// ends it ("-1" reads 0, "12.5" reads 12). No digits: 0. Settings are read
// with LeadingNumber (os/text.h) instead.
double ReceiptFieldNumber(std::string_view text);

// A whole number as digit keys: leading "0"s dropped; nothing left gives the
// single byte 0x0A; otherwise "0" -> 0x0A, "1"-"9" -> 0x01-0x09, any other
// character -> 0x00. With padToThree a result shorter than 3 bytes gets 0x0A
// bytes in front up to 3; a longer result is never cut.
Bytes EncodeDigits(std::string_view text, bool padToThree);

// The up-to-three decimal places of a number as digit keys. A text reading 0
// gives 0x0A; for that reading blanks anywhere are ignored and digits are read
// up to the first character that is neither a digit nor the first decimal
// point, so a sign ends it ("-50" and "" read 0, "0.5" does not). Otherwise a
// "0" in the third place is dropped, and then a "0" in the second place too;
// the rest is keyed as by EncodeDigits, without padding.
Bytes EncodeFraction(std::string_view text);

}  // namespace ovix
