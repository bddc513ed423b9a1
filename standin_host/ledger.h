// What the host finds wrong in the plug-in's behaviour. Each problem is
// printed as it is found; any problem makes the run unclean.
#pragma once

struct Ledger {
  int problems;
};

void ReportProblem(Ledger* ledger, const char* format, ...)
    __attribute__((format(gnu_printf, 2, 3)));
