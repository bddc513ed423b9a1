// One run of the host: load the plug-in, register its tools, run them, and
// check that everything the plug-in took was given back.
#pragma once

#include "standin_host/options.h"

enum ExitCode : int {
  kExitClean = 0,
  kExitProblems = 1,  // the plug-in misbehaved or left something unbalanced
  kExitUsage = 2,
  kExitNotPlugin = 3,  // the file is no loadable 32-bit plug-in with the five exports
};

int RunHost(const Options& options);
