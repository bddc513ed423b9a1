// A loaded module's import slots rewritten in place: those of its import
// directory and of its delay-load import directory, each slot's page made
// writable only for the write.
#pragma once

#include <windows.h>

#include <string>

// What goes in a slot instead, null to keep it. `name`: the function's name
// where the slot does not yet hold an address (a delay-loaded slot not yet
// called, or one the loader has not filled), else null; `current`: what the
// slot holds.
typedef FARPROC (*SlotReplacement)(const char* name, DWORD current);

struct SlotRewrite {
  int rewritten;
  int unfilled;         // slots the loader had not filled yet
  std::string failure;  // the first slot that could not be written, "" when none
};

// Never loads anything and takes no lock: safe inside the loader.
SlotRewrite RewriteImportSlots(HMODULE module, SlotReplacement replacement);
