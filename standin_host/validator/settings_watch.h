// The person's own settings file, only watched by the validator's parent
// process: every check binds the plug-in's settings calls to private files
// (settings_redirect.h), so the real file never needs to be written. A change
// seen during a check is judged: the plug-in's, when it happened while the
// plug-in was loading or unloading (the check says so) or the file's section
// now holds what a plug-in copy wrote to its private file, and then the file
// is put back as it was before the check; otherwise another program's, which
// is the person's business and left alone.
//
// An interruption (Ctrl+C, Ctrl+Break, the console closed, the session
// ending) ends every check's process and removes the run's folder.
#pragma once

#include <string>

// Takes the snapshot, in memory, and sets up the interruption handlers.
void StartWatch();
// The Windows folder's settings file, for the report.
std::wstring WatchedFile();

struct WatchVerdict {
  bool pluginChanged;  // the check fails with `line`
  std::string line;    // "" when the file is as it was
};
// Before a check: a change since the last look is another program's.
WatchVerdict LookBeforeCheck();
// After a check that printed `output`.
WatchVerdict LookAfterCheck(const std::string& output);

// Called as each check's process ends. Once the run is interrupted it never
// returns: the interruption ended that process, so no verdict is taken from
// it, and the run ends as the interruption says.
void HoldIfInterrupted();
