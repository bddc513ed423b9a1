// Facts of the computer the stand-in host runs on that several of its files
// name things after: the temporary folder, the computer's name, the time now.
#pragma once

#include <string>

// The user's temporary folder, ending in a backslash.
std::wstring TempFolder();

// The computer's name, or "computer" when the platform does not give it.
std::wstring ComputerName();

// The local time now as YYYYMMDD-HHMMSS, for names that sort by time.
std::wstring TimeForFileName();
