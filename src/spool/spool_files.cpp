#include "spool/spool_files.h"

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
    if (m < mask.size() && (mask[m] == '?' || Lower(mask[m]) == Lower(name[n]))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == '*') {
      starM = m++;
      starN = n;
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

bool MoveIntoDirectory(const std::string& source, const std::string& targetDir,
                       const std::string& name, std::string* error) {
  std::error_code ec;
  const fs::path dir = targetDir.empty() ? fs::path(".") : fs::path(targetDir);
  fs::create_directories(dir, ec);
  const fs::path target = dir / name;
  fs::rename(source, target, ec);
  if (!ec) return true;
  if (ec != std::errc::cross_device_link) {
    if (error) *error = ec.message();
    return false;
  }
  const fs::path temporary = dir / ("." + name + ".ovixnova-tmp");
  if (!fs::copy_file(source, temporary, fs::copy_options::overwrite_existing, ec) ||
      (fs::rename(temporary, target, ec), ec)) {
    if (error) *error = ec.message();
    fs::remove(temporary, ec);
    return false;
  }
  fs::remove(source, ec);
  return true;
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
