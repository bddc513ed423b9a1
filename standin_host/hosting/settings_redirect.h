// The plug-in's settings calls bound to the host's own functions, so that a
// run that judges the plug-in never writes the person's VELCNFG.INI.
//
// A loader notification binds every module as the loader maps it, before its
// entry runs: the profile functions (A and W) and the file functions that
// take a path go to the host, and so does GetProcAddress, which hands out the
// host's function for whatever address the platform's lookup finds (by name,
// by ordinal, or through a module that forwards to it). A copy of the plug-in
// (plugin_copy.h) sends every profile file name to that copy's private file
// in the run's folder, and a file function's path there when it names a
// VELCNFG.INI. Every other module (one loaded with it, a C runtime), already
// loaded or loaded later, is bound too, for names of a VELCNFG.INI only, and
// its calls count as those of the copy last loaded on the calling thread. The
// platform's own modules (ntdll, kernel32, kernelbase) and the host's program
// are left alone (in a check's process, kernel32's and kernelbase's file
// system calls are watched: real_file_opens.h). Each call is recorded with the name as the module
// gave it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// From now on, modules in this process keep their settings in `folder` (no
// trailing backslash). Called once, before any thread starts. False, with
// `error` set, when the folder's path cannot be given to an ANSI function
// (not even as its short name) or the loader offers no notification.
// `realFiles`: the person's own settings files, whose opens for a change the
// process watches at the file system's calls (real_file_opens.h), each
// printed as a line that begins with `openedLine`; none in a process that
// loads no plug-in.
bool RedirectSettingsInto(const std::wstring& folder, const std::vector<std::wstring>& realFiles,
                          const char* openedLine, std::string* error);

// The private settings file of copy `copy` in this process; "" when this
// process does not redirect.
std::wstring BoundSettingsFile(int copy);

// The module the loader maps on this thread under `fileName` (kept by the
// caller until EndBoundLoad) is copy `copy`; what comes with it is bound as
// any other module. The thread's later calls count for that copy.
void BeginBoundLoad(int copy, const std::wstring* fileName);
// The first import slot of `module` (or of what came with it) that could
// not be bound, "" when all were; the module is bound now if the loader
// brought nothing new (it was loaded already).
std::string EndBoundLoad(HMODULE module);

// How many calls copy `copy` has made so far, and how many of them were
// writes (a profile write, a file's attributes set, a file deleted, moved,
// copied or created); both 0 when this process does not redirect.
struct SettingsCallCount {
  size_t calls;
  size_t writes;
};
SettingsCallCount CountSettingsCalls(int copy);
// The calls since the count `mark`, as `WritePrivateProfileStringA("VELCNFG.INI"),
// ...` ("" when none).
std::string SettingsCallsSince(int copy, size_t mark);

// After the copy has left (its unloading may still write), what it did that
// the host judges; its record is forgotten.
struct SettingsVerdict {
  // The first settings name it used that is not the Windows folder's
  // VELCNFG.INI, as "FunctionA(\"name\")", or "".
  std::string wrongName;
  // The first open of a person's settings file for a change, as "<path> for
  // <what> by <road>", or "".
  std::string realOpen;
};
SettingsVerdict UnbindSettingsCalls(int copy);
