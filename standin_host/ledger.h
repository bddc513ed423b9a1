// What the host finds wrong in the plug-in's behaviour. Each problem is
// printed as it is found; any problem makes the run unclean.
#pragma once

struct Ledger {
  int problems;
  // Calls that failed cleanly because the host made them fail: an allocation
  // refused on purpose, or settings the platform would not let the plug-in
  // save. Expected outcomes, not misbehaviour.
  int hostCausedFailures;
};

void ReportProblem(Ledger* ledger, const char* format, ...)
    __attribute__((format(gnu_printf, 2, 3)));
// Prints the outcome and counts it as a failure the host caused.
void ReportHostCausedFailure(Ledger* ledger, const char* format, ...)
    __attribute__((format(gnu_printf, 2, 3)));
