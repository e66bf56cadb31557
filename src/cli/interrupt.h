#pragma once
// Ctrl+C, SIGTERM and SIGHUP during a device command are the user's abort: the first one is only
// recorded, and the running operation sees it at its next progress call and ends the way the
// Abort button ends it (closing commands sent, "Operation Cancelled by user"). A second one ends
// the process at once, with one line that says the box may be left in programming mode.

void InstallInterruptHandlers();
// The signal that asked to stop, or 0.
int InterruptSignal();
// The line a second signal prints before the process ends.
extern const char kSecondInterruptLine[];
