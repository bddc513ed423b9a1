// The validator's named checks. Each runs in a process of its own
// (--check <name>), judges the plug-in from the outside only, and ends by
// unloading it and checking that everything it took was given back.
#pragma once

#include <stddef.h>

#include "standin_host/records/options.h"

struct CheckInfo {
  const char* name;
  // True when the plug-in passed; every problem is printed as a PROBLEM line.
  bool (*run)(const Options& options);
  // Why the check must run with no other check beside it; null when other
  // checks may run at the same time, each on a desktop of its own.
  const char* alone;
};

const CheckInfo* AllChecks(size_t* count);

// Runs the check --check names on the plug-in: exit 0 passed, 1 failed,
// 2 no such check.
int RunCheck(const Options& options);
