// The scripted operator of the end-to-end tests. Built into the program only
// when the build asks for it (OVIX_TEST_OPERATOR, on for development builds,
// off for the package); otherwise StartTestOperator does nothing.
#pragma once

#include "qt/qt_driver_host.h"

namespace ovix {

// In a test build, when the environment names a file in
// OVIXNOVA_TEST_OPERATOR, its lines are read as the operator's actions, one at
// a time and in order, each carried out on `host` as soon as it applies: "ok"
// and "cancel" answer the no-answer box, "yes" and "no" the payment question
// (by clicking "Da" or "Nu"), "retry", "cancel-receipt", "give-up"
// and "close" the printer-error dialog (by clicking its button or closing
// it), "clear" clicks the clearing menu entry, "about" the About entry,
// "close-about" closes the About box as a click in it does, "exit" confirms
// the exit. The real widgets are shown and used; only the clicks come from
// the file. The script lives as long as `host`. When OVIXNOVA_TEST_NO_WATCH
// is set (not empty), the spool directory is not watched, as on a system
// without change notification.
void StartTestOperator(QtDriverHost& host);

}  // namespace ovix
