// File operations of the spool: the mask match of job names, durable writes
// and removals (moves are in os/env.h), and reading a job file into lines,
// all through the Env given.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/env.h"

namespace ovix {

// Wildcard match as the directory search does it: "*" any run of characters,
// "?" exactly one, everything else compared case-insensitively (ASCII).
bool MatchesMask(std::string_view name, std::string_view mask);

// Writes `content` to `path` so that it survives a crash or a power cut: a
// temporary file beside it is written and flushed to the disk, renamed over
// `path`, and the directory is flushed. False with the reason on failure (a
// directory that cannot be flushed included: the new content may then be in
// place but not yet safe).
bool WriteFileDurably(Env& env, const std::string& path, const std::string& content,
                      std::string* error);

// Removes a file and flushes its directory. False when it exists and cannot
// be removed, or the directory cannot be flushed.
bool RemoveFileDurably(Env& env, const std::string& path, std::string* error);

// Splits text into lines: CR LF, LF and a lone CR each end a line, and a last
// line without terminator counts.
std::vector<std::string> SplitLines(std::string_view text);

// Reads a whole file as it is. nullopt with the reason in *error when it
// cannot be read.
std::optional<std::string> ReadFileBytes(Env& env, const std::string& path, std::string* error);

// Reads a whole text file and splits it into lines; CR LF, LF and a lone CR
// each end a line, and a last line without terminator counts. nullopt with the
// reason in *error when the file cannot be read.
std::optional<std::vector<std::string>> ReadLines(Env& env, const std::string& path,
                                                  std::string* error);

}  // namespace ovix
