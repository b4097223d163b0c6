// The event pump of the Qt front end: the waits' one pass of the event loop.
#include "qt/qt_event_pump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform_support.h"

namespace ovix {
namespace {

using namespace std::chrono_literals;
using test::EnsureApp;
using test::kSafety;

// Runs `call` on this thread while a watchdog, after the safety time-out, wakes
// the dispatcher so a call that would sleep too long still returns. True when
// the watchdog was not needed.
template <typename Call>
bool ReturnsOnItsOwn(Call call) {
  std::atomic<bool> done{false};
  std::atomic<bool> fired{false};
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  std::thread watchdog([&] {
    const auto deadline = std::chrono::steady_clock::now() + kSafety;
    while (!done && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    while (!done) {
      fired = true;
      dispatcher->wakeUp();
      std::this_thread::sleep_for(10ms);
    }
  });
  call();
  done = true;
  watchdog.join();
  return !fired;
}

TEST(QtEventPump, RunsPendingEventsAndReturns) {
  EnsureApp();
  QtEventPump pump;
  bool ran = false;
  QTimer::singleShot(0, [&] { ran = true; });
  EXPECT_TRUE(ReturnsOnItsOwn([&] {
    while (!ran) pump.RunPendingEvents(1h);
  }));
  EXPECT_TRUE(ran);
}

TEST(QtEventPump, ReturnsAfterMaxBlockWithNothingPending) {
  EnsureApp();
  QtEventPump pump;
  SteadyClock clock;
  EXPECT_TRUE(ReturnsOnItsOwn([&] {
    const auto start = clock.Now();
    while (clock.Now() - start <= 30ms) pump.RunPendingEvents(10ms);
  }));
  pump.RunPendingEvents(0ns);
  pump.RunPendingEvents(-1s);
}

TEST(QtEventPump, OuterCallReturnsOnceANestedCallIsDone) {
  EnsureApp();
  QtEventPump pump;
  bool innerDone = false;
  QTimer::singleShot(0, [&] {
    pump.RunPendingEvents(1ms);
    innerDone = true;
  });
  EXPECT_TRUE(ReturnsOnItsOwn([&] {
    while (!innerDone) pump.RunPendingEvents(1h);
  }));
}

}  // namespace
}  // namespace ovix
