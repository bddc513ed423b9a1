// What the stand-in host was asked to do: the command line as a plain
// record, which every folder may read. command_line.h fills it.
#pragma once

#include <stdint.h>

#include <string>

#include "standin_host/records/dialog_script.h"

struct Options {
  std::wstring pluginPath;
  std::wstring defaultPluginPath;  // --default-plugin: judged when no file is given
  // The fixed road's call record (call_record.h): --ledger <file> writes the
  // plug-in's; --compare-ledgers compares it with this second file's.
  std::wstring callRecordPath;
  bool compareCallRecords;
  std::wstring otherPluginPath;
  DialogScript script;
  uint32_t failAllocation;  // the allocation request to refuse, 0 for none
  int openRuns;             // --bench-open: dialog openings to time, 0 for none
  int cycles;               // --cycles: whole roads to run, 0 for none
  // Seeded random user sessions (random_sessions.h).
  int randomSessions;  // --random-sessions: how many, 0 for none
  int firstSession;    // --first-session: the number of the first, from 1
  // The validator (validator.h) and its checks (checks.h).
  bool validate;         // --validate: run every check, each in a child process
  std::wstring check;    // --check <name>: run one check in this process
  std::wstring only;     // --only <name,...>: the checks --validate runs
  std::wstring logPath;  // --log <file>: every check's full output
  // --report-folder <folder>: the report and log in files named for the
  // computer and the time, as the release's validator kit keeps them.
  std::wstring reportFolder;
  // --time-limit: how long a check may go without progress, 0 for the default.
  int timeLimitSeconds;
  bool progress;  // --progress: STEP lines for the validator (progress.h)
  // --show-dialogs: the checks' dialogs on the person's desktop, where they
  // can be watched, instead of on a desktop of the run's own.
  bool showDialogs;
  // --jobs: checks run side by side, each in its own child process; one a
  // core when not given, one with --show-dialogs.
  int jobs;
  int sessions;  // --sessions: random user sessions --validate runs, 0 for none
  // Of the random parts, validator and random sessions alike; a fresh one
  // when not given.
  uint32_t seed;
  bool seedGiven;
  // --heap plain: the plug-in's blocks come from the process heap instead of
  // the page heap (services/page_heap.h), for comparison and the benchmarks.
  bool plainHeap;
  bool heapGiven;
};
