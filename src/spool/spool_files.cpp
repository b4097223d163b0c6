#include "spool/spool_files.h"

#include <memory>
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

bool WriteFileDurably(Env& env, const std::string& path, const std::string& content,
                      std::string* error) {
  const fs::path target = PathFromText(path);
  const fs::path temporary = fs::path(target).concat(".tmp");
  std::unique_ptr<WritableFile> file = env.NewWritableFile(temporary, error);
  if (!file) return false;
  bool ok = file->Append(content, error) && file->Sync(error);
  ok = file->Close(ok ? error : nullptr) && ok;
  // Let go even when the close failed: Windows cannot remove an open file.
  file.reset();
  if (!ok || !env.RenameReplacing(temporary, target, error)) {
    env.RemoveFile(temporary, nullptr);
    return false;
  }
  return env.SyncDirectory(ParentOf(target), error);
}

bool RemoveFileDurably(Env& env, const std::string& path, std::string* error) {
  const fs::path file = PathFromText(path);
  return env.RemoveFile(file, error) && env.SyncDirectory(ParentOf(file), error);
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

std::optional<std::string> ReadFileBytes(Env& env, const std::string& path, std::string* error) {
  return env.ReadFile(PathFromText(path), error);
}

std::optional<std::vector<std::string>> ReadLines(Env& env, const std::string& path,
                                                  std::string* error) {
  const std::optional<std::string> text = ReadFileBytes(env, path, error);
  if (!text) return std::nullopt;
  return SplitLines(*text);
}

}  // namespace ovix
