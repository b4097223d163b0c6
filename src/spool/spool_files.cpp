#include "spool/spool_files.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "shell/settings.h"

namespace ovix {
namespace fs = std::filesystem;

namespace {
char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
}  // namespace

bool MatchesMask(std::string_view name, std::string_view mask) {
  // Iterative wildcard match with backtracking to the last "*".
  std::size_t n = 0, m = 0, starM = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starM = m++;
      starN = n;
    } else if (m < mask.size() && (mask[m] == '?' || Lower(mask[m]) == Lower(name[n]))) {
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

namespace {

// Renames a file over one of the target's name. On Windows a move across
// volumes becomes a copy, and the call returns once the move is on the disk.
void RenameReplacing(const fs::path& from, const fs::path& to, std::error_code& ec) {
#ifdef _WIN32
  ec.clear();
  if (!MoveFileExW(from.c_str(), to.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
    ec.assign(static_cast<int>(GetLastError()), std::system_category());
#else
  fs::rename(from, to, ec);
#endif
}

#ifndef _WIN32
// Flushes an open file's data to the disk.
bool SyncFile(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}
#endif

fs::path ParentOf(const fs::path& path) {
  return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

}  // namespace

void SyncDirectory(const std::string& dir) {
#ifndef _WIN32
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
#else
  (void)dir;
#endif
}

bool WriteFileDurably(const std::string& path, const std::string& content, std::string* error) {
  const fs::path target = PathFromText(path);
  const fs::path temporary = fs::path(target).concat(".tmp");
#ifdef _WIN32
  std::FILE* file = ::_wfopen(temporary.c_str(), L"wb");
#else
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
#endif
  if (file == nullptr) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  ok = std::fflush(file) == 0 && ok;
#ifdef _WIN32
  ok = ::_commit(::_fileno(file)) == 0 && ok;
#else
  ok = ::fsync(::fileno(file)) == 0 && ok;
#endif
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

bool MoveIntoDirectory(const std::string& source, const std::string& targetDir,
                       const std::string& name, std::string* error) {
  std::error_code ec;
  const fs::path dir = targetDir.empty() ? fs::path(".") : PathFromText(targetDir);
  fs::create_directories(dir, ec);
  const fs::path target = dir / PathFromText(name);
#ifdef _WIN32
  RenameReplacing(PathFromText(source), target, ec);
  if (ec && error) *error = ec.message();
  return !ec;
#else
  fs::rename(source, target, ec);
  if (!ec) {
    SyncDirectory(dir.string());
    SyncDirectory(ParentOf(fs::path(source)).string());
    return true;
  }
  if (ec != std::errc::cross_device_link) {
    if (error) *error = ec.message();
    return false;
  }
  const fs::path temporary = dir / ("." + name + ".ovixnova-tmp");
  if (!fs::copy_file(source, temporary, fs::copy_options::overwrite_existing, ec) ||
      !SyncFile(temporary) || (fs::rename(temporary, target, ec), ec)) {
    if (error) *error = ec ? ec.message() : std::string("cannot flush the copy");
    fs::remove(temporary, ec);
    return false;
  }
  SyncDirectory(dir.string());
  fs::remove(source, ec);
  SyncDirectory(ParentOf(fs::path(source)).string());
  return true;
#endif
}

bool IsHiddenFile([[maybe_unused]] const std::filesystem::path& path) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
#else
  return false;
#endif
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

std::optional<std::vector<std::string>> ReadLines(const std::string& path, std::string* error) {
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
  return SplitLines(text);
}

}  // namespace ovix
