// The plug-in's settings calls bound to the host's own functions, so that a
// run that judges the plug-in never writes the person's VELCNFG.INI.
//
// After LoadLibrary the module's import and delay-load import tables are
// rewritten: the profile functions (A and W) and the file functions that
// take a path go to the host, and so does GetProcAddress, which hands out
// the host's functions for those names. Every name a profile function is
// given goes to a private file in the run's folder; a file function's path
// goes there only when it names a VELCNFG.INI. Each call is recorded with the
// name exactly as the plug-in gave it, to be judged when the copy unloads.
//
// What the module's entry does while loading runs before the binding; the
// validator watches the real file for that (validator/settings_watch.h).
#pragma once

#include <windows.h>

#include <string>

// From now on, plug-ins bound in this process keep their settings in
// `folder` (no trailing backslash). Called once, before any thread starts.
void RedirectSettingsInto(const std::wstring& folder);

// The private settings file of copy `copy` in this process; "" when this
// process does not redirect.
std::wstring BoundSettingsFile(int copy);

// Rewrites `module`'s tables so that its settings go to copy `copy`'s
// private file. Nothing when this process does not redirect.
void BindSettingsCalls(HMODULE module, int copy);

// After the module has left (its unloading may still write): the first
// settings name it used that is not the Windows folder's VELCNFG.INI, as
// "FunctionA(\"name\")", or ""; the record is forgotten.
std::string UnbindSettingsCalls(HMODULE module);
