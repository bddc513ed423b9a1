// The person's own settings files, only watched by the validator's parent
// process: every check binds the plug-in's settings calls to private files
// (settings_redirect.h), so the real files never need to be written. The
// files are looked at as each check starts and ends; a change is judged
// once every check that ran while it happened has ended:
// - the plug-in's, only where one of those checks recorded its process
//   opening that file for a change (a kRealFileOpened line in its output):
//   that check fails, and the file is put back (put_back.h);
// - nobody's provably, where a check whose process started others ran and
//   none recorded it: that check is not judged, and the file is left as it
//   is, for it may be the person's save;
// - otherwise another program's: said once, left alone, judging nothing.
#pragma once

#include <string>
#include <vector>

#include "standin_host/validator/output_files.h"

// Takes the snapshot, in memory and on disk in the run's folder; side files
// go beside the report and log (`files`). Returns the report's lines
// (without their ends) on the folders dead runs left.
std::vector<std::string> StartWatch(const OutputFiles& files);
// The Windows folder's settings file, for the report.
std::wstring WatchedFile();

// What the watch says of one check's process.
struct WatchVerdict {
  enum Kind { kClean, kPluginChanged, kCannotJudge } kind;
  std::string line;                // why the check fails, or cannot be judged
  std::vector<std::string> notes;  // other programs' changes this check's looks found
};
// Before a check's process starts; the ticket names the check to
// WatchCheckEnded. Once the run is interrupted it never returns.
int WatchCheckStarting();
// Once the check's process and every process it started are gone, with its
// output and whether it started others. Safe from several threads at once:
// it returns once every change this check ran beside is decided. Once the
// run is interrupted it hands the output to the interruption's last look
// and never returns.
WatchVerdict WatchCheckEnded(int ticket, const std::string& output, bool otherProcesses);

// For an interruption: ends every check's process, gives each check in
// flight its last look (its output, where it arrives within `waitMs`) and
// judges what changed. The lines to print, one per file.
std::string WatchLastLook(unsigned long waitMs);
// Whether the validator wrote a person's settings file in this run (only
// ever to put back a change of the plug-in's).
bool WatchWroteRealFile();
