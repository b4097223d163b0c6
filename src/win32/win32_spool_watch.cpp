#include "win32/win32_spool_watch.h"
