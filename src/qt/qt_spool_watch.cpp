#include "qt/qt_spool_watch.h"

#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ovix {

namespace {

// File systems whose changes made elsewhere inotify does not report.
const char* RemoteFileSystem(const std::string& directory) {
  struct statfs fs {};
  if (::statfs(directory.c_str(), &fs) != 0) return nullptr;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969:
      return "nfs";
    case 0x517B:
      return "smb";
    case 0xFF534D42:
      return "cifs";
    case 0xFE534D42:
      return "smb2";
    case 0x65735546:
      return "fuse";
    case 0x01021997:
      return "9p";
    case 0x00C36400:
      return "ceph";
    case 0x5346414F:
      return "afs";
    case 0x73757245:
      return "coda";
    default:
      return nullptr;
  }
}

}  // namespace

QtSpoolWatch::QtSpoolWatch(QObject* parent) : QObject(parent) {}

QtSpoolWatch::~QtSpoolWatch() {
  Stop();
}

bool QtSpoolWatch::Start(const std::string& directory, std::string* reason) {
  Stop();
  const std::string dir = directory.empty() ? "." : directory;
  if (const char* remote = RemoteFileSystem(dir)) {
    *reason = std::string("director pe un sistem de fisiere ") + remote;
    return false;
  }
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) {
    *reason = std::string("inotify: ") + std::strerror(errno);
    return false;
  }
  constexpr std::uint32_t kMask = IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_MODIFY |
                                  IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE | IN_DELETE_SELF |
                                  IN_MOVE_SELF | IN_ONLYDIR;
  if (::inotify_add_watch(fd_, dir.c_str(), kMask) < 0) {
    *reason = std::string("inotify: ") + std::strerror(errno);
    Stop();
    return false;
  }
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &QtSpoolWatch::ReadEvents);
  return true;
}

void QtSpoolWatch::Stop() {
  notifier_.reset();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void QtSpoolWatch::ReadEvents() {
  alignas(inotify_event) char buffer[16 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) return Fail(std::string("inotify: ") + (n < 0 ? std::strerror(errno) : "EOF"));
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        if (onChange) onChange(SpoolChange::Unknown, std::string());
        continue;
      }
      if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED))
        return Fail("directorul a fost sters, mutat sau demontat");
      // The name is padded with zero bytes up to the event's length.
      const std::string name(event->len ? event->name : "");
      if (onChange)
        onChange((event->mask & IN_MOVED_TO) ? SpoolChange::Arrived : SpoolChange::Changed, name);
      if (fd_ < 0) return;  // a handler stopped the watch
    }
  }
}

void QtSpoolWatch::Fail(const std::string& reason) {
  Stop();
  if (onFailure) onFailure(reason);
}

}  // namespace ovix
