#include "qt/qt_event_pump.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>

#include <algorithm>
#include <limits>

namespace ovix {

void QtEventPump::RunPendingEvents(std::chrono::nanoseconds maxBlock) {
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  if (dispatcher == nullptr) return;

  using std::chrono::milliseconds;
  constexpr milliseconds kMaxInterval{std::numeric_limits<int>::max()};
  const milliseconds block =
      maxBlock <= std::chrono::nanoseconds::zero()
          ? milliseconds::zero()
          : std::min(std::chrono::ceil<milliseconds>(maxBlock), kMaxInterval);

  ++depth_;
  if (block == milliseconds::zero()) {
    dispatcher->processEvents(QEventLoop::AllEvents);
  } else {
    // A timer of its own per call: a nested call can neither stop nor restart
    // the one that bounds this sleep. Its expiry is an event, so it ends the
    // dispatcher's sleep.
    const int timerId = timerHost_.startTimer(static_cast<int>(block.count()), Qt::PreciseTimer);
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (timerId != 0) timerHost_.killTimer(timerId);
  }
  --depth_;

  // When this call ran inside an event of an outer call, the outer dispatcher
  // may still go on to sleep after that event (the plain Unix dispatcher does so
  // after posted events), although its caller may be waiting for a state this
  // call's events changed. Waking it hands control back to that caller.
  if (depth_ > 0) dispatcher->wakeUp();
}

}  // namespace ovix
