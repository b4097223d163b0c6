#include "qt/qt_spool_watch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ovix {

namespace {

// Local file systems, by their statfs type: inotify sees every change made to
// them, since every change goes through this kernel. On any other type
// (network, FUSE, a virtual machine's shared folder, a cluster file system)
// changes made elsewhere are never reported, so it is not watched.
struct FileSystemType {
  unsigned long magic;
  const char* name;
};
constexpr FileSystemType kLocalFileSystems[] = {
    {0xEF53, "ext4"},  // ext2, ext3 and ext4 alike
    {0x58465342, "xfs"},      {0x9123683E, "btrfs"}, {0x01021994, "tmpfs"},
    {0x858458F6, "ramfs"},    {0xF2F52010, "f2fs"},  {0x3153464A, "jfs"},
    {0x52654973, "reiserfs"}, {0x3434, "nilfs2"},    {0xCA451A4E, "bcachefs"},
    {0x794C7630, "overlay"},  {0x2FC12FC1, "zfs"},   {0x4D44, "vfat"},  // msdos too
    {0x2011BAB0, "exfat"},    {0x5346544E, "ntfs"},  {0x7366746E, "ntfs3"},
    {0x482B, "hfsplus"},      {0x15013346, "udf"},
};
// Names of the refused types an operator is likely to meet.
constexpr FileSystemType kOtherFileSystems[] = {
    {0x6969, "nfs"},       {0x517B, "smb"},        {0xFF534D42, "cifs"},   {0xFE534D42, "smb2"},
    {0x65735546, "fuse"},  {0x01021997, "9p"},     {0x00C36400, "ceph"},   {0x5346414F, "afs"},
    {0x73757245, "coda"},  {0x786F4256, "vboxsf"}, {0x7C7C6673, "prl_fs"}, {0x01161970, "gfs2"},
    {0x7461636F, "ocfs2"}, {0x0BD00BD0, "lustre"}, {0x47504653, "gpfs"},   {0x73717368, "squashfs"},
    {0x9660, "iso9660"},
};

bool IsLocal(unsigned long magic) {
  for (const FileSystemType& type : kLocalFileSystems)
    if (type.magic == magic) return true;
  return false;
}

std::string FileSystemName(unsigned long magic) {
  for (const FileSystemType& type : kOtherFileSystems)
    if (type.magic == magic) return type.name;
  char hex[24];
  std::snprintf(hex, sizeof hex, "0x%lx", magic);
  return hex;
}

}  // namespace

QtSpoolWatch::QtSpoolWatch(QObject* parent) : QObject(parent) {}

QtSpoolWatch::~QtSpoolWatch() {
  Stop();
}

bool QtSpoolWatch::Start(const std::string& directory, std::string* reason) {
  Stop();
  const std::string dir = directory.empty() ? "." : directory;
  // The identity is taken before the watch is added: a directory replaced in
  // between then shows as not followed, and is watched anew.
  struct stat identity {};
  struct statfs fs {};
  if (::stat(dir.c_str(), &identity) != 0 || ::statfs(dir.c_str(), &fs) != 0) {
    *reason = std::strerror(errno);
    return false;
  }
  const auto type = static_cast<unsigned long>(fs.f_type);
  if (!IsLocal(type)) {
    *reason = "director pe un sistem de fisiere " + FileSystemName(type);
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
  path_ = dir;
  device_ = identity.st_dev;
  inode_ = identity.st_ino;
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &QtSpoolWatch::ReadEvents);
  return true;
}

bool QtSpoolWatch::FollowsPath() const {
  struct stat now {};
  return fd_ >= 0 && ::stat(path_.c_str(), &now) == 0 && now.st_dev == device_ &&
         now.st_ino == inode_;
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
