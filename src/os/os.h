// The one seam between the core and the operating system: how path texts map
// to the file system, durable file operations, the hidden-file test, serial
// device names and the local date and time formats. One implementation per
// system, chosen by the build: posix.cpp or windows.cpp. Nothing else in the
// core depends on the system. No function throws; all run on the GUI thread.
#pragma once

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
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

// --- Files ---
//
// Every file function reports a failure the same way: false (or an empty
// result) with the system's reason in *error. `error` may be nullptr where
// the caller has no use for the reason.

// The failure of the last C library or system call that set errno: false,
// with its reason in *error (an input/output error when errno holds none).
bool SystemFailure(std::string* error);

// Closes a file its owner did not close with CloseFile.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
// An open file, owned: closed when it goes away.
using File = std::unique_ptr<std::FILE, FileCloser>;

// fopen of a path with fopen's `mode`: the wide-character open on Windows, so
// that every name the path holds is reached.
File OpenFile(const std::filesystem::path& path, const char* mode, std::string* error);

// Opens `path` for appending ("ab"); a file the call creates is shared with
// its directory's group (ShareWithDirectoryGroup).
File OpenForAppending(const std::filesystem::path& path, std::string* error);

// Writes every byte of `bytes` to `file` and flushes the C library's buffer,
// so that the bytes have reached the system when it returns true.
bool WriteToFile(std::FILE* file, std::string_view bytes, std::string* error);

// Flushes the data written to an open file (WriteToFile) to the disk.
bool FlushFileToDisk(std::FILE* file, std::string* error);

// Closes `file`; false when the close reports that written data was lost.
bool CloseFile(File file, std::string* error);

// Every byte of the file at `path`.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, std::string* error);

// Renames `from` over `to`, replacing a file there. On Windows a move across
// volumes becomes a copy, and the call returns once the move is on the disk.
bool RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::string* error);

// Moves `source` into directory `targetDir` under `name`, replacing a file of
// that name there. Creates the directory when it is missing. Within one file
// system this is a rename; across file systems the file is copied under a
// temporary name in the target, flushed, renamed into place, and only then is
// the source removed, so a crash leaves two identical copies at worst, never
// none and never a partial one. Both directories are flushed afterwards. On
// failure the source is untouched.
bool MoveIntoDirectory(const std::string& source, const std::string& targetDir,
                       const std::string& name, std::string* error);

// Flushes a directory's entries (creations, renames, removals) to the disk.
// True where the system offers no such call.
bool SyncDirectory(const std::string& dir, std::string* error);

// Whether some process still has a file open for writing, as far as the
// system lets the driver tell.
enum class WriterCheck {
  NoWriter,  // proven: nobody has it open for writing now
  Writing,   // proven: a process has it open for writing
  Unknown,   // the system gives no proof here (not the file's owner, an
             // unsupported file system, the file gone)
};
// On Linux by a read lease, which the kernel refuses while any process holds
// the file open for writing (only the file's owner, or a process with
// CAP_LEASE, may take one; the lease is let go at once, and its break signal
// is one that is ignored by default). On Windows by an open that denies
// writers, which fails while a writer holds the file.
WriterCheck CheckForWriter(const std::string& path);

// Whether the spool scan passes a directory entry over for its attributes: on
// Windows one marked hidden or system; never on POSIX (names starting with '.'
// are passed over by the scan itself on every system).
bool IsHiddenFile(const std::filesystem::path& path);

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

// Called on a file the driver has just created (the log, the trace, the job
// record's temporary file, a copy of a cross-device move): when the directory
// holding it is writable by its group, gives the file that directory's group
// (where the process belongs to it) and makes it readable and writable by that
// group, so that every user of a shared spool can go on writing and replacing
// it. True when there was nothing to share (the directory is not group
// writable, the file is another user's, or on Windows, which has no groups).
bool ShareWithDirectoryGroup(const std::filesystem::path& file, std::string* error);

}  // namespace ovix
