// Byte-level codec of the register protocol: command framing, the
// hexadecimal rendering of reply data, the readings of status fields, and the
// reading of numbers that the settings share. Pure functions; none fails or
// rejects input. The digit keys of receipt numbers are in spool/digit_keys.h.
#pragma once

#include <string>
#include <string_view>

#include "os/platform.h"

namespace ovix {

inline constexpr unsigned char kDle = 0x10;
inline constexpr unsigned char kStx = 0x02;
inline constexpr unsigned char kEtx = 0x03;
inline constexpr unsigned char kAck = 0x06;

// 10 02 00 00 00 00: the fixed head of every command.
Bytes MakeFrameHead();
// 10 03: the fixed tail of every command.
Bytes MakeFrameTail();

// Rewrites a composed command (6-byte head + body + 2-byte tail) in place into
// its wire frame: the first six bytes stay as they are, every 0x10 of the body
// is doubled, and the last two bytes are replaced by 10 03. A text shorter than
// eight bytes is treated as head + empty body (its tail is replaced).
void FrameCommand(Bytes& commandText);

// One byte per pair of hexadecimal characters ("0"-"9", "A"-"F"; any other
// character, and a missing partner at the end of an odd-length text, count 0).
Bytes HexPairsToBytes(std::string_view hex);

// Decimal reading of a two-character text (a packed-decimal byte rendered in
// hex): 10*first+second when both are digits, the first alone when only it is,
// else 0. Shorter texts read the same way ("" reads 0).
double DecimalReading(std::string_view twoChars);

// Reply data of a collected reply record (4 leading bytes, data, 10 03) as
// uppercase hex, two characters a byte. Fewer than 7 bytes: the empty text.
std::string ReplyHexOf(const Bytes& replyRaw);

}  // namespace ovix
