#include "qt/qt_spool_watch.h"
