// The operating-system seam on POSIX systems (Linux).
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "os/os.h"
#include "os/text.h"

namespace ovix {
namespace fs = std::filesystem;

namespace {

// Flushes a file's data to the disk.
bool SyncFile(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

std::string NativeDirectory(std::string_view dirSetting) {
  if (HasDriveLetter(dirSetting)) dirSetting.remove_prefix(2);
  std::string native(dirSetting);
  std::ranges::replace(native, '\\', '/');
  return native;
}

std::string FileInDirectory(const std::string& dir, std::string_view name) {
  return dir + DirectorySeparator() + std::string(name);
}

fs::path PathFromText(const std::string& text) {
  return fs::path(text);
}

std::optional<std::string> TextFromPath(const fs::path& path) {
  return path.string();
}

std::string NarrowFromUtf8(std::string_view utf8) {
  return std::string(utf8);
}

std::string SerialDeviceOfPort(int port) {
  return "/dev/ttyS" + std::to_string(port - 1);
}

File OpenFile(const fs::path& path, const char* mode, std::string* error) {
  File file(std::fopen(path.c_str(), mode));
  if (!file) SystemFailure(error);
  return file;
}

bool FlushFileToDisk(std::FILE* file, std::string* error) {
  return ::fsync(::fileno(file)) == 0 || SystemFailure(error);
}

bool RenameReplacing(const fs::path& from, const fs::path& to, std::string* error) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (ec && error) *error = ec.message();
  return !ec;
}

bool MoveIntoDirectory(const std::string& source, const std::string& targetDir,
                       const std::string& name, std::string* error) {
  std::error_code ec;
  const fs::path dir = targetDir.empty() ? fs::path(".") : fs::path(targetDir);
  fs::create_directories(dir, ec);
  const fs::path target = dir / name;
  fs::rename(source, target, ec);
  if (!ec) {
    SyncDirectory(dir.string(), nullptr);
    SyncDirectory(ParentOf(fs::path(source)).string(), nullptr);
    return true;
  }
  if (ec != std::errc::cross_device_link) {
    if (error) *error = ec.message();
    return false;
  }
  const fs::path temporary = dir / ("." + name + ".ovixnova-tmp");
  const bool copied = fs::copy_file(source, temporary, fs::copy_options::overwrite_existing, ec);
  if (copied) ShareWithDirectoryGroup(temporary, nullptr);
  if (!copied || !SyncFile(temporary) || (fs::rename(temporary, target, ec), ec)) {
    if (error) *error = ec ? ec.message() : std::string("cannot flush the copy");
    fs::remove(temporary, ec);
    return false;
  }
  SyncDirectory(dir.string(), nullptr);
  fs::remove(source, ec);
  SyncDirectory(ParentOf(fs::path(source)).string(), nullptr);
  return true;
}

bool SyncDirectory(const std::string& dir, std::string* error) {
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return SystemFailure(error);
  const bool ok = ::fsync(fd) == 0 || SystemFailure(error);
  ::close(fd);
  return ok;
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

// --- Shared by the sessions and the users of a machine ---

namespace {

// Opens the lock file `name`.lock in the first lock directory that has it or
// lets it be made; -1 when none does. An existing file is opened read-only
// and without O_CREAT: fs.protected_regular refuses O_CREAT on another user's
// file in a sticky directory such as /tmp, and flock needs no write access.
int OpenLockFile(const std::string& name) {
  for (const char* dir : {"/run/lock", "/var/lock", "/tmp"}) {
    const std::string path = std::string(dir) + "/" + name + ".lock";
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) return fd;
    if (errno != ENOENT) continue;
    fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd >= 0) {
      // The umask may have taken the others' read access away.
      [[maybe_unused]] const int changed = ::fchmod(fd, 0644);
      return fd;
    }
    if (errno == EEXIST) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) return fd;
  }
  return -1;
}

}  // namespace

char DirectorySeparator() {
  return '/';
}

bool PathsIgnoreCase() {
  return false;
}

bool TakeInstanceLocks(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    const int fd = OpenLockFile(name);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      ::close(fd);
      return false;
    }
    // The descriptor stays open, and the lock held, until the process ends.
  }
  return true;
}

bool ShareWithDirectoryGroup(const fs::path& file, std::string* error) {
  struct stat dir {};
  if (::stat(ParentOf(file).c_str(), &dir) != 0) return SystemFailure(error);
  if ((dir.st_mode & S_IWGRP) == 0) return true;
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return SystemFailure(error);
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
    if (st.st_gid != dir.st_gid && ::fchown(fd, static_cast<uid_t>(-1), dir.st_gid) == 0)
      st.st_gid = dir.st_gid;
    const mode_t shared = (st.st_mode & 07777) | S_IRGRP | S_IWGRP;
    if (st.st_gid == dir.st_gid && shared != (st.st_mode & 07777)) ok = ::fchmod(fd, shared) == 0;
  }
  if (!ok) SystemFailure(error);
  ::close(fd);
  return ok;
}

}  // namespace ovix
