// What the tests of the Qt adapters share: the one application object of the
// test program, and the time-out that only a broken build reaches.
#pragma once

#include <QCoreApplication>
#include <chrono>

namespace ovix::test {

// Safety net only: no step of these tests comes close to it on a working build.
inline constexpr std::chrono::seconds kSafety{20};

// Makes the application object the Qt adapters need, once; it lives until exit.
inline void EnsureApp() {
  static int argc = 1;
  static char name[] = "ovix_platform_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* app = new QCoreApplication(argc, argv);
  (void)app;
}

}  // namespace ovix::test
