// The file system's own calls (NtCreateFile, NtOpenFile, NtSetInformationFile)
// bound in every bound module's import slots, the platform's kernel32 and
// kernelbase among them: whatever road a module took, an open of the person's
// own settings file for a change is seen here. It is sent to the copy's
// private file instead, so the person's file is never changed, and it is
// recorded: the process prints a kRealFileOpened line (settings_file.h), and
// the copy's unloading reports it as a problem (plugin_copy.h).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// What the binding lends the watch: the private settings file of the copy
// the calling thread works for, and the record of an open (the caller's
// address names the module that made it).
struct RealOpenSink {
  std::wstring (*privateFile)();
  void (*record)(void* caller, const char* function, const std::wstring& path,
                 const std::string& change);
};

// Before any thread starts: the person's files in every spelling the file
// system's calls may see (long and short names), and ntdll's functions.
void WatchRealFileOpens(const std::vector<std::wstring>& realFiles, const RealOpenSink& sink);
// The host's function for a slot that holds one of ntdll's three, else null.
FARPROC OwnFileSystemFunction(DWORD address);
