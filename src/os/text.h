// Small text, number and path helpers that every layer of the core shares;
// they need nothing of the system, so they stand beside the system seam
// (os.h), below everything else. The inline ones are here; the others in
// text.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace ovix {

// The byte in ASCII lower case; every byte but 'A' to 'Z' is returned as it is.
constexpr char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The digits of a byte written in hexadecimal, upper case, as the log, the
// wire trace and the reply text write them.
inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// Whether the text begins with a drive letter and its colon ("C:").
constexpr bool HasDriveLetter(std::string_view text) {
  return text.size() >= 2 && text[1] == ':' && AsciiLower(text[0]) >= 'a' &&
         AsciiLower(text[0]) <= 'z';
}

// Whether `text` is well-formed UTF-8 (ASCII is); *beyondAscii, when given,
// says whether it holds a character beyond ASCII. Text in a single-byte code
// page with such a character almost never is well-formed UTF-8.
constexpr bool IsWellFormedUtf8(std::string_view text, bool* beyondAscii = nullptr) {
  bool beyond = false;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t tail = lead < 0x80                   ? 0
                             : lead >= 0xC2 && lead < 0xE0 ? 1
                             : lead >= 0xE0 && lead < 0xF0 ? 2
                             : lead >= 0xF0 && lead < 0xF5 ? 3
                                                           : 4;
    if (tail == 4 || tail >= text.size() - i) return false;
    for (std::size_t k = 1; k <= tail; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    beyond = beyond || tail > 0;
    i += tail + 1;
  }
  if (beyondAscii) *beyondAscii = beyond;
  return true;
}

// The directory that holds `path`: its parent, or "." for a bare name.
inline std::filesystem::path ParentOf(const std::filesystem::path& path) {
  return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

// Text for a log line that shows it as it is, with control characters (bytes
// below 0x20 and 0x7F) written as \xHH: a file name can neither break a log
// line nor forge one. With `reversible` the backslash is written as \x5C too,
// so that UnescapeText gives the text back byte for byte.
std::string VisibleText(std::string_view text, bool reversible = false);
// Undoes VisibleText: every \xHH (uppercase hex) becomes its byte; any other
// text, a malformed escape included, is kept as it stands.
std::string UnescapeText(std::string_view text);

// Numeric value of a text read as a decimal number: blanks anywhere are
// ignored, an optional leading sign is taken, then digits with at most one
// decimal point; reading stops at the first other character. No digits: 0.
// Receipt fields are read with ReceiptFieldNumber (spool/digit_keys.h).
double LeadingNumber(std::string_view text);

// Rounds to the nearest integer, a half to the even neighbour (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double value);

// The 64-bit FNV-1a hash of the bytes of `text`, as a number and as 16
// lowercase hex digits.
std::uint64_t Fnv1a64(std::string_view text);
std::string Fnv1a64Hex(std::string_view text);

}  // namespace ovix
