// Running a program as a child with its output captured and a time limit, so
// that whatever the child does (crash, hang, exit) is reported and the
// parent carries on.
#pragma once

#include <windows.h>

#include <string>

struct ChildRun {
  bool started;
  bool timedOut;  // stopped at the time limit
  DWORD exitCode;
  std::string output;  // standard output and error together, in the order written
};

// Runs `commandLine` with no console of its own and waits at most
// `timeLimitMs`. Processes the child starts die with it, and all of them
// with this process.
ChildRun RunChild(const std::wstring& commandLine, DWORD timeLimitMs);
// Ends every child process and those they started; safe from any thread.
void EndChildProcesses();

// The full path of this program.
std::wstring OwnProgramPath();
// A command-line argument quoted for CommandLineToArgvW.
std::wstring Quoted(const std::wstring& argument);
