// Small byte and path helpers that every layer of the core shares; they need
// nothing of the system, so they stand beside the system seam (os.h), below
// everything else.
#pragma once

#include <filesystem>
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

// The directory that holds `path`: its parent, or "." for a bare name.
inline std::filesystem::path ParentOf(const std::filesystem::path& path) {
  return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

}  // namespace ovix
