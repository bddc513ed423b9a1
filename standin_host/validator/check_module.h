// Checks of the file as a module: what it is, and how it loads and unloads.
#pragma once

#include "standin_host/records/options.h"

// A PE32 i386 DLL that loads, with the five exports by name and by
// ordinal 1 to 5, whose class-info table and class forms are the contract's,
// each class with hooks of its own.
bool CheckFile(const Options& options);
// Loaded, run along the whole road and unloaded 20 times in one process:
// balanced each time, DllCanUnloadNow 0 after each road, gone after each
// unload.
bool CheckRepeatedLoad(const Options& options);
// A copy under another file name loads beside the first, and both run and
// unload cleanly, as when a user keeps two plug-in folders.
bool CheckSecondCopy(const Options& options);
