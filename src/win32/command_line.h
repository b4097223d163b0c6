// What the Windows program does from the command line, before any window:
// its output reaches the console it was started from, and `--stop DIR`
// asks the driver of another program directory to end in order.
#pragma once

#include <string>

namespace ovix {

// Standard output and error go to the console of the program that started
// this one (a program without a console of its own, such as this, has none),
// unless they are redirected already. Nothing happens when there is none.
void UseStartingConsole();

// Sends a close request to each driver running from program directory
// `programDir` (the directory of its ovixnova.exe; case and a trailing
// backslash do not matter), which ends it in order with its stop line, and
// waits up to 30 s for all of them to end. Returns 0 when none runs any
// more (or none ran), 1 when one is still running.
int StopDriversOf(const std::string& programDir);

}  // namespace ovix
