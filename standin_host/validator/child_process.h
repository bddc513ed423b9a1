// Running a program as a child with its output captured, so that whatever
// the child does (crash, hang, exit) is reported and the parent carries on.
// A child is stopped only when it makes no progress: a slow machine makes a
// slower run, never a stopped one.
#pragma once

#include <windows.h>

#include <string>

struct ChildRun {
  bool started;
  bool timedOut;  // stopped after making no progress for the limit
  DWORD exitCode;
  std::string output;    // standard output and error together, in the order written
  std::string lastStep;  // the text of the last "STEP: " line, "" when none
};

// Runs `commandLine` with no console of its own. Anything the child writes
// is progress; it is stopped once it has written nothing for
// `noProgressLimitMs`. Processes the child starts die with it, and all of
// them with this process.
ChildRun RunChild(const std::wstring& commandLine, DWORD noProgressLimitMs);
// Ends every child process and those they started; safe from any thread.
void EndChildProcesses();

// `output` without its "STEP: " lines, for the log.
std::string WithoutSteps(const std::string& output);

// The full path of this program.
std::wstring OwnProgramPath();
// A command-line argument quoted for CommandLineToArgvW.
std::wstring Quoted(const std::wstring& argument);
