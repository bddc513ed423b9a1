// Report output in UTF-8 whatever the console's code page, so Japanese names
// read correctly in a Linux terminal, a Windows console and captured output.
#pragma once

#include <string>

std::string Utf8FromWide(const wchar_t* text);
// Text in the system's ANSI code page, as LoadStringA delivers it.
std::string Utf8FromAnsi(const char* text);
std::wstring WideFromUtf8(const char* text);

// printf-style; to standard output and standard error.
void Print(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
// Repeated runs (benchmarks) silence the step-by-step report; problems on
// standard error still show.
void SetReportQuiet(bool quiet);
void PrintError(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
