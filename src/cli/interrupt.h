#pragma once
// Ctrl+C and SIGTERM during a device command are the user's abort: the first one is only
// recorded, and the running operation sees it at its next progress call and ends the way the
// Abort button ends it (closing commands sent, "Operation Cancelled by user"). A second one ends
// the process at once.

void InstallInterruptHandlers();
// The signal that asked to stop, or 0.
int InterruptSignal();
