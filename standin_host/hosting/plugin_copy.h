// The one way the host loads and unloads a copy of the plug-in file: every
// check, tool and held dialog goes through it. The copy's settings calls are
// bound before its entry runs (settings_redirect.h), and what its entry does
// while loading and unloading is judged from the copy's own private file.
#pragma once

#include <windows.h>

#include <string>

#include "standin_host/records/problem_list.h"

// Loads the file at `path` as copy `copy` (whose private settings file its
// calls reach). Null, with `failure` saying why, when it does not load or a
// slot could not be bound (the copy is freed again). A load that changed the
// copy's settings file is a problem in `problemList`; the copy stays loaded.
HMODULE LoadPluginCopy(const std::wstring& path, int copy, ProblemList* problemList,
                       std::string* failure);
// Unloads it; an unloading that changed the copy's settings file, or a
// settings name other than the Windows folder's VELCNFG.INI that the copy
// used while loaded, is a problem in `problemList`.
void FreePluginCopy(HMODULE module, int copy, ProblemList* problemList);
