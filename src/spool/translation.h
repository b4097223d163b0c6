// Turns receipt lines and currency-programming lines into the register's "A"
// key commands and sends them through a KeyCommandSink (the printer link in the
// driver). Holds no state between lines.
#pragma once

#include <string_view>

#include "link/printer_link.h"
#include "os/platform.h"
#include "shell/settings.h"
#include "spool/receipt_line.h"

namespace ovix {

enum class LineOutcome {
  GoOn,            // read the next line
  ReceiptPrinted,  // a credit payment ended the receipt: file it as printed
  ReceiptFailed,   // a sale item command failed: take the print-error path
};

// Key bytes of an amount in minor units. With newFirmware the digits are
// padded to at least three and the decimal point key 0x0D goes before the last
// two (1250 -> 01 02 0D 05 0A); without, the plain digit keys.
Bytes KeyAmount(std::string_view digits, bool newFirmware);

// Sends the commands of one receipt line (already trimmed of spaces and not
// empty). Only a sale item looks at the sink's failure flag, after its
// description, quantity and price commands, and stops at the first failure.
LineOutcome TranslateReceiptLine(std::string_view line, const DriverSettings& settings,
                                 bool newFirmware, KeyCommandSink& sink);

// Sends the six commands that program one currency from a non-empty line of a
// currency-programming file (not trimmed). Results are not looked at.
void TranslateCurrencyLine(std::string_view line, const DriverSettings& settings, bool newFirmware,
                           KeyCommandSink& sink);

}  // namespace ovix
