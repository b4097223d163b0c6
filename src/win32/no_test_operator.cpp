// The program as shipped: no scripted operator is built in.
#include "win32/test_operator.h"

namespace ovix {

void StartTestOperator(Win32Host&) {}

bool TestOperatorRuns() {
  return false;
}

}  // namespace ovix
