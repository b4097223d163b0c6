// The program as shipped: no scripted operator is built in.
#include "qt/test_operator.h"

namespace ovix {

void StartTestOperator(QtDriverHost&) {}

}  // namespace ovix
