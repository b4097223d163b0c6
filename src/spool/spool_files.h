// File operations of the spool: the mask match of job names, the durable-
// enough move of a job file into its target directory, and reading a job file
// into lines.
#pragma once

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
// temporary name in the target, renamed into place, then the source is removed.
// Returns false with the reason in *error; the source is then untouched.
bool MoveIntoDirectory(const std::string& source, const std::string& targetDir,
                       const std::string& name, std::string* error);

// Reads a whole text file and splits it into lines; CR LF, LF and a lone CR
// each end a line, and a last line without terminator counts. nullopt with the
// reason in *error when the file cannot be read.
std::optional<std::vector<std::string>> ReadLines(const std::string& path, std::string* error);

}  // namespace ovix
