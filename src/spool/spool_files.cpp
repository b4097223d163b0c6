#include "spool/spool_files.h"

#ifdef _WIN32
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

// Flushes an open file's data to the disk.
bool SyncFile(const fs::path& path) {
#ifdef _WIN32
  (void)path;
  return true;
#else
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
#endif
}

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
  const fs::path target(path);
  const fs::path temporary = ParentOf(target) / (target.filename().string() + ".tmp");
  std::FILE* file = std::fopen(temporary.string().c_str(), "wb");
  if (file == nullptr) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  ok = std::fflush(file) == 0 && ok;
#ifndef _WIN32
  ok = ::fsync(::fileno(file)) == 0 && ok;
#endif
  const int savedErrno = errno;
  ok = std::fclose(file) == 0 && ok;
  std::error_code ec;
  if (ok) fs::rename(temporary, target, ec);
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
  fs::remove(path, ec);
  if (ec) {
    if (error) *error = ec.message();
    return false;
  }
  SyncDirectory(ParentOf(fs::path(path)).string());
  return true;
}

bool MoveIntoDirectory(const std::string& source, const std::string& targetDir,
                       const std::string& name, std::string* error) {
  std::error_code ec;
  const fs::path dir = targetDir.empty() ? fs::path(".") : fs::path(targetDir);
  fs::create_directories(dir, ec);
  const fs::path target = dir / name;
#ifdef _WIN32
  if (!MoveFileExW(fs::path(source).c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
    if (error) *error = std::system_category().message(static_cast<int>(GetLastError()));
    return false;
  }
  return true;
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
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace ovix
