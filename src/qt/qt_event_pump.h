// The platform's event processing for the core: the Qt event dispatcher of
// the GUI thread.
#pragma once

#include <QObject>

#include <chrono>

#include "os/platform.h"

namespace ovix {

// Runs the Qt events of the calling thread. Needs a QCoreApplication (or
// QApplication) and must be used on the thread that owns it.
class QtEventPump : public EventPump {
 public:
  QtEventPump() = default;
  QtEventPump(const QtEventPump&) = delete;
  QtEventPump& operator=(const QtEventPump&) = delete;

  // Dispatches what is pending once. When nothing is pending, sleeps until an
  // event arrives or maxBlock (rounded up to whole milliseconds) has passed,
  // without using the CPU. maxBlock <= 0: never sleeps. May be called again
  // from an event it dispatches; the outer call then returns without sleeping
  // once the inner one is done.
  void RunPendingEvents(std::chrono::nanoseconds maxBlock) override;

 private:
  QObject timerHost_;  // owns the timers that bound each sleep
  int depth_ = 0;      // calls currently running, nested ones included
};

}  // namespace ovix
