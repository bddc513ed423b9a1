// A loaded module's import slots rewritten in place: those of its import
// directory and of its delay-load import directory, each slot's page made
// writable only for the write.
#pragma once

#include <windows.h>

// What goes in a slot instead, null to keep it. `name`: the function's name
// where the table still says it (a delay-loaded slot not yet called), else
// null; `current`: what the slot holds.
typedef FARPROC (*SlotReplacement)(const char* name, DWORD current);

void RewriteImportSlots(HMODULE module, SlotReplacement replacement);
