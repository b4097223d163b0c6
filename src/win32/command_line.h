// What the Windows program does from the command line, before any window:
// its output reaches the console it was started from, and `--stop DIR`
// asks the drivers of a program directory to end in order.
#pragma once

#include <string>

namespace ovix {

// How long `--stop` waits for the drivers to end before it gives up.
constexpr unsigned kStopWaitMs = 30000;

// Standard output and error go to the console of the program that started
// this one (a program without a console of its own, such as this, has none),
// unless they are redirected already. Nothing happens when there is none.
void UseStartingConsole();

// Whether two spellings name the same directory: compared as full paths
// with long names (a short name such as PROGRA~1 counts as its long name),
// case-insensitively, without trailing separators.
bool SameDirectory(const std::wstring& a, const std::wstring& b);

// Asks each driver process whose executable lies in `programDir` (any
// spelling, as SameDirectory) and has this program's file name to end:
// a close request to its main window, which ends it in order with its stop
// line, or, while it has none (its start-up error box), to its visible
// top-level windows. Waits up to `waitMs` for all of them to end. When one
// still runs then, the stop is withdrawn: a driver whose exit has not begun
// ending it runs on as if never asked (the log says so); one past that point
// is given 10 s more to end. Returns 0 when no driver of that directory runs
// any more (or none ran), 1 when one still does.
int StopDriversOf(const std::string& programDir, unsigned waitMs = kStopWaitMs);

}  // namespace ovix
