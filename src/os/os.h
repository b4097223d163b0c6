// The operating system's parts that are plain functions of the system: how
// path texts map to the file system, serial device names, the local date and
// time formats and the machine-wide instance locks. The file system itself is
// reached through an Env (os/env.h). One implementation per system, chosen by
// the build: posix.cpp or windows.cpp. No function throws; all run on the GUI
// thread.
#pragma once

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ovix {

// --- Path texts ---

// A directory setting as used in file paths on this system. On POSIX every
// backslash becomes '/' and a leading drive letter with its colon ("C:") is
// dropped, so "C:\OVIX\BONOK\" is "/OVIX/BONOK/"; native paths come back as
// they are. On Windows the text is returned unchanged. File paths are then the
// plain concatenation of this text and the file name.
std::string NativeDirectory(std::string_view dirSetting);

// `name` inside directory `dir` (given without a trailing separator), joined
// with the system's directory separator.
std::string FileInDirectory(const std::string& dir, std::string_view name);

// A file path held as text, as the settings have it and the narrow file
// functions (fopen) take it, as a filesystem path: on POSIX the bytes as they
// are, on Windows text in the ANSI code page.
std::filesystem::path PathFromText(const std::string& text);

// The reverse: std::nullopt when a character of the path has no spelling in
// that encoding (on Windows, one outside the ANSI code page), so that the
// narrow file functions could not reach it.
std::optional<std::string> TextFromPath(const std::filesystem::path& path);

// UTF-8 text in the system's narrow encoding, the one the settings and the
// file functions use: unchanged on POSIX; on Windows in the ANSI code page,
// where a character that the code page cannot spell becomes '?'.
std::string NarrowFromUtf8(std::string_view utf8);

// The device of serial port number `port` (1 is the first): "COM<port>" on
// Windows, "/dev/ttyS<port-1>" on POSIX.
std::string SerialDeviceOfPort(int port);

// --- Time ---

// The broken-down local time of `when`, in the system's time zone with its
// daylight saving time.
std::tm LocalCalendarTime(std::time_t when);

// Local date in the short date format, " - ", local time in the long time
// format: on POSIX strftime %x and %X under the LC_TIME of the environment, on
// Windows the user's formats from the regional settings, in the ANSI code page.
std::string LocalTimestamp(std::time_t when);

// --- Shared by the sessions and the users of a machine ---

// The separator this system joins a directory and a file name with: '/' on
// POSIX, '\\' on Windows.
char DirectorySeparator();

// Whether two spellings of a path that differ only in the case of ASCII
// letters name the same file here: true on Windows, false on POSIX.
bool PathsIgnoreCase();

// Takes the locks of the given names (letters, digits and '-' only), each
// shared by every session and every user of the machine, and holds them for
// the life of the process; the system releases them however the process ends,
// so the lock of a dead process never blocks. False when another process holds
// one of them (the locks taken before it are kept until the process ends).
// A lock that cannot be made at all does not count as held by another.
// POSIX: an flock on <name>.lock in /run/lock, else /var/lock, else /tmp, the
// file opened read-only so that another user's file serves as well, and made
// mode 0644. Windows: a named mutex Global\<name>; access denied (a copy that
// runs elevated or as another user) counts as held by another.
bool TakeInstanceLocks(const std::vector<std::string>& names);

}  // namespace ovix
