#include "plugin/module/entry.h"

HINSTANCE ModuleHandle = nullptr;

// Every notification stores the handle again; nothing else happens at load
// or unload.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD, LPVOID) {
  ModuleHandle = module;
  return TRUE;
}
