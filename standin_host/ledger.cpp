#include "standin_host/ledger.h"

#include <stdarg.h>
#include <stdio.h>

#include "standin_host/console.h"

namespace {

void Keep(Ledger* ledger, const char* mark, const char* format, va_list arguments) {
  char text[1024];
  vsnprintf(text, sizeof text, format, arguments);
  CallRecord* calls = ledger->calls;
  calls->lines.push_back(std::string(2 * calls->depth, ' ') + mark + text);
  if (calls->file == nullptr) return;
  fprintf(calls->file, "%s\n", calls->lines.back().c_str());
  fflush(calls->file);
}

}  // namespace

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

void RecordCall(Ledger* ledger, const char* format, ...) {
  if (ledger->calls == nullptr) return;
  va_list arguments;
  va_start(arguments, format);
  Keep(ledger, "", format, arguments);
  va_end(arguments);
}

void EnterCall(Ledger* ledger, const char* format, ...) {
  if (ledger->calls == nullptr) return;
  va_list arguments;
  va_start(arguments, format);
  Keep(ledger, "> ", format, arguments);
  va_end(arguments);
  ++ledger->calls->depth;
}

void LeaveCall(Ledger* ledger, const char* format, ...) {
  if (ledger->calls == nullptr) return;
  if (ledger->calls->depth > 0) --ledger->calls->depth;
  va_list arguments;
  va_start(arguments, format);
  Keep(ledger, "< ", format, arguments);
  va_end(arguments);
}

const char* MaskedAddress(const void* address) { return address == nullptr ? "null" : "address"; }
