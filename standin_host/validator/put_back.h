// Writing the person's settings file, when the validator must: a change the
// plug-in made is put back only if the file still holds exactly that change,
// the bytes it replaces are kept first in a side file beside the report, and
// the file is swapped into place whole, so a kill at any moment leaves the
// old bytes or the new ones, never an empty or mixed file.
#pragma once

#include <windows.h>

#include <string>

#include "standin_host/hosting/settings_file.h"

// One look at a file. A file held open without sharing cannot be read, but
// its attributes and time still show.
struct Look {
  std::wstring path;
  DWORD attributes;  // INVALID_FILE_ATTRIBUTES: no such file
  FILETIME written;
  FileState content;  // exists false when it could not be read
};
Look LookAt(const std::wstring& path);
// The same bytes (where both could be read), time and attributes.
bool SameLook(const Look& a, const Look& b);
// How `now` differs from `before`, for a report.
std::string LookChange(const Look& before, const Look& now);

// Keeps `bytes` in a new file in `folder`, its name made from `name`; the
// file's path, or "" with the Windows error in `error`.
std::wstring KeepSideFile(const std::wstring& folder, const std::wstring& name,
                          const std::string& bytes, DWORD* error);

// Writes `path` whole: a temporary file beside it, written through, given
// `written` (null: now) and `attributes`, then moved over it. Where
// `expected` is given, the move happens only while the file still looks as
// it did (a missing file as missing). 0 once moved; else nothing was moved,
// and the Windows error, or kChangedMeanwhile.
constexpr DWORD kChangedMeanwhile = 0xFFFFFFFFu;
DWORD WriteWholeFile(const std::wstring& path, const std::string& bytes, const FILETIME* written,
                     DWORD attributes, const Look* expected);

// Removes the temporary files that process `process` left beside `path`
// (killed between writing one and moving it over the file); how many.
int RemoveTemporariesOf(const std::wstring& path, unsigned long process);

struct PutBack {
  bool done;          // the file is as it was before
  std::wstring side;  // where the bytes it held are kept; "" for none
  std::string text;   // "; it was put back ...", for the report
};
// Puts the file back as `before` only while it still looks as `changed`,
// keeping what it holds in a side file in `sideFolder` first.
PutBack PutBackChange(const Look& before, const Look& changed, const std::wstring& sideFolder);
