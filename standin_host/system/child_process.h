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
  // The check's process started others (the plug-in did: a check starts
  // none), and some were still running when their job was ended.
  bool otherProcesses;
  bool leftRunning;
  // Standard output and error together, in the order written, without the
  // "STEP: " lines; of a child that wrote without end, the start and the end.
  std::string output;
  std::string lastStep;  // the text of the last "STEP: " line, "" when none
  std::string refused;   // why no child may run here; "" when they may
};

// Runs `commandLine` with no console of its own, on the desktop named
// `desktop` ("" for this process's own); safe from several threads at once.
// Each new "STEP: " line is progress; the child is stopped once it has taken
// no step for `noProgressLimitMs`. Processes the child starts die with it,
// and it returns only once they are gone; all of them die with this process.
// A child that cannot be made to is not run, nor is any after it (`refused`
// says why).
ChildRun RunChild(const std::wstring& commandLine, DWORD noProgressLimitMs,
                  const std::wstring& desktop = std::wstring());
// Why no child may run any more; "" while they may. Once set it never
// changes, so the reference stays good on any thread.
const std::string& ChildrenRefused();
// Ends every child process and those they started; safe from any thread.
// True when none is left running.
bool EndChildProcesses();
// Ends them again until none is left or `waitMs` has passed; true when none is.
bool EndChildProcessesWithin(unsigned long waitMs);

// The full path of this program.
std::wstring OwnProgramPath();
// A command-line argument quoted for CommandLineToArgvW.
std::wstring Quoted(const std::wstring& argument);
