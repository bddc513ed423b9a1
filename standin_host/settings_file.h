// The settings file VELCNFG.INI as the host sees it from outside: where it
// lives, its bytes and last-write time, planting and removing it, reading a
// key the way a person reads the file, and keeping the user's own file aside
// while the host works on it.
#pragma once

#include <windows.h>

#include <string>

#include "standin_host/ledger.h"

// The platform caches a parsed profile file per process and rereads it only
// when its last-write time changes; all three names null drops that copy.
void ForgetCachedProfile();

// The five keys the plug-in keeps, in the order it writes them, and the
// four the dialog shows (by DialogField).
extern const char* const kSettingKeys[5];

// VELCNFG.INI in the Windows folder, where the plug-in's bare file name leads.
std::wstring SettingsFilePath();
// Where the platform really keeps that file for this process: the Windows
// folder, or this user's VirtualStore copy when the process's writes there are
// virtualised. SettingsFilePath() when the file does not exist.
std::wstring ResolvedSettingsFilePath();
// The path the platform resolved for an open file (a redirected write shows
// where it really went); `asOpened` when the platform cannot say.
std::wstring PathOfOpenFile(HANDLE file, const std::wstring& asOpened);

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

// While a validator runs, every file a check plants (and every removal) is
// first noted in the file this environment variable names, so that a later
// run can tell a check's file from one the user wrote since an interruption.
extern const wchar_t kPlantRecordVariable[];
// The record's line for a file of `bytes`, planted with the last-write time
// `writtenAt` (null: written now, so any time).
std::string PlantRecordLine(const std::string& bytes, const FILETIME* writtenAt);
extern const char kRemovalRecordLine[];
// Appends `line` to that record, flushed; nothing when no validator runs.
void NoteInPlantRecord(const std::string& line);

// Replaces the file with `bytes`; false when that fails. The platform's
// cached copy is dropped before and after.
bool WriteSettingsBytes(const std::string& bytes);
// Writes the settings file with a last-write time long past, so that any
// later write shows in the time as well as in the bytes.
bool PlantSettingsFile(const std::string& bytes, Ledger* ledger);
// As a first start finds it: no settings file.
void RemoveSettingsFile();
// Puts the file at `path` back as `state` says, with its last-write time and
// `attributes` (none when it did not exist), flushed to the disk; false when
// that fails.
bool RestoreSettingsFile(const std::wstring& path, const FileState& state, DWORD attributes);
// The value of `key` in the plug-in's section as the file says it, or
// false when the key is not there.
bool FileSetting(const std::string& bytes, const char* key, std::string* value);
// "enabled=1 bitRate=64 quality=0 preprocessing=1", from the file.
std::string DescribeFileSettings(const std::string& bytes);

// Keeps the user's own settings file aside for the life of a check and puts
// it back afterwards, attributes and time included.
class SettingsFileKeeper {
 public:
  SettingsFileKeeper();
  ~SettingsFileKeeper();

 private:
  FileState saved_;
  DWORD attributes_;
};
