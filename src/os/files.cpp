// The file functions of the system seam that are the same on every system:
// they are built on OpenFile and the C library alone.
#include <cerrno>
#include <cstring>
#include <system_error>

#include "os/os.h"

namespace ovix {

bool SystemFailure(std::string* error) {
  if (error) *error = std::strerror(errno != 0 ? errno : EIO);
  return false;
}

File OpenForAppending(const std::filesystem::path& path, std::string* error) {
  std::error_code ec;
  const bool existed = std::filesystem::exists(path, ec);
  File file = OpenFile(path, "ab", error);
  if (file && !existed) ShareWithDirectoryGroup(path, nullptr);
  return file;
}

bool WriteToFile(std::FILE* file, std::string_view bytes, std::string* error) {
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) return SystemFailure(error);
  if (std::fflush(file) != 0) return SystemFailure(error);
  return true;
}

bool CloseFile(File file, std::string* error) {
  errno = 0;
  if (std::fclose(file.release()) != 0) return SystemFailure(error);
  return true;
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, std::string* error) {
  File file = OpenFile(path, "rb", error);
  if (!file) return std::nullopt;
  std::string text;
  char buffer[65536];
  std::size_t got;
  errno = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, got);
  if (std::ferror(file.get()) != 0) {
    SystemFailure(error);
    return std::nullopt;
  }
  return text;
}

}  // namespace ovix
