// The settings file VELCNFG.INI as the host sees it from outside: where it
// lives, its bytes and last-write time, planting and removing it, and reading
// a key the way a person reads the file.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "standin_host/records/problem_list.h"

// The five keys the plug-in keeps, in the order it writes them, and the
// four the dialog shows (by DialogField).
extern const char* const kSettingKeys[5];

// VELCNFG.INI in the Windows folder, where the plug-in's bare file name leads.
std::wstring WindowsSettingsFilePath();
// That file and this user's VirtualStore copy of it: the person's own
// settings, wherever the platform keeps them.
std::vector<std::wstring> RealSettingsFiles();
// The file the plug-in's settings go to in this process: the private file
// its calls are bound to (settings_redirect.h), else the Windows folder's.
std::wstring SettingsFilePath();
// The path the platform resolved for an open file (a redirected write shows
// where it really went); `asOpened` when the platform cannot say.
std::wstring PathOfOpenFile(HANDLE file, const std::wstring& asOpened);

// How a report says that the plug-in wrote the person's own file in a way
// the host's binding could not catch; the validator looks for it.
extern const char kUnredirectedRoad[];
// The line a check prints, flushed at once, when its process opened the
// person's own settings file for a change: "<prefix> <path> for <what> by
// <road>". The validator blames the check for a change of that file only
// when the check's output holds it.
extern const char kRealFileOpened[];

struct FileState {
  bool exists;
  std::string bytes;
  FILETIME written;
};
FileState ReadFileState(const std::wstring& path);
// The same bytes and the same last-write time.
bool SameFile(const FileState& a, const FileState& b);
// How `now` differs from `before`, for a report: "its bytes changed", ...
std::string FileChange(const FileState& before, const FileState& now);

// Replaces the file with `bytes`; false when that fails. The platform's
// cached copy is dropped before and after.
bool WriteSettingsBytes(const std::string& bytes);
// Writes the settings file with a last-write time long past, so that any
// later write shows in the time as well as in the bytes.
bool PlantSettingsFile(const std::string& bytes, ProblemList* problemList);
// The same at `path`: a copy of the plug-in bound to a file of its own.
bool PlantSettingsFileAt(const std::wstring& path, const std::string& bytes,
                         ProblemList* problemList);
// As a first start finds it: no settings file.
void RemoveSettingsFile();
// The value of `key` in the plug-in's section as the file says it, or
// false when the key is not there.
bool FileSetting(const std::string& bytes, const char* key, std::string* value);
// "enabled=1 bitRate=64 quality=0 preprocessing=1", from the file.
std::string DescribeFileSettings(const std::string& bytes);
