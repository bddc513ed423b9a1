#include "standin_host/records/problem_list.h"

#include <stdarg.h>
#include <stdio.h>

#include "standin_host/system/console.h"

namespace {

void Keep(ProblemList* problemList, const char* mark, const char* format, va_list arguments) {
  char text[1024];
  vsnprintf(text, sizeof text, format, arguments);
  CallRecord* calls = problemList->calls;
  calls->lines.push_back(std::string(2 * calls->depth, ' ') + mark + text);
  if (calls->file == nullptr) return;
  fprintf(calls->file, "%s\n", calls->lines.back().c_str());
  fflush(calls->file);
}

}  // namespace

void ReportProblem(ProblemList* problemList, const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  ++problemList->problems;
  PrintError("PROBLEM: %s\n", text);
}

void ReportHostCausedFailure(ProblemList* problemList, const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  ++problemList->hostCausedFailures;
  Print("  %s\n", text);
}

void RecordCall(ProblemList* problemList, const char* format, ...) {
  if (problemList->calls == nullptr) return;
  va_list arguments;
  va_start(arguments, format);
  Keep(problemList, "", format, arguments);
  va_end(arguments);
}

void EnterCall(ProblemList* problemList, const char* format, ...) {
  if (problemList->calls == nullptr) return;
  va_list arguments;
  va_start(arguments, format);
  Keep(problemList, "> ", format, arguments);
  va_end(arguments);
  ++problemList->calls->depth;
}

void LeaveCall(ProblemList* problemList, const char* format, ...) {
  if (problemList->calls == nullptr) return;
  if (problemList->calls->depth > 0) --problemList->calls->depth;
  va_list arguments;
  va_start(arguments, format);
  Keep(problemList, "< ", format, arguments);
  va_end(arguments);
}

const char* MaskedAddress(const void* address) { return address == nullptr ? "null" : "address"; }
