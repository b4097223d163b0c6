// The watch of the spool directory on Linux: inotify, read from the event
// loop through a socket notifier, so that an idle driver sleeps until the
// directory changes. Lives on the GUI thread.
#pragma once

#include <sys/types.h>
#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <string>

#include "spool/spool_scheduler.h"

namespace ovix {

class QtSpoolWatch : public QObject {
  Q_OBJECT
 public:
  explicit QtSpoolWatch(QObject* parent = nullptr);
  ~QtSpoolWatch() override;

  // Starts watching `directory`, stopping a running watch first. Returns
  // false with the reason when inotify cannot be used (no more instances or
  // watches, no such directory) or could miss changes: only directories on
  // the local file systems this kernel itself writes are watched, since on
  // any other (network, FUSE, shared folders of a virtual machine, cluster
  // file systems) changes made elsewhere are never reported.
  bool Start(const std::string& directory, std::string* reason);
  // Stops watching; no handler is called afterwards.
  void Stop();
  // Whether the path given to Start still names the directory being watched
  // (the same device and inode, symbolic links followed). False when no
  // watch runs, the path names nothing or it names another directory.
  bool FollowsPath() const;

  // Each change, from the event processing: a name renamed into the
  // directory arrives whole; any other change of a name is a change; a lost
  // queue of events is reported as Unknown with an empty name.
  std::function<void(SpoolChange, const std::string& name)> onChange;
  // The watch ended (the directory was removed, moved or unmounted, or
  // reading the events failed); Stop() has been called.
  std::function<void(const std::string& reason)> onFailure;

 private:
  void ReadEvents();
  void Fail(const std::string& reason);

  int fd_ = -1;
  std::string path_;  // as given to Start
  dev_t device_ = 0;
  ino_t inode_ = 0;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace ovix
