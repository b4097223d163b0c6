// The system's own file calls under SystemEnv (os/env.h): one definition per
// system in posix.cpp or windows.cpp, the shared ones in files.cpp. Only the
// os layer and its tests include this; the core goes through the Env.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "os/env.h"

namespace ovix {

// The failure of the last C library or system call that set errno: false,
// with its reason in *error (an input/output error when errno holds none).
bool SystemFailure(std::string* error);

// SystemReason's text: the Romanian words for `cause` when it is one of the
// common causes, else `systemMessage`, then " (cod <code>)".
std::string ReasonText(std::errc cause, const std::string& systemMessage, int code);

// Closes a file its owner did not close with CloseFile.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
// An open file, owned: closed when it goes away.
using File = std::unique_ptr<std::FILE, FileCloser>;

// fopen of a path with fopen's `mode`: the wide-character open on Windows, so
// that every name the path holds is reached.
File OpenFile(const std::filesystem::path& path, const char* mode, std::string* error);

// Flushes the data written to an open file to the disk.
bool FlushFileToDisk(std::FILE* file, std::string* error);

// Flushes the data of the file at `path` to the disk.
bool SyncFileAt(const std::filesystem::path& path, std::string* error);

// Env::RenameReplacing, Env::SyncDirectory, Env::CheckForWriter of this system.
bool RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::string* error, bool* crossDevice);
bool SyncDirectory(const std::filesystem::path& dir, std::string* error);
WriterCheck CheckForWriter(const std::filesystem::path& path);

// DirEntry::hidden of the file at `path`.
bool IsHiddenFile(const std::filesystem::path& path);

// The group sharing of a file the driver has just made (Env::NewWritableFile).
// True when there was nothing to share (the directory is not group writable,
// the file is another user's, or on Windows, which has no groups).
bool ShareWithDirectoryGroup(const std::filesystem::path& file, std::string* error);

}  // namespace ovix
