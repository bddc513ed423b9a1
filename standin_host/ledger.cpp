#include "standin_host/ledger.h"

#include <stdarg.h>
#include <stdio.h>

#include "standin_host/console.h"

void ReportProblem(Ledger* ledger, const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  ++ledger->problems;
  PrintError("PROBLEM: %s\n", text);
}

void ReportHostCausedFailure(Ledger* ledger, const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  ++ledger->hostCausedFailures;
  Print("  %s\n", text);
}
