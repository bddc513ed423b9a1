// The stand-in host's command line.
#pragma once

#include <stdint.h>

#include <string>

#include "standin_host/dialog_script.h"

struct Options {
  std::wstring pluginPath;
  DialogScript script;
  uint32_t failAllocation;  // the allocation request to refuse, 0 for none
  int openRuns;             // --bench-open: dialog openings to time, 0 for none
  int cycles;               // --cycles: whole roads to run, 0 for none
  // The validator (validator.h) and its checks (checks.h).
  bool validate;         // --validate: run every check, each in a child process
  std::wstring check;    // --check <name>: run one check in this process
  std::wstring only;     // --only <name,...>: the checks --validate runs
  std::wstring logPath;  // --log <file>: every check's full output
  int sessions;          // --sessions: random user sessions, 0 for none
  uint32_t seed;         // --seed <uint32>
  bool seedGiven;
};

extern const char kUsage[];

// False, with the reason in `error`, for a command line this host does not
// understand.
bool ParseOptions(int argc, wchar_t** argv, Options* options, std::string* error);
