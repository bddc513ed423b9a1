// Deciding whether a file is a plug-in this host can load, and binding the
// five exports the way the authoring host finds them: by name.
#pragma once

#include <windows.h>

#include <string>

#include "host/plugin_interfaces.h"

// True for a PE32 i386 DLL; otherwise `reason` says what the file is instead.
bool CheckPluginFile(const wchar_t* path, std::string* reason);

struct PluginExports {
  DllCanUnloadNowFn canUnloadNow;
  DllGetClassFormFn getClassForm;
  DllGetClassInfoFn getClassInfo;
  DllGetClassObjectFn getClassObject;
  DllGetInterfaceFn getInterface;
};

// Fills `exports` by name and checks that each name's ordinal (1 to 5, in
// alphabetical order) leads to the same function. Prints the export list.
bool BindExports(HMODULE module, PluginExports* exports, std::string* reason);
