// The files a validator run leaves: its report (with --report-folder, named
// for the computer and the time, as the release's kit keeps them) and the
// full log of every check.
#pragma once

#include <windows.h>

#include <string>

#include "standin_host/records/options.h"

// Where a run's report and full log go.
struct OutputFiles {
  std::wstring report;  // "" for none: the report is only printed
  std::wstring log;
};

// --report-folder: the report and log there, or under %TEMP% when that folder
// refuses writes (an unzipped copy under Program Files, say), which
// `fallbackNote` then tells; else the log where --log or %TEMP% says.
OutputFiles ChooseOutputFiles(const Options& options, std::string* fallbackNote);

// `path` made absolute against the current folder; as given when it cannot be.
std::wstring FullPath(const std::wstring& path);
// A file being written, and where the platform really put it: a write
// redirected to the VirtualStore shows there, not where it was asked for.
struct OutputFile {
  HANDLE handle;  // INVALID_HANDLE_VALUE when it could not be made
  std::wstring where;
  DWORD error;
};
OutputFile OpenOutputFile(const std::wstring& path);
// Writes `text`, flushed, and closes the file; false, with the Windows error
// in `file->error`, when it was not written whole.
bool FinishOutputFile(OutputFile* file, const std::string& text);
// Notepad on older Windows reads UTF-8 as the ANSI code page without it.
extern const char kUtf8ByteOrderMark[];
// Windows' own editors expect CRLF line ends.
std::string WithCrLf(const std::string& text);
