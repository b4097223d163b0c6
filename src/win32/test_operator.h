// The scripted operator of the end-to-end tests (app/operator_script.h) on
// the Win32 windows. Built into the program only with OVIX_TEST_OPERATOR (off
// for the installer's program); otherwise StartTestOperator does nothing and
// TestOperatorRuns is false.
#pragma once

#include "win32/win32_host.h"

namespace ovix {

// In a test build: turns the directory watch off when the environment asks,
// and runs the script that OVIXNOVA_TEST_OPERATOR names every 50 ms on
// `host`'s real windows (only the clicks come from the file). `host` must
// outlive the message loop.
void StartTestOperator(Win32Host& host);

// How long `--stop` waits for the drivers to end: kStopWaitMs, or in a
// test build the milliseconds that OVIXNOVA_TEST_STOP_WAIT_MS gives.
unsigned StopWaitMs();

// True when a scripted operator drives the program (it answers no message
// box of a start-up failure).
bool TestOperatorRuns();

}  // namespace ovix
