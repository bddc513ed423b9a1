// Facts of the computer the stand-in host runs on that several of its files
// name things after: the temporary folder, the computer's name, the time now;
// and the desktop the process was started on.
#pragma once

#include <string>

// The user's temporary folder, ending in a backslash.
std::wstring TempFolder();

// The computer's name, or "computer" when the platform does not give it.
std::wstring ComputerName();

// The local time now as YYYYMMDD-HHMMSS, for names that sort by time.
std::wstring TimeForFileName();

// Moves the calling thread, before it makes any window, to the desktop the
// process was started on (the validator starts its checks on a desktop of
// their own). Windows starts every thread there; Wine 8 starts threads other
// than the first on the default desktop, where their dialogs would meet the
// person's windows.
void JoinStartupDesktop();
