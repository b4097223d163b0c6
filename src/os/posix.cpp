// The operating-system seam on POSIX systems (Linux).
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "os/os.h"
#include "os/system_files.h"
#include "os/text.h"

namespace ovix {
namespace fs = std::filesystem;

std::string NativeDirectory(std::string_view dirSetting) {
  if (HasDriveLetter(dirSetting)) dirSetting.remove_prefix(2);
  std::string native(dirSetting);
  std::ranges::replace(native, '\\', '/');
  return native;
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

std::string Utf8FromNarrow(std::string_view text) {
  return std::string(text);
}

std::string SystemReason(const std::error_code& code) {
  // Both categories hold errno values here.
  return ReasonText(static_cast<std::errc>(code.value()), std::strerror(code.value()),
                    code.value());
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

bool SyncFileAt(const fs::path& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return SystemFailure(error);
  const bool ok = ::fsync(fd) == 0 || SystemFailure(error);
  ::close(fd);
  return ok;
}

bool RenameReplacing(const fs::path& from, const fs::path& to, std::string* error,
                     bool* crossDevice) {
  const bool renamed = ::rename(from.c_str(), to.c_str()) == 0;
  if (crossDevice) *crossDevice = !renamed && errno == EXDEV;
  return renamed || SystemFailure(error);
}

bool SyncDirectory(const fs::path& dir, std::string* error) {
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return SystemFailure(error);
  // A file system that cannot flush a directory (EINVAL) offers no such call.
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL || SystemFailure(error);
  ::close(fd);
  return ok;
}

WriterCheck CheckForWriter(const fs::path& path) {
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
