// Ctrl+C, Ctrl+Break, the console closed and the session ending: every
// check's process ends, each check in flight gets its last look at the
// person's settings files (settings_watch.h), what was seen is said, then
// the run's folder goes and the validator exits with status 2.
#pragma once

// The console's handler and a hidden window that hears of the session's end.
void HandleInterruptions();
