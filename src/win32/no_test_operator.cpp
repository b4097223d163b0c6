// The program as shipped: no scripted operator is built in.
#include "win32/test_operator.h"

#include "win32/command_line.h"

namespace ovix {

void StartTestOperator(Win32Host&) {}

unsigned StopWaitMs() {
  return kStopWaitMs;
}

bool TestOperatorRuns() {
  return false;
}

}  // namespace ovix
