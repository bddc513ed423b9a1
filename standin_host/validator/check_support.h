// What the checks share: a session on the plug-in that is judged when it
// ends, and the settings file as the checks plant and read it.
#pragma once

#include <windows.h>

#include <string>

#include "standin_host/hosting/session.h"
#include "standin_host/hosting/settings_file.h"
#include "standin_host/records/options.h"
#include "standin_host/records/problem_list.h"

// Loads the plug-in named by `options` into `session`, its dialogs acted on
// as `script` says (kept by the caller while the session lives). False, with
// a problem in `problemList`, when it cannot be loaded.
bool BeginSession(const Options& options, const DialogScript* script, Session* session,
                  ProblemList* problemList);
// Asks DllCanUnloadNow, judges the balance, unloads the plug-in and checks
// that it really left the process. Returns the session's exit code
// (session.h); its problems are counted in `problemList` too.
int EndSession(Session* session, ProblemList* problemList);
// The road's tools run once more with another script.
void RunToolsWith(Session* session, const DialogScript* script);

// Where copy `number` of the plug-in goes: the run's folder, under a name of
// this process's own with the plug-in's extension.
std::wstring PluginCopyPath(const std::wstring& original, int number);

// A line the validator adds to the check's verdict.
void Note(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
