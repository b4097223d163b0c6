#include "spool/spool_files.h"

#include <filesystem>
#include <system_error>
#include <utility>

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
  File file = OpenFile(temporary, "wb", error);
  if (!file) return false;
  ShareWithDirectoryGroup(temporary, nullptr);
  bool ok = WriteToFile(file.get(), content, error) && FlushFileToDisk(file.get(), error);
  ok = CloseFile(std::move(file), ok ? error : nullptr) && ok;
  if (!ok || !RenameReplacing(temporary, target, error)) {
    std::error_code ec;
    fs::remove(temporary, ec);
    return false;
  }
  SyncDirectory(ParentOf(target).string(), nullptr);
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
  SyncDirectory(ParentOf(file).string(), nullptr);
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
  return ReadWholeFile(PathFromText(path), error);
}

std::optional<std::vector<std::string>> ReadLines(const std::string& path, std::string* error) {
  const std::optional<std::string> text = ReadFileBytes(path, error);
  if (!text) return std::nullopt;
  return SplitLines(*text);
}

}  // namespace ovix
