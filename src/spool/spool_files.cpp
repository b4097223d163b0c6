#include "spool/spool_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "os/os.h"
#include "os/text.h"

namespace ovix {
namespace fs = std::filesystem;

bool MatchesMask(std::string_view name, std::string_view mask) {
  // Iterative wildcard match with backtracking to the last "*".
  std::size_t n = 0, m = 0, starM = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starM = m++;
      starN = n;
    } else if (m < mask.size() && (mask[m] == '?' || AsciiLower(mask[m]) == AsciiLower(name[n]))) {
      ++n;
      ++m;
    } else if (starM != std::string_view::npos) {
      m = starM + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

bool WriteFileDurably(const std::string& path, const std::string& content, std::string* error) {
  const fs::path target = PathFromText(path);
  const fs::path temporary = fs::path(target).concat(".tmp");
  std::FILE* file = OpenFile(temporary, "wb");
  if (file == nullptr) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  ShareWithDirectoryGroup(temporary);
  bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  ok = std::fflush(file) == 0 && ok;
  ok = FlushFileToDisk(file) && ok;
  const int savedErrno = errno;
  ok = std::fclose(file) == 0 && ok;
  std::error_code ec;
  if (ok) RenameReplacing(temporary, target, ec);
  if (!ok || ec) {
    if (error) *error = ec ? ec.message() : std::strerror(savedErrno);
    fs::remove(temporary, ec);
    return false;
  }
  SyncDirectory(ParentOf(target).string());
  return true;
}

bool RemoveFileDurably(const std::string& path, std::string* error) {
  std::error_code ec;
  const fs::path file = PathFromText(path);
  fs::remove(file, ec);
  if (ec) {
    if (error) *error = ec.message();
    return false;
  }
  SyncDirectory(ParentOf(file).string());
  return true;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(std::string(text.substr(start, i - start)));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(std::string(text.substr(start)));
  return lines;
}

std::optional<std::string> ReadFileBytes(const std::string& path, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    if (error) *error = std::strerror(errno);
    return std::nullopt;
  }
  std::string text;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  const int savedErrno = errno;
  std::fclose(file);
  if (failed) {
    if (error) *error = std::strerror(savedErrno);
    return std::nullopt;
  }
  return text;
}

std::optional<std::vector<std::string>> ReadLines(const std::string& path, std::string* error) {
  const std::optional<std::string> text = ReadFileBytes(path, error);
  if (!text) return std::nullopt;
  return SplitLines(*text);
}

}  // namespace ovix
