#include "standin_host/system/progress.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

const char kProgressStepPrefix[] = "STEP: ";

namespace {

volatile LONG g_enabled = 0;

}  // namespace

void EnableProgressSteps(bool enabled) { InterlockedExchange(&g_enabled, enabled ? 1 : 0); }

void ProgressStep(const char* format, ...) {
  if (InterlockedCompareExchange(&g_enabled, 0, 0) == 0) return;
  char text[512];
  int used = snprintf(text, sizeof text, "%s", kProgressStepPrefix);
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(text + used, sizeof text - static_cast<size_t>(used) - 1, format, arguments);
  va_end(arguments);
  // One write per line, so that the lines of several threads never mix.
  size_t length = strlen(text);
  text[length++] = '\n';
  DWORD written = 0;
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output != nullptr && output != INVALID_HANDLE_VALUE) {
    WriteFile(output, text, static_cast<DWORD>(length), &written, nullptr);
  }
}
