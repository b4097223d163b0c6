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
#include <system_error>
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

// A file path held as text, as the settings, the log and every layer above
// the system keep it, as a filesystem path: on POSIX the bytes as they are,
// on Windows UTF-8 text, so that every name a directory can hold is reached.
std::filesystem::path PathFromText(const std::string& text);

// The reverse: std::nullopt when the path cannot be spelled as such text (on
// Windows, a name with an unpaired surrogate, which no text can hold).
std::optional<std::string> TextFromPath(const std::filesystem::path& path);

// Text as the system's narrow ("ANSI") calls and the event log's file take
// it, from the UTF-8 the driver holds: unchanged on POSIX; on Windows in the
// ANSI code page, where a character the code page cannot spell becomes its
// nearest look-alike or '?'.
std::string NarrowFromUtf8(std::string_view utf8);

// The reverse, for text that comes from the system's narrow side (a settings
// file written in the code page, a journal written by an older driver):
// unchanged on POSIX and for text that is well-formed UTF-8 already; on
// Windows other text is read in the ANSI code page.
std::string Utf8FromNarrow(std::string_view text);

// The operator's words for a failed call of the system, in Romanian for the
// common causes (a missing file, directory or port, access denied, a full or
// write-protected disk, a device that went away, an input/output error, a
// busy file or port), else the system's own message, each followed by the
// system's code: "acces refuzat (cod 5)". `code` is an errno value in the
// generic category and the system's own code (errno on POSIX, a Win32 error
// on Windows) in the system category.
std::string SystemReason(const std::error_code& code);

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
