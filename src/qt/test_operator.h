// The scripted operator of the end-to-end tests (app/operator_script.h) on
// the Qt widgets. Built into the program only when the build asks for it
// (OVIX_TEST_OPERATOR, on with the tests, off for the package); otherwise
// StartTestOperator does nothing.
#pragma once

#include "qt/qt_driver_host.h"

namespace ovix {

// In a test build: turns the directory watch off when the environment asks,
// and runs the script that OVIXNOVA_TEST_OPERATOR names every 50 ms on
// `host`'s real widgets (only the clicks come from the file). The script
// lives as long as `host`.
void StartTestOperator(QtDriverHost& host);

}  // namespace ovix
