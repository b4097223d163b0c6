// The operating-system seam on POSIX systems (Linux).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>

#include "os/os.h"

namespace ovix {
namespace fs = std::filesystem;

namespace {

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Flushes a file's data to the disk.
bool SyncFile(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

fs::path ParentOf(const fs::path& path) {
  return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

}  // namespace

std::string NativeDirectory(std::string_view dirSetting) {
  const bool hasDrive = dirSetting.size() >= 2 && dirSetting[1] == ':' &&
                        AsciiLower(dirSetting[0]) >= 'a' && AsciiLower(dirSetting[0]) <= 'z';
  if (hasDrive) dirSetting.remove_prefix(2);
  std::string native(dirSetting);
  std::ranges::replace(native, '\\', '/');
  return native;
}

std::string FileInDirectory(const std::string& dir, std::string_view name) {
  return dir + "/" + std::string(name);
}

fs::path PathFromText(const std::string& text) {
  return fs::path(text);
}

std::optional<std::string> TextFromPath(const fs::path& path) {
  return path.string();
}

std::string SerialDeviceOfPort(int port) {
  return "/dev/ttyS" + std::to_string(port - 1);
}

std::FILE* OpenFile(const fs::path& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

bool FlushFileToDisk(std::FILE* file) {
  return ::fsync(::fileno(file)) == 0;
}

void RenameReplacing(const fs::path& from, const fs::path& to, std::error_code& ec) {
  fs::rename(from, to, ec);
}

bool MoveIntoDirectory(const std::string& source, const std::string& targetDir,
                       const std::string& name, std::string* error) {
  std::error_code ec;
  const fs::path dir = targetDir.empty() ? fs::path(".") : fs::path(targetDir);
  fs::create_directories(dir, ec);
  const fs::path target = dir / name;
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
}

void SyncDirectory(const std::string& dir) {
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

WriterCheck CheckForWriter(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return WriterCheck::Unknown;
  WriterCheck check = WriterCheck::Unknown;
  // A writer opening the file while the lease is held would have the kernel
  // signal the lease holder: SIGURG, which a process ignores unless it asks.
  if (::fcntl(fd, F_SETSIG, SIGURG) == 0 && ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    check = WriterCheck::NoWriter;
  } else if (errno == EAGAIN) {
    check = WriterCheck::Writing;
  }
  ::close(fd);
  return check;
}

bool IsHiddenFile(const fs::path&) {
  return false;
}

std::tm LocalCalendarTime(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return local;
}

std::string LocalTimestamp(std::time_t when) {
  const std::tm local = LocalCalendarTime(when);
  char date[128] = "";
  char time[128] = "";
  std::strftime(date, sizeof date, "%x", &local);
  std::strftime(time, sizeof time, "%X", &local);
  return std::string(date) + " - " + time;
}

}  // namespace ovix
