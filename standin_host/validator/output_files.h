// The files a validator run leaves: its report (with --report-folder, named
// for the computer and the time, as the release's kit keeps them), the full
// log of every check, and the backup of the user's settings file beside it.
#pragma once

#include <windows.h>

#include <string>

#include "standin_host/options.h"

// Where a run's report, full log and settings backup go.
struct OutputFiles {
  std::wstring report;  // "" for none: the report is only printed
  std::wstring log;
  std::wstring backup;
};

// --report-folder: the report and log there, or under %TEMP% when that folder
// refuses writes (an unzipped copy under Program Files, say), which
// `fallbackNote` then tells; else the log where --log or %TEMP% says.
OutputFiles ChooseOutputFiles(const Options& options, std::string* fallbackNote);

// `path` made absolute against the current folder; as given when it cannot be.
std::wstring FullPath(const std::wstring& path);
// Replaces the file with `text`; false when it could not be written whole.
bool WriteText(const std::wstring& path, const std::string& text);
// Windows' own editors expect CRLF line ends.
std::string WithCrLf(const std::string& text);
