// File operations of the spool: the mask match of job names, the durable-
// enough move of a job file into its target directory, and reading a job file
// into lines.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ovix {

// Wildcard match as the directory search does it: "*" any run of characters,
// "?" exactly one, everything else compared case-insensitively (ASCII).
bool MatchesMask(std::string_view name, std::string_view mask);

// Moves `source` into directory `targetDir` under `name`, replacing a file of
// that name there. Creates the directory when it is missing. Within one file
// system this is a rename; across file systems the file is copied under a
// temporary name in the target, flushed, renamed into place, and only then is
// the source removed, so a crash leaves two identical copies at worst, never
// none and never a partial one. Both directories are flushed afterwards.
// Returns false with the reason in *error; the source is then untouched.
bool MoveIntoDirectory(const std::string& source, const std::string& targetDir,
                       const std::string& name, std::string* error);

// Writes `content` to `path` so that it survives a crash or a power cut: a
// temporary file beside it is written and flushed to the disk, renamed over
// `path`, and the directory is flushed. False with the reason on failure.
bool WriteFileDurably(const std::string& path, const std::string& content, std::string* error);

// Removes a file and flushes its directory. False when it exists and cannot be removed.
bool RemoveFileDurably(const std::string& path, std::string* error);

// Flushes a directory's entries (creations, renames, removals) to the disk.
// Does nothing where the platform offers no such call.
void SyncDirectory(const std::string& dir);

// Whether the spool scan passes a directory entry over for its attributes: on
// Windows one marked hidden or system. Names starting with '.' are passed over
// by the scan itself on every system.
bool IsHiddenFile(const std::filesystem::path& path);

// Splits text into lines: CR LF, LF and a lone CR each end a line, and a last
// line without terminator counts.
std::vector<std::string> SplitLines(std::string_view text);

// Reads a whole text file and splits it into lines; CR LF, LF and a lone CR
// each end a line, and a last line without terminator counts. nullopt with the
// reason in *error when the file cannot be read.
std::optional<std::vector<std::string>> ReadLines(const std::string& path, std::string* error);

}  // namespace ovix
