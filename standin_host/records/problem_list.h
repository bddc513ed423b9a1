// What the host finds wrong in the plug-in's behaviour. Each problem is
// printed as it is found; any problem makes the run unclean. When asked, the
// ledger also keeps every call between host and plug-in, one line each, in
// the order made, with addresses named rather than written, so that two
// builds of the plug-in give the same lines when they behave the same.
#pragma once

#include <stdio.h>

#include <string>
#include <vector>

// Calls nest: "> X" opens a call into the plug-in, "< X = ..." closes it,
// and what the plug-in asks of the host meanwhile is indented under it.
struct CallRecord {
  std::vector<std::string> lines;
  int depth;
  // Each line is written here too as it is kept, when set, so a crash in
  // the plug-in leaves every call up to the one that crashed.
  FILE* file;
};

struct ProblemList {
  int problems;
  // Calls that failed cleanly because the host made them fail: an allocation
  // refused on purpose, or settings the platform would not let the plug-in
  // save. Expected outcomes, not misbehaviour.
  int hostCausedFailures;
  CallRecord* calls = nullptr;  // null when no one asked for the calls
};

void ReportProblem(ProblemList* problemList, const char* format, ...)
    __attribute__((format(gnu_printf, 2, 3)));
// Prints the outcome and counts it as a failure the host caused.
void ReportHostCausedFailure(ProblemList* problemList, const char* format, ...)
    __attribute__((format(gnu_printf, 2, 3)));

// One call at the current depth; nothing when the calls are not kept.
void RecordCall(ProblemList* problemList, const char* format, ...)
    __attribute__((format(gnu_printf, 2, 3)));
// A call into the plug-in begins ("> ..."); the calls it makes go deeper.
void EnterCall(ProblemList* problemList, const char* format, ...)
    __attribute__((format(gnu_printf, 2, 3)));
// ...and returns ("< ...").
void LeaveCall(ProblemList* problemList, const char* format, ...)
    __attribute__((format(gnu_printf, 2, 3)));

// An address as the call record shows it: "null" or "address", never the
// number, which differs between builds and runs.
const char* MaskedAddress(const void* address);
