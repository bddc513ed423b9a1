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
#include <vector>

// Takes the snapshot, in memory, and sets up the interruption handlers.
void StartWatch();
// The Windows folder's settings file, for the report.
std::wstring WatchedFile();

// What the watch says of one check's process.
struct WatchVerdict {
  enum Kind { kClean, kPluginChanged, kCannotJudge } kind;
  std::string line;                // why the check fails, or cannot be judged
  std::vector<std::string> notes;  // other programs' changes seen meanwhile
};
// Before a check's process starts; the ticket names the check to
// WatchCheckEnded.
int WatchCheckStarting();
// Once the check's process and every process it started are gone, with its
// output and whether it started others. Safe from several threads at once.
WatchVerdict WatchCheckEnded(int ticket, const std::string& output, bool otherProcesses);

// Called as each check's process ends. Once the run is interrupted it never
// returns: the interruption ended that process, so no verdict is taken from
// it, and the run ends as the interruption says.
void HoldIfInterrupted();
