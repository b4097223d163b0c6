// The watch of the spool directory on Linux: inotify, read from the event
// loop through a socket notifier, so that an idle driver sleeps until the
// directory changes. Lives on the GUI thread.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <string>

#include "spool/receipt_spool.h"

namespace ovix {

class QtSpoolWatch : public QObject {
  Q_OBJECT
 public:
  explicit QtSpoolWatch(QObject* parent = nullptr);
  ~QtSpoolWatch() override;

  // Starts watching `directory`. Returns false with the reason when inotify
  // cannot be used (no more instances or watches, no such directory) or would
  // miss changes (a directory on a network or FUSE file system, whose changes
  // made by other computers inotify never sees).
  bool Start(const std::string& directory, std::string* reason);
  // Stops watching; no handler is called afterwards.
  void Stop();

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
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace ovix
